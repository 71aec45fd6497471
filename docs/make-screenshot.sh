#!/usr/bin/env bash
# Draws the main window as it looks at start into docs/main-window.png, without a display.
#   docs/make-screenshot.sh            build into build-screenshot/ and draw
#   BUILD_DIR=build docs/make-screenshot.sh
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-screenshot}
OUTPUT=docs/main-window.png

source docs/fonts.sh

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target vornik-screenshot --parallel 2
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/docs/vornik-screenshot" "$OUTPUT"
echo "Wrote $OUTPUT"
