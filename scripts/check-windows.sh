#!/usr/bin/env bash
# Converts the real samples (../shared/samples) with qelda-convert.exe under
# wine to every writer and compares each output byte for byte, and each exit
# status, with the Linux converter's. Samples of formats that the .exe lists as
# unavailable are left out. Every sample by default (a few minutes; not part of
# ./test.sh); --one-per-format takes the first sample of each format, as
# ./test.sh does.
# Usage: scripts/check-windows.sh [--one-per-format] [EXE [LINUX_CONVERTER]]
set -euo pipefail
cd "$(dirname "$0")/.."
one=0
if [ "${1:-}" = "--one-per-format" ]; then
  one=1
  shift
fi
EXE="$(realpath -m "${1:-build-windows/qelda-convert.exe}")"
LINUX="$(realpath -m "${2:-build/qelda-convert}")"
samples="$(realpath -m ../shared/samples)"

if [ ! -f "$samples/MANIFEST.tsv" ]; then
  echo "check-windows: no samples in $samples; skipped"
  exit 0
fi
if [ ! -x "$LINUX" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  nice -n 10 cmake --build build -j"$(nproc)" --target qelda-convert >/dev/null
fi
[ -f "$EXE" ] || scripts/build-windows.sh "$(dirname "$EXE")" >/dev/null

WORK="$(mktemp -d)"
# shellcheck source=../tests/windows/wine_lib.sh
. tests/windows/wine_lib.sh
trap 'wine_stop; rm -rf "$WORK"' EXIT
"$WINESERVER" -p 2>/dev/null || true
exe --version >/dev/null 2>&1 || true

# The samples: path and format from the manifest, each format once with --one-per-format.
mapfile -t chosen < <(awk -F'\t' -v one="$one" 'NR > 1 && $1 != "" {
    if (one && seen[$2]++) next
    print $1 }' "$samples/MANIFEST.tsv")
# Names that differ in case only are one name on Windows: the .exe numbers
# such outputs apart where Linux keeps both names, so only the first is compared.
files=()
declare -A seen_name=()
for rel in "${chosen[@]}"; do
  [ -f "$samples/$rel" ] || continue
  base="$(basename "$rel")"
  key="${base%.*}"
  key="${key,,}"
  [ -n "${seen_name[$key]:-}" ] && continue
  seen_name[$key]=1
  files+=("$rel")
done
# Left out: what the .exe cannot read, told by the Linux converter's detection.
mapfile -t skip < <(unavailable)
if ((${#skip[@]})); then
  kept=()
  for f in "${files[@]}"; do
    fmt="$("$LINUX" --detect "$samples/$f" 2>/dev/null | sed -n 's/.*: \([^ ]*\) (.*/\1/p')"
    left=0
    for s in "${skip[@]}"; do [ "$fmt" = "$s" ] && left=1; done
    if ((left)); then echo "left out (${fmt} is unavailable on Windows): $f"; else kept+=("$f"); fi
  done
  files=("${kept[@]}")
fi
# The writers, less those the .exe cannot write either.
targets=()
for w in $(writers); do
  left=0
  for s in "${skip[@]}"; do [ "$w" = "$s" ] && left=1; done
  ((left)) || targets+=("$w")
done
echo "check-windows: ${#files[@]} samples, writers: ${targets[*]}"
for w in "${targets[@]}"; do
  compare_batch "$w" "$WORK" "$samples" "${files[@]}"
done
echo "check-windows: $passes passed, $failures failed"
((failures == 0))
