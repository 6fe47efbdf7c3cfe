#!/usr/bin/env bash
# Builds the Windows download: a zip with qelda-convert.exe, its README (the
# Windows notes, CR LF line ends) and the licence when the repository has one.
# Usage: scripts/package-windows.sh [BUILD_DIR]   (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath -m "${1:-build-windows}")"
scripts/build-windows.sh "$build" >/dev/null
version="$(sed -n 's/^project(qelda VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="qelda-convert-$version-windows-x86_64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
cp "$build/qelda-convert.exe" "$stage/"
sed 's/$/\r/' docs/WINDOWS.md >"$stage/README.txt"
for f in LICENSE LICENSE.md LICENSE.txt COPYING; do
  if [ -f "$f" ]; then
    sed 's/$/\r/' "$f" >"$stage/LICENSE.txt"
    break
  fi
done
# Fixed times and order: the same sources give the same zip.
find "$stage" -exec touch -d @"${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}" {} +
rm -f "$build/$name.zip"
(cd "$build/package" && find "$name" -print | LC_ALL=C sort | zip -q -X -@ "$build/$name.zip")
echo "$build/$name.zip"
