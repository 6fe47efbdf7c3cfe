#!/usr/bin/env bash
# Times whole processes (median of at least 10 runs, with peak memory) for
# qelda-convert against xyconv on the same inputs, every reader/writer pair of
# ours at 100000 points, a 1000-file batch, and the window's start-up. Run it
# after ./test.sh (it uses build/). Prints a Markdown table.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/deps.sh" hyperfine time >&2
if [ ! -x "$here/build/qelda-convert" ]; then
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$here/build" -j"$(nproc)" >/dev/null
fi
qc="$here/build/qelda-convert"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$here/bench/gen_inputs.sh" "$work"
runs="${BENCH_RUNS:-10}"

# median_ms CMD... : hyperfine median in milliseconds
median_ms() {
  hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/h.json" "$*" >/dev/null 2>&1 ||
    hyperfine --warmup 2 --runs "$runs" --export-json "$work/h.json" "$*" >/dev/null
  awk -F: '/"median"/ { gsub(/[ ,]/, "", $2); printf "%.1f", $2 * 1000; exit }' "$work/h.json"
}
# peak_kb CMD... : maximum resident set size, median of five runs
peak_kb() {
  for _ in 1 2 3 4 5; do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; done |
    sort -n | sed -n 3p
}

echo "| What | Median (ms) | Peak memory (kB) | vs xyconv |"
echo "|---|---:|---:|---:|"
for fmt in uxd udf; do
  in="$work/big.$fmt"
  ours=$(median_ms "$qc -q -t xy $in $work/ours-$fmt.dat")
  ours_kb=$(peak_kb "$qc" -q -t xy "$in" "$work/ours-$fmt.dat")
  theirs=$(median_ms "xyconv -s $in $work/theirs-$fmt.xy")
  theirs_kb=$(peak_kb xyconv -s "$in" "$work/theirs-$fmt.xy")
  ratio=$(awk -v a="$theirs" -v b="$ours" 'BEGIN { printf "%.1fx faster", a / b }')
  echo "| ${fmt^^} -> x-y, 100000 points, qelda-convert | $ours | $ours_kb | $ratio |"
  echo "| ${fmt^^} -> x-y, 100000 points, xyconv | $theirs | $theirs_kb | |"
done

# Every reader/writer pair of ours: the inputs are written by our own writers
# from the x-y scan (Stoe raw holds at most 32767 points: it gets 30000).
head -n 30000 "$work/big.xy" >"$work/mid.xy"
declare -A ext=([xy]=dat [gsas]=gsa [stoe-raw]=raw [uxd]=uxd [dbw]=dbw)
for w in xy gsas stoe-raw uxd dbw; do
  src="$work/big.xy"
  [ "$w" = stoe-raw ] && src="$work/mid.xy"
  # No title line in our own x-y input, so that it reads back point for point.
  "$qc" -q --no-title -f xy -t "$w" "$src" "$work/in.${ext[$w]}"
done
for r in xy gsas stoe-raw uxd dbw; do
  for w in xy gsas stoe-raw uxd dbw; do
    n=100000
    in="$work/in.${ext[$r]}"
    if [ "$w" = stoe-raw ] || [ "$r" = stoe-raw ]; then n=30000; in="$work/in.${ext[$r]}"; fi
    if [ "$w" = stoe-raw ] && [ "$r" != stoe-raw ]; then
      "$qc" -q --no-title -f xy -t "$r" "$work/mid.xy" "$work/mid.${ext[$r]}"
      in="$work/mid.${ext[$r]}"
    fi
    out="$work/out.${ext[$w]}"
    ms=$(median_ms "$qc -q -f $r -t $w $in $out")
    kb=$(peak_kb "$qc" -q -f "$r" -t "$w" "$in" "$out")
    echo "| $r -> $w, $n points | $ms | $kb | |"
  done
done

# A batch of 1000 small files, one process per file.
cat >"$work/batch.sh" <<EOB
for f in $work/batch/*.uxd; do "$qc" -q "\$f" "\${f%.uxd}.dat" || exit 1; done
EOB
ms=$(median_ms "bash $work/batch.sh")
echo "| 1000 UXD files of 3000 points -> x-y, one process each | $ms | | |"
cat >"$work/batch-xy.sh" <<EOB
for f in $work/batch/*.uxd; do xyconv -s "\$f" "\${f%.uxd}.xy" || exit 1; done
EOB
ms=$(median_ms "bash $work/batch-xy.sh")
echo "| same batch with xyconv | $ms | | |"

# The window: time from start to shown, offscreen.
if [ -x "$here/build/qelda" ]; then
  mkdir -p "$work/xdg" && chmod 700 "$work/xdg"
  vals=()
  for i in $(seq 1 "$runs"); do
    v=$(XDG_RUNTIME_DIR="$work/xdg" QT_QPA_PLATFORM=offscreen QELDA_STARTUP_PROBE=1 \
      "$here/build/qelda" 2>/dev/null | tail -1)
    vals+=("$v")
  done
  med=$(printf '%s\n' "${vals[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  echo "| window shown after start-up, offscreen (median of $runs) | $med | | |"
fi
