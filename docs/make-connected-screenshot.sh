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

source docs/fonts.sh

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target vornik-connected-screenshot --parallel 2
for shot in "${SHOTS[@]}"; do
    QT_QPA_PLATFORM=offscreen "$BUILD_DIR/docs/vornik-connected-screenshot" "${shot%%:*}" "${shot#*:}"
    echo "Wrote ${shot#*:}"
done
