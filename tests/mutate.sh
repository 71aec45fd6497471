#!/usr/bin/env bash
# The mutation check, run by hand (./vornik mutate [PATTERN]): every fault in tests/mutations.txt is
# put into the source, the tests named for it are built and run, and the source is put back. A fault the
# tests let pass is a hole in them. Builds into build-mutate/; prints the count caught and every survivor.
set -euo pipefail
cd "$(dirname "$0")/.."
LIST=tests/mutations.txt
DIR=build-mutate
PATTERN=${1:-}
LOG=$DIR/mutate.log

cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$DIR" --parallel "$(nproc)" >/dev/null

# Splits the list into one file a fault, its paragraphs being the faults: line 1 the name, then "@file",
# "@from", "@to" and "@test" sections. In perl, which every Debian system has.
blocks=$(mktemp -d)
trap 'rm -rf "$blocks"' EXIT
BLOCKS=$blocks perl -00 -ne '
    next unless /^file /m;
    my ($name) = /^# (.+)$/m;
    open(my $out, ">", sprintf("%s/%03d", $ENV{BLOCKS}, ++$n)) or die;
    print $out "$name\n";
    for my $line (split /^/) {
        next if $line =~ /^# /;
        $line =~ s/^(file|from|to|test) /\@$1 /;
        print $out $line;
    }' "$LIST"

apply() { # file from to -> replaces the one occurrence; exits 3 when there is not exactly one
    FROM=$2 TO=$3 perl -0777 -i -e '
        my $text = <>; my $from = $ENV{FROM}; my $count = () = $text =~ /\Q$from\E/g;
        if ($count != 1) { print $text; exit 3; }
        $text =~ s/\Q$from\E/$ENV{TO}/; print $text;' "$1"
}

caught=0 total=0 survivors=() stale=()
: >"$LOG"
for block in "$blocks"/*; do
    name=$(head -n 1 "$block")
    # PATTERN picks faults by name or by the test program that must catch them.
    [[ -z $PATTERN || $(cat "$block") == *$PATTERN* ]] || continue
    file=$(perl -ne 'print $1 if /^\@file (\S+)/' "$block")
    from=$(perl -0777 -ne 'print $1 if /^\@from (.*?)\n\@to /ms' "$block")
    to=$(perl -0777 -ne 'print $1 if /^\@to (.*?)\n\@test /ms' "$block")
    mapfile -t tests < <(perl -ne 'print "$1\n" if /^\@test (.+)$/' "$block")
    total=$((total + 1))
    cp "$file" "$DIR/original"
    if ! apply "$file" "$from" "$to"; then
        cp "$DIR/original" "$file"
        stale+=("$name")
        echo "STALE    $name (its text is not in $file once)"
        continue
    fi
    result=survived
    programs=()
    for t in "${tests[@]}"; do programs+=("${t%% *}"); done
    if ! cmake --build "$DIR" --parallel "$(nproc)" --target "${programs[@]}" >>"$LOG" 2>&1; then
        result="caught (does not build)"
    else
        for t in "${tests[@]}"; do
            read -r -a args <<<"$t"
            if ! (cd "$DIR" && QT_QPA_PLATFORM=offscreen timeout 900 "tests/${args[0]}" "${args[@]:1}") \
                >>"$LOG" 2>&1; then
                result=caught
                break
            fi
        done
    fi
    cp "$DIR/original" "$file"
    if [[ $result == survived ]]; then
        survivors+=("$name")
    else
        caught=$((caught + 1))
    fi
    printf '%-8s %s\n' "${result%% *}" "$name"
done
cmake --build "$DIR" --parallel "$(nproc)" >/dev/null

echo
echo "$caught of $total faults caught"
for name in "${survivors[@]}"; do echo "  survived: $name"; done
for name in "${stale[@]}"; do echo "  stale: $name"; done
[ ${#survivors[@]} -eq 0 ] && [ ${#stale[@]} -eq 0 ]
