#!/usr/bin/env bash
# Takes a picture of each window under Xvfb into docs/, at scale 1 and at scale 2 (@2x), and of
# the station in Japanese (-ja).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target window-shots
mkdir -p docs
english=(env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=C.UTF-8)
japanese=(env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=ja_JP.UTF-8)
"${english[@]}" xvfb-run -a build/tools/window-shots docs
"${english[@]}" QT_SCALE_FACTOR=2 xvfb-run -a build/tools/window-shots docs @2x
"${japanese[@]}" xvfb-run -a build/tools/window-shots docs -ja
