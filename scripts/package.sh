#!/usr/bin/env bash
# Builds the Debian package in its own build folder (Release, no tests, the
# converter linked to the system's shared libraries) and leaves it as
# build/qelda_VERSION_amd64.deb.
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh dpkg-dev file >&2
build="${1:-build-package}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQELDA_BUILD_TESTS=OFF -DQELDA_STATIC_CONVERTER=OFF \
  -DQELDA_INSTALL_LIBRARY=OFF -DQELDA_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target qelda qelda-convert qelda_compressed_docs >/dev/null
rm -f "$build"/qelda_*_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p build
cp "$build"/qelda_*_*.deb build/
ls build/qelda_*_*.deb
