#!/usr/bin/env bash
# Times whole processes with hyperfine: qelda-convert against xyconv (Debian
# libxy-bin) and against a C floor program (bench/floor.c: reads the input,
# writes the same bytes through a temporary file and a rename), with the
# output new (removed before every run) or replaced (left from the run before);
# every reader/writer pair of ours; the scaling with the number of points; peak
# memory (GNU time) against xyconv; a batch of 1000 files; the window's
# start-up. Prints Markdown tables: medians with min-max, in milliseconds.
#
#   bench/run.sh                  uses build/ (Release); builds it if missing
#   BENCH_RUNS=40 bench/run.sh    runs per median (default 20)
#   BENCH_CALLGRIND=1 bench/run.sh  adds instruction counts (valgrind)
#   BENCH_ONLY=main bench/run.sh  only the first table (main, pairs, scaling,
#                                 memory, batch, window)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/deps.sh" hyperfine time valgrind >&2
if [ ! -x "$here/build/qelda-convert" ]; then
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$here/build" -j"$(nproc)" --target qelda-convert >/dev/null
fi
qc="$here/build/qelda-convert"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$here/bench/gen_inputs.sh" "$work"
cc -O2 -o "$work/floor" "$here/bench/floor.c"
runs="${BENCH_RUNS:-20}"
only="${BENCH_ONLY:-all}"
want() { [ "$only" = all ] || [ "$only" = "$1" ]; }

