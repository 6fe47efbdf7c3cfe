#!/usr/bin/env bash
# Builds the page qelda.html: the command-line converter compiled to
# WebAssembly with Debian's emscripten (zlib, pugixml and minizip built from
# their Debian source packages), embedded with the page's script, its chart
# library and its zip writer (npm packages) into one self-contained file.
# Usage: scripts/build-web.sh [BUILD_DIR]   (default build-web) -> BUILD_DIR/qelda.html
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="$(realpath -m "${1:-build-web}")"
prefix="$build/deps"

scripts/deps.sh
# emscripten finds its node modules (acorn) where Debian puts them, also when
# the machine's node is not Debian's own.
export NODE_PATH="${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs"

mkdir -p "$prefix/src" "$prefix/include" "$prefix/lib/pkgconfig"
# shellcheck source=cross_deps.sh
. scripts/cross_deps.sh
cc="emcc"
cxx="em++"
ar="emar"
build_zlib
build_pugixml
build_minizip
copy_header_libraries

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/emscripten.cmake" -DQELDA_CROSS_DEPS="$prefix" \
  -DQELDA_BUILD_UI=OFF -DQELDA_BUILD_TESTS=OFF -DQELDA_BUILD_PYTHON=OFF -DQELDA_WITH_HDF5=OFF >/dev/null
nice -n 10 cmake --build "$build" -j"$(nproc)" --target qelda-convert

# The page's npm packages (the chart, the zip writer, and Playwright for the tests).
(cd web && { [ -d node_modules ] || npm ci --no-audit --no-fund --silent; })
node web/bundle.mjs "$build/qelda-convert.js" "$build/qelda.html"
echo "$build/qelda.html"
