#!/usr/bin/env bash
# Sets everything up and runs the simulated board; the writer's windows join it later.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
echo "The writer's windows are not built yet; starting the simulated board (Ctrl+C ends it)."
exec build/tools/board-sim --link /tmp/board
