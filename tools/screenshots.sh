#!/usr/bin/env bash
# Takes a picture of each window under Xvfb into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target window-shots
mkdir -p docs
xvfb-run -a build/tools/window-shots docs
