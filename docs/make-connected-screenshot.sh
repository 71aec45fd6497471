#!/usr/bin/env bash
# Draws the window talking to a simulated Tovak_2, without a display:
#   docs/connected-window.png      connected, with identity, settings and the logbook's rows in the debug view
#   docs/logbook-listed.png        the flight list dropped down
#   docs/download-in-progress.png  a flight part way down (the simulated instrument holds it there)
#   docs/make-connected-screenshot.sh            build into build-screenshot/ and draw all three
#   BUILD_DIR=build docs/make-connected-screenshot.sh
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-screenshot}
SHOTS=(connected:docs/connected-window.png logbook:docs/logbook-listed.png download:docs/download-in-progress.png)

sudo_if_needed() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The offscreen platform draws text only with a font that fontconfig knows; without one every
# label comes out as empty boxes.
if ! { command -v fc-list >/dev/null && [ -n "$(fc-list)" ]; } &&
    ! dpkg-query -W -f='${Status}' fonts-dejavu-core 2>/dev/null | grep -q "install ok installed"; then
    echo "Installing: fonts-dejavu-core"
    sudo_if_needed apt-get update -qq
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends fonts-dejavu-core
fi

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target vornik-connected-screenshot --parallel 2
for shot in "${SHOTS[@]}"; do
    QT_QPA_PLATFORM=offscreen "$BUILD_DIR/tests/vornik-connected-screenshot" "${shot%%:*}" "${shot#*:}"
    echo "Wrote ${shot#*:}"
done
