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

# deb-src lines for the Debian archive the machine already uses, once.
ensure_deb_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local SUDO="" f
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -q '/debian' "$f" || continue
    sed 's/^Types: *deb$/Types: deb-src/' "$f" | $SUDO tee "/etc/apt/sources.list.d/qelda-src-$(basename "$f")" >/dev/null
  done
  if [ -f /etc/apt/sources.list ] && grep -qE '^deb .*/debian' /etc/apt/sources.list; then
    grep -E '^deb .*/debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/qelda-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
}

# The unpacked Debian source of package $1 (patches applied), in $prefix/src.
debian_source() {
  local pkg="$1" dir
  dir="$(find "$prefix/src" -maxdepth 1 -type d -name "$pkg-*" | head -n1)"
  if [ -z "$dir" ]; then
    ensure_deb_src
    (cd "$prefix/src" && apt-get source -qq "$pkg" >/dev/null 2>&1 ||
       { apt-get update -qq && apt-get source -qq "$pkg" >/dev/null; })
    dir="$(find "$prefix/src" -maxdepth 1 -type d -name "$pkg-*" | head -n1)"
  fi
  echo "$dir"
}

export CCACHE_BASEDIR="${CCACHE_BASEDIR:-/work}"
cc="ccache $host-gcc-posix"
cxx="ccache $host-g++-posix"

if [ ! -f "$prefix/lib/libpugixml.a" ]; then
  src="$(debian_source pugixml)"
  $cxx -O2 -std=c++17 -c "$src/src/pugixml.cpp" -o "$prefix/src/pugixml.o"
  $host-ar rcs "$prefix/lib/libpugixml.a" "$prefix/src/pugixml.o"
  cp "$src/src/pugixml.hpp" "$src/src/pugiconfig.hpp" "$prefix/include/"
  version="$(basename "$src" | sed 's/^pugixml-//')"
  printf 'prefix=%s\nName: pugixml\nDescription: XML\nVersion: %s\nLibs: -L${prefix}/lib -lpugixml\nCflags: -I${prefix}/include\n' \
    "$prefix" "$version" >"$prefix/lib/pkgconfig/pugixml.pc"
fi

if [ ! -f "$prefix/lib/libminizip.a" ]; then
  src="$(debian_source minizip)"
  objs=()
  # The files of Debian's libminizip (its Makefile.am) that reading needs and
  # the library has: ioapi, unzip, zip.
  for f in ioapi unzip zip; do
    $cc -O2 -c "$src/$f.c" -o "$prefix/src/minizip-$f.o"
    objs+=("$prefix/src/minizip-$f.o")
  done
  $host-ar rcs "$prefix/lib/libminizip.a" "${objs[@]}"
  mkdir -p "$prefix/include/minizip"
  cp "$src"/{ioapi,unzip,zip,crypt}.h "$prefix/include/minizip/"
  version="$(basename "$src" | sed 's/^minizip-//')"
  printf 'prefix=%s\nName: minizip\nDescription: zip archives\nVersion: %s\nLibs: -L${prefix}/lib -lminizip -lz\nCflags: -I${prefix}/include/minizip\n' \
    "$prefix" "$version" >"$prefix/lib/pkgconfig/minizip.pc"
fi

# Header-only libraries from the Debian packages installed for Linux.
if [ ! -d "$prefix/include/fmt" ]; then cp -r /usr/include/fmt "$prefix/include/"; fi
if [ ! -d "$prefix/include/CLI" ]; then cp -r /usr/include/CLI "$prefix/include/"; fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQELDA_WINDOWS_DEPS="$prefix" \
  -DQELDA_BUILD_UI=OFF -DQELDA_BUILD_TESTS=OFF -DQELDA_BUILD_PYTHON=OFF -DQELDA_WITH_HDF5=OFF >/dev/null
nice -n 10 cmake --build "$build" -j"$(nproc)" --target qelda-convert
echo "$build/qelda-convert.exe"
