#!/usr/bin/env bash
# Installs libqelda from a build into a scratch prefix and builds the example
# client against it twice: with find_package(qelda) and with pkg-config.
# Usage: tests/library_installed.sh BUILD_DIR SOURCE_DIR [CMAKE]
set -euo pipefail
build="$1" src="$2" cmake="${3:-cmake}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$cmake" --install "$build" --prefix "$tmp/root" --component library >/dev/null
test -f "$tmp/root/include/qelda/qelda.h"

"$cmake" -S "$src/tests/library_client" -B "$tmp/client" -DCMAKE_PREFIX_PATH="$tmp/root" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
"$cmake" --build "$tmp/client" >/dev/null
"$tmp/client/qelda_client" "$src/examples/quartz.uxd" "$tmp/quartz.gsa" gsas | tee "$tmp/out"
grep -q "uxd, 201 points" "$tmp/out"
grep -q "^BANK  *1 " "$tmp/quartz.gsa"

pc="$(find "$tmp/root" -name qelda.pc)"
export PKG_CONFIG_PATH="$(dirname "$pc")"
# shellcheck disable=SC2046
c++ -std=c++17 "$src/tests/library_client/main.cpp" -o "$tmp/pc_client" \
  $(pkg-config --cflags --libs qelda) -Wl,-rpath,"$(pkg-config --variable=libdir qelda)"
"$tmp/pc_client" "$src/examples/quartz.gsa" | tee "$tmp/out2"
grep -q "gsas, 401 points" "$tmp/out2"
echo "installed library ok"
