#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get as a user would, and starts the installed tool headless,
# away from the source tree and with a bare environment, so that it can only run from the installed files.
# It must still be running after a few seconds. A crash, an unresolved library, a build path or RPATH in a
# program, a package without its computed Qt dependencies, a manual page that does not format cleanly or a
# software centre entry that does not validate fails. A package installed here is removed again.
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE_DIR=$PWD
SECONDS_UP=4
# The component id of the software centre entry, which names the desktop entry too.
APP_ID=example.vornik.devicetool
METAINFO=/usr/share/metainfo/$APP_ID.metainfo.xml

fail() {
    printf 'check-installed-package: %b\n' "$*" >&2
    exit 1
}

source packaging/packages.sh

# What the checks of the installed manual pages and software centre entry run; a fresh machine may lack them.
install_packages appstream man-db

./vornik package

shopt -s nullglob
debs=("$SOURCE_DIR"/build/package/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package in build/package/, found ${#debs[@]}"
DEB=${debs[0]}
PKG=$(dpkg-deb -f "$DEB" Package)

echo "== $(basename "$DEB") =="
dpkg-deb -f "$DEB" Package Version Maintainer Depends
# Without shlibdeps the package would install on a machine that lacks Qt and fail only when started.
depends=$(dpkg-deb -f "$DEB" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends does not name the Qt libraries"

files=$(dpkg-deb -c "$DEB" | awk '{print $6}' | grep -v '/$')
for f in ./usr/bin/vornik-tool ./usr/bin/vornik-sim ./usr/share/applications/$APP_ID.desktop \
    ./usr/share/icons/hicolor/scalable/apps/vornik-tool.svg ./usr/share/man/man1/vornik-tool.1.gz \
    ./usr/share/man/man1/vornik-sim.1.gz ".$METAINFO"; do
    grep -qxF "$f" <<<"$files" || fail "the package lacks $f"
done
# Libraries and test programs stay in the build tree.
stray=$(grep -vE '^\./usr/(bin|share/(applications|icons|doc|man|metainfo))/' <<<"$files" || true)
[ -z "$stray" ] || fail "files outside the program, menu, icon, manual and metainfo folders:\n$stray"

was_installed=no
status_before=$(dpkg-query -W -f='${Status}' "$PKG" 2>/dev/null || true)
[ "$status_before" = "install ok installed" ] && was_installed=yes
run_dir=$(mktemp -d)
tool_pid=
cleanup() {
    if [ -n "$tool_pid" ]; then kill -KILL "$tool_pid" 2>/dev/null || true; fi
    cd "$SOURCE_DIR"
    rm -rf "$run_dir"
    if [ "$was_installed" = no ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$PKG" >/dev/null || true
    fi
}
trap cleanup EXIT

# --reinstall: the same version may already be installed from an earlier build.
install_deb() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$DEB" >"$run_dir/apt.log" 2>&1
}
# A dependency that is not installed yet may need fresh package lists.
install_deb || { as_root apt-get update -qq && install_deb; } || fail "apt-get install failed:\n$(cat "$run_dir/apt.log")"
dpkg-query -W -f='${Package} ${Version} ${Status}\n' "$PKG"

for page in vornik-tool vornik-sim; do
    path=$(man -w "$page" 2>/dev/null) || fail "man finds no page for $page"
    [ "$path" = "/usr/share/man/man1/$page.1.gz" ] || fail "man finds $page at $path"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$path" 2>&1 >/dev/null) ||
        fail "man cannot format $path:\n$warnings"
    [ -z "$warnings" ] || fail "the manual page of $page does not format cleanly:\n$warnings"
done
appstreamcli validate --no-net "$METAINFO" || fail "$METAINFO does not validate"
# The entry lists the release that the package is.
version=$(dpkg-deb -f "$DEB" Version)
grep -qF "<release version=\"$version\"" "$METAINFO" || fail "$METAINFO lists no release $version"

for program in /usr/bin/vornik-tool /usr/bin/vornik-sim; do
    [ -x "$program" ] || fail "$program was not installed"
    dynamic=$(readelf -d "$program")
    libraries=$(ldd "$program")
    if grep -qE 'RPATH|RUNPATH' <<<"$dynamic"; then fail "$program carries an RPATH"; fi
    if grep -q 'not found' <<<"$libraries"; then fail "$program misses libraries:\n$libraries"; fi
    if grep -qF "$SOURCE_DIR" "$program"; then fail "$program holds the build path $SOURCE_DIR"; fi
done

echo "== Starting the installed vornik-tool for $SECONDS_UP s =="
cd "$run_dir"
env -i PATH=/usr/bin:/bin HOME="$run_dir" XDG_RUNTIME_DIR="$run_dir" QT_QPA_PLATFORM=offscreen \
    vornik-tool >"$run_dir/tool.log" 2>&1 &
tool_pid=$!
sleep "$SECONDS_UP"
if ! kill -0 "$tool_pid" 2>/dev/null; then
    status=0
    wait "$tool_pid" || status=$?
    tool_pid=
    fail "vornik-tool ended by itself with status $status:\n$(cat "$run_dir/tool.log")"
fi
kill -TERM "$tool_pid"
status=0
wait "$tool_pid" || status=$?
tool_pid=
# 143: ended by our SIGTERM, not by a fault of its own at the last moment.
[ "$status" -eq 143 ] || fail "vornik-tool ended with status $status:\n$(cat "$run_dir/tool.log")"
# The window logs this once it is built, which proves the widgets and the platform plugin loaded.
grep -q "Start of the app" "$run_dir/tool.log" || fail "the window did not come up:\n$(cat "$run_dir/tool.log")"
cat "$run_dir/tool.log"
echo "Installed package $PKG: installed, started and ran for $SECONDS_UP s"
