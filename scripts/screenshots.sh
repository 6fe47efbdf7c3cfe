#!/usr/bin/env bash
# Renders every dialog of the window, 101 to 108, to DIR/dialog1NN.png (the
# failure dialog with a reason), the dataset dialog at a scale factor of 2 on a
# 1600x1000 screen to DIR/dialog102_scale2.png, and the batch dialog with its
# table after a batch of three files to DIR/batch.png, and the web page with
# three scans dropped on it to DIR/web-page.png, without a display
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
# The dataset dialog at a scale factor of 2 on a 1600x1000 screen.
config="$(mktemp)"
trap 'rm -f "$config"' EXIT
cat >"$config" <<'JSON'
{"screens": [{"name": "big", "x": 0, "y": 0, "width": 1600, "height": 1000,
              "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]}
JSON
QT_SCALE_FACTOR=2 QT_QPA_PLATFORM="offscreen:configfile=$config" \
  "$here/build/qelda-screenshots" --dataset "$1/dialog102_scale2.png"
# The web page with three scans dropped on it and their plots.
"$here/scripts/build-web.sh" "$here/build-web" >/dev/null
node "$here/tests/web/page_test.mjs" "$here/build-web/qelda.html" "$here/build/qelda-convert" "$1/web-page.png" >/dev/null
