#!/usr/bin/env bash
# Builds QELDA and runs every test: once in a Release build, then the Debian
# package from that build, once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzz targets briefly.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh

jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

echo "== Release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Windows: qelda-convert.exe cross-built, then run under wine"
scripts/build-windows.sh build-windows >/dev/null
tests/windows/wine_test.sh build-windows/qelda-convert.exe build/qelda-convert

echo "== Web page: qelda.html built with emscripten, then driven in headless Chromium"
scripts/build-web.sh build-web >/dev/null
node tests/web/page_test.mjs build-web/qelda.html build/qelda-convert

echo "== Debian package: build, unpack into a scratch root, run"
scripts/check_package.sh

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQELDA_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs")

if [ -x scripts/fuzz.sh ]; then
  echo "== Fuzz targets, briefly"
  scripts/fuzz.sh "${QELDA_FUZZ_SECONDS:-5}"
fi
