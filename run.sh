#!/usr/bin/env bash
# Builds QELDA (Release) and runs it: the window without arguments, the
# command-line converter with arguments (./run.sh scan.uxd scan.dat).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/deps.sh" >&2
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release -DQELDA_BUILD_TESTS=OFF >/dev/null
cmake --build "$here/build" -j"$(nproc)" >/dev/null
if [ "$#" -gt 0 ]; then
  exec "$here/build/qelda-convert" "$@"
elif [ -x "$here/build/qelda" ]; then
  exec "$here/build/qelda"
else
  exec "$here/build/qelda-convert" --help
fi
