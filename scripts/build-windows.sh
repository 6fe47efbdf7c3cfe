#!/usr/bin/env bash
# Cross-builds qelda-convert.exe for 64-bit Windows with Debian's mingw-w64:
# one statically linked program, no DLLs beside it. pugixml and minizip have no
# mingw build in Debian, so they are built here from their Debian source
# packages (apt-get source, never a download from elsewhere); zlib comes from
# libz-mingw-w64-dev, fmt (header-only) and CLI11 from their Debian headers.
# Usage: scripts/build-windows.sh [BUILD_DIR]   (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="$(realpath -m "${1:-build-windows}")"
prefix="$build/deps"
host=x86_64-w64-mingw32

scripts/deps.sh

mkdir -p "$prefix/src" "$prefix/include" "$prefix/lib/pkgconfig"

# shellcheck source=cross_deps.sh
. scripts/cross_deps.sh
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-/work}"
cc="ccache $host-gcc-posix"
cxx="ccache $host-g++-posix"
ar="$host-ar"
build_pugixml
build_minizip
copy_header_libraries

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQELDA_CROSS_DEPS="$prefix" \
  -DQELDA_BUILD_UI=OFF -DQELDA_BUILD_TESTS=OFF -DQELDA_BUILD_PYTHON=OFF -DQELDA_WITH_HDF5=OFF >/dev/null
nice -n 10 cmake --build "$build" -j"$(nproc)" --target qelda-convert
echo "$build/qelda-convert.exe"
