#!/usr/bin/env bash
# A batch of N UXD files of 3000 points converted to x-y into one folder:
# qelda-convert with -j 1 and -j 2 against `xyconv -m` on the same files, for
# each N given (default 1000 10000). Prints a Markdown table: wall time, time
# per file and peak memory (GNU time). Files are handed over 10000 at a time
# (the argument list of one process has room for about that many paths), one
# process per slice, as a script would.
#
#   bench/batch_scale.sh [N...]      e.g. bench/batch_scale.sh 1000 10000 100000
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
qc="${QC:-$here/build/qelda-convert}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000)

"$here/bench/gen_inputs.sh" "$work/gen" >/dev/null
seed=("$work"/gen/batch/*.uxd)

# run WHAT OUTDIR COMMAND...: the command over every slice of the inputs;
# prints "seconds peak_kB".
run() {
  local out="$1"
  shift
  rm -rf "$out" && mkdir -p "$out"
  local start end peak=0
  start=$(date +%s.%N)
  while IFS= read -r slice; do
    local kb
    # shellcheck disable=SC2046
    /usr/bin/time -f '%M' -o "$work/peak" "$@" "$out" $(cat "$slice") >/dev/null 2>&1 || true
    kb=$(tail -1 "$work/peak")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done < <(ls "$work"/slices/*)
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc -l) $peak"
}

echo "| Files | What | Wall (s) | Per file (ms) | Peak memory (MB) | Against xyconv -m |"
echo "|---:|---|---:|---:|---:|---:|"
for n in "${sizes[@]}"; do
  rm -rf "$work/in" "$work/slices" && mkdir -p "$work/in" "$work/slices"
  for i in $(seq 1 "$n"); do
    cp "${seed[$(( (i - 1) % ${#seed[@]} ))]}" "$work/in/s$i.uxd"
  done
  find "$work/in" -name '*.uxd' | sort | split -l 10000 - "$work/slices/part"
  read -r tx mx < <(run "$work/ox" xyconv -t uxd -m)
  for lanes in 1 2; do
    read -r tq mq < <(run "$work/oq$lanes" "$qc" -q -t xy -j "$lanes" -o)
    printf '| %d | qelda-convert -j %d | %.2f | %.3f | %.1f | %.1f times faster |\n' "$n" "$lanes" \
      "$tq" "$(echo "1000 * $tq / $n" | bc -l)" "$(echo "$mq / 1024" | bc -l)" \
      "$(echo "$tx / $tq" | bc -l)"
  done
  printf '| %d | xyconv -m | %.2f | %.3f | %.1f | |\n' "$n" "$tx" "$(echo "1000 * $tx / $n" | bc -l)" \
    "$(echo "$mx / 1024" | bc -l)"
done