# time_rows LABEL CMD [LABEL CMD...]: one hyperfine run over all commands (a
# command may be "prepare:::command"), one table row each: median (min-max).
time_rows() {
  local args=() labels=()
  while (($#)); do
    labels+=("$1")
    local cmd="$2"
    if [[ "$cmd" == *":::"* ]]; then
      args+=(--prepare "${cmd%%:::*}" "${cmd#*:::}")
    else
      args+=(--prepare true "$cmd")
    fi
    shift 2
  done
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/h.json" "${args[@]}" >/dev/null 2>&1
  python3 - "$work/h.json" "${labels[@]}" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
for label, r in zip(sys.argv[2:], results):
    t = sorted(r["times"])
    print(f"| {label} | {r['median'] * 1000:.2f} | {t[0] * 1000:.2f}-{t[-1] * 1000:.2f} |")
EOF
}

# peak_kb CMD...: maximum resident set size, median of five runs
peak_kb() {
  for _ in 1 2 3 4 5; do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; done |
    sort -n | sed -n 3p
}

# instructions CMD...: instructions executed by the whole process (callgrind)
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    awk '/refs:/ { gsub(/,/, "", $4); printf "%.1f M", $4 / 1e6 }'
}

big="$work/big.uxd"
"$qc" -q -t xy "$big" "$work/expected.dat"

if want main; then
  echo "### UXD -> x-y, 100000 points"
  echo
  echo "| What | Median (ms) | Min-max (ms) |"
  echo "|---|---:|---:|"
  time_rows \
    "qelda-convert, new output" "rm -f $work/o1.dat:::$qc -q -t xy $big $work/o1.dat" \
    "C floor, new output" "rm -f $work/o2.dat:::$work/floor $big $work/expected.dat $work/o2.dat" \
    "xyconv, new output" "rm -f $work/o3.xy:::xyconv -s $big $work/o3.xy" \
    "qelda-convert, replacing the output" "$qc -q -t xy $big $work/o1.dat" \
    "C floor, replacing the output" "$work/floor $big $work/expected.dat $work/o2.dat" \
    "xyconv, replacing the output" "xyconv -s $big $work/o3.xy" \
    "qelda-convert --version (start-up alone)" "$qc --version"
  echo
fi

if want pairs; then
  echo "### Every reader/writer pair of ours, new output"
  echo
  echo "| Reader -> writer | Median (ms) | Min-max (ms) |"
  echo "|---|---:|---:|"
  # The inputs are written by our own writers from the x-y scan (Stoe raw holds
  # at most 32767 points: 30000 there).
  head -n 30000 "$work/big.xy" >"$work/mid.xy"
  declare -A ext=([xy]=dat [gsas]=gsa [stoe-raw]=raw [uxd]=uxd [dbw]=dbw)
  for f in xy gsas stoe-raw uxd dbw; do
    src="$work/big.xy"
    [ "$f" = stoe-raw ] && src="$work/mid.xy"
    "$qc" -q --no-title -f xy -t "$f" "$src" "$work/in.${ext[$f]}"
    "$qc" -q --no-title -f xy -t "$f" "$work/mid.xy" "$work/mid.${ext[$f]}"
  done
  rows=()
  for r in xy gsas stoe-raw uxd dbw; do
    for w in xy gsas stoe-raw uxd dbw; do
      n=100000 in="$work/in.${ext[$r]}"
      if [ "$w" = stoe-raw ] || [ "$r" = stoe-raw ]; then n=30000 in="$work/mid.${ext[$r]}"; fi
      out="$work/pair.${ext[$w]}"
      rows+=("$r -> $w, $n points" "rm -f $out:::$qc -q -f $r -t $w $in $out")
    done
  done
  time_rows "${rows[@]}"
  echo
fi

if want scaling; then
  echo "### Scaling: UXD -> x-y, new output"
  echo
  echo "| Points | qelda-convert (ms) | C floor (ms) | xyconv (ms) |"
  echo "|---:|---:|---:|---:|"
  for n in 1000 3000 10000 30000 100000; do
    awk -v n="$n" 'NR <= 12 || NR > 12 && (NR - 12) * 8 <= n' "$big" |
      sed "s/^_STEPCOUNT=.*/_STEPCOUNT=$n\r/" >"$work/s$n.uxd"
    "$qc" -q -t xy "$work/s$n.uxd" "$work/s$n.expected"
    time_rows \
      a "rm -f $work/s.dat:::$qc -q -t xy $work/s$n.uxd $work/s.dat" \
      b "rm -f $work/s.flr:::$work/floor $work/s$n.uxd $work/s$n.expected $work/s.flr" \
      c "rm -f $work/s.xy:::xyconv -s $work/s$n.uxd $work/s.xy" |
      awk -F'|' -v n="$n" '{ m[NR] = $3 } END { printf "| %d |%s|%s|%s|\n", n, m[1], m[2], m[3] }'
  done
  echo
fi

if want memory; then
  echo "### Peak memory, 100000 points (kB, median of 5)"
  echo
  echo "| Conversion | qelda-convert | xyconv |"
  echo "|---|---:|---:|"
  for f in uxd udf; do
    ours=$(peak_kb "$qc" -q -t xy "$work/big.$f" "$work/m.dat")
    theirs=$(peak_kb xyconv -s "$work/big.$f" "$work/m.xy")
    echo "| ${f^^} -> x-y | $ours | $theirs |"
  done
  echo
fi

if [ -n "${BENCH_CALLGRIND:-}" ] && want main; then
  echo "### Instructions (callgrind), UXD -> x-y, 100000 points"
  echo
  echo "| Program | Instructions |"
  echo "|---|---:|"
  echo "| qelda-convert | $(instructions "$qc" -q -t xy "$big" "$work/c.dat") |"
  echo "| qelda-convert --version | $(instructions "$qc" --version) |"
  echo "| C floor | $(instructions "$work/floor" "$big" "$work/expected.dat" "$work/c.flr") |"
  echo "| xyconv | $(instructions xyconv -s "$big" "$work/c.xy") |"
  echo
fi

if want batch; then
  echo "### 1000 UXD files of 3000 points -> x-y"
  echo
  echo "| What | Median (ms) | Min-max (ms) |"
  echo "|---|---:|---:|"
  files=("$work"/batch/*.uxd)
  mkdir -p "$work/bo" "$work/bx"
  if "$qc" -q -t xy -o "$work/bo" "${files[0]}" "${files[1]}" >/dev/null 2>&1; then
    saved="$runs" runs=5
    time_rows \
      "qelda-convert, one process" "rm -rf $work/bo/*:::$qc -q -t xy -o $work/bo ${files[*]}" \
      "xyconv -m, one process" "rm -rf $work/bx/*:::xyconv -t uxd -m $work/bx ${files[*]}"
    runs="$saved"
  else
    echo "| qelda-convert has no batch form (-o DIR FILES...) in this build | | |"
  fi
  echo
fi

if want window && [ -x "$here/build/qelda" ]; then
  mkdir -p "$work/xdg" && chmod 700 "$work/xdg"
  vals=()
  for _ in $(seq 1 "$runs"); do
    v=$(XDG_RUNTIME_DIR="$work/xdg" QT_QPA_PLATFORM=offscreen QELDA_STARTUP_PROBE="$(date +%s%N)" \
      "$here/build/qelda" 2>/dev/null | tail -1)
    vals+=("$v")
  done
  med=$(printf '%s\n' "${vals[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  echo "Window shown after start-up, offscreen: median $med ms of $runs runs."
fi
