#!/usr/bin/env bash
# Renders every dialog of the window, 101 to 108, to DIR/dialog1NN.png and the
# batch dialog after a batch of three files to DIR/batch.png, without a display
# (QT_QPA_PLATFORM=offscreen), so that anyone can see what the user sees; prints
# how long a dataset dialog of 100000 points takes to build and draw.
# Usage: scripts/screenshots.sh DIR
set -euo pipefail
if [ "$#" -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" -j"$(nproc)" --target qelda-screenshots >/dev/null
QT_QPA_PLATFORM=offscreen "$here/build/qelda-screenshots" "$1"
