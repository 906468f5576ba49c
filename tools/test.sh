#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
# Pass -DSANITIZE=ON (and a build folder with BUILD_DIR=...) for an AddressSanitizer + UBSan run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 600
