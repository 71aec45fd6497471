#!/usr/bin/env bash
# Draws the window connected to a simulated Tovak_2, with identity and settings, into
# docs/connected-window.png, without a display.
#   docs/make-connected-screenshot.sh            build into build-screenshot/ and draw
#   BUILD_DIR=build docs/make-connected-screenshot.sh
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-screenshot}
OUTPUT=docs/connected-window.png

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
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/tests/vornik-connected-screenshot" "$OUTPUT"
echo "Wrote $OUTPUT"
