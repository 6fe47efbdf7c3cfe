#!/usr/bin/env bash
# Builds the Debian package: build/qelda_VERSION_amd64.deb (Release, no tests).
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh dpkg-dev file >&2
build="${1:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$(nproc)" --target qelda qelda-convert qelda_compressed_docs >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/qelda_*_*.deb
