#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (into build-fuzz/) and runs each for SECONDS (60 unless given),
# or replays only its seed corpus and the saved inputs of earlier findings; exits non-zero on any finding.
# Each target reads corpus/<name>/, <name>.dict and regressions/<name>/ in fuzz/. ./vornik fuzz installs
# clang and the fuzzer's libraries first.
#   fuzz/run.sh [SECONDS|replay]
set -euo pipefail
cd "$(dirname "$0")/.."

budget="${1:-60}" dir=build-fuzz failed=0
if [ "$budget" != replay ] && ! [[ $budget =~ ^[0-9]+$ ]]; then
    echo "usage: $0 [SECONDS|replay]" >&2
    exit 2
fi
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNIK_FUZZ=ON >/dev/null
cmake --build "$dir" --target vornik_fuzz_targets --parallel "$(nproc)"
shopt -s nullglob
while read -r name; do
    target="$dir/fuzz/fuzz_$name" log="$dir/fuzz-$name.log" status=0
    seeds="fuzz/corpus/$name" regressions="fuzz/regressions/$name"
    # The parsers' own messages on standard error are noise to the fuzzer: -close_fd_mask=2.
    options=(-close_fd_mask=2 -timeout=30 -print_final_stats=1)
    [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")
    if [ "$budget" = replay ]; then
        inputs=("$seeds"/* "$regressions"/*)
        echo "fuzz_$name: replaying ${#inputs[@]} inputs"
        # Given only files, libFuzzer runs each once and stops; -runs=0 keeps it from fuzzing if none.
        "$target" "${options[@]}" -runs=0 "${inputs[@]}" >"$log" 2>&1 || status=$?
    else
        echo "fuzz_$name: fuzzing for $budget s"
        corpus=("$dir/corpus/$name" "$seeds")
        [ -d "$regressions" ] && corpus+=("$regressions")
        mkdir -p "$dir/corpus/$name" "$dir/artifacts/$name"
        # Absolute: a target may work in a directory of its own while it runs an input, when a crash
        # writes the input out.
        "$target" "${options[@]}" -max_total_time="$budget" -artifact_prefix="$PWD/$dir/artifacts/$name/" \
            "${corpus[@]}" >"$log" 2>&1 || status=$?
    fi
    if [ "$status" -ne 0 ]; then
        failed=1
        tail -n 60 "$log"
        echo "fuzz_$name: FINDING (exit $status); the input is in $dir/artifacts/$name/, all output in $log" >&2
    elif [ "$budget" = replay ]; then
        echo "fuzz_$name: all inputs replayed without a finding"
    else
        echo "fuzz_$name: $(grep -o 'number_of_executed_units: [0-9]*' "$log" | cut -d' ' -f2) executions, no findings"
    fi
done <"$dir/fuzz/fuzz-targets.txt"
exit "$failed"
