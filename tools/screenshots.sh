#!/usr/bin/env bash
# Takes a picture of each window under Xvfb into docs/, at scale 1 and at scale 2 (@2x).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target window-shots
mkdir -p docs
xvfb-run -a build/tools/window-shots docs
QT_SCALE_FACTOR=2 xvfb-run -a build/tools/window-shots docs @2x
