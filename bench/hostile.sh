#!/usr/bin/env bash
# Time and peak memory of qelda-convert on hostile inputs whose cost once grew
# faster than their size: many small CIF loops (each loop's end gives a line
# back), one endless line, a 1 GB file system hole, and long files of lines that
# are not data. Every stream input format reads each of them. Bounds, generous
# on purpose (a loaded machine must not break them): peak memory below 64 MB,
# and at most 1 s per 10 MB of input, plus 2 s. Prints a Markdown table; exit status 1 when a bound is broken.
# Uses build/ (Release); builds it when absent.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ ! -x "$here/build/qelda-convert" ]; then
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$here/build" -j"$(nproc)" --target qelda-convert >/dev/null
fi
qc="$here/build/qelda-convert"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# loops_cif FILE LOOPS: wavelength loops, four lines each, then a short scan.
loops_cif() {
  awk -v n="$2" 'BEGIN {
    print "data_loops"
    for (i = 0; i < n; i++)
      printf "loop_\n_diffrn_radiation_wavelength_id\n_diffrn_radiation_wavelength\n1 1.5406\n"
    print "loop_\n_pd_meas_2theta_scan\n_pd_meas_counts_total\n10.0 5\n10.1 6\n10.2 7"
  }' >"$1"
}
loops_cif "$work/loops-1mb.cif" 14000
loops_cif "$work/loops-4mb.cif" 56000
loops_cif "$work/loops-16mb.cif" 224000
head -c 900000000 /dev/zero | tr '\0' '1' >"$work/one-line.dat"
truncate -s 1000000000 "$work/hole.dat"
# 200 MB of comment lines, with LF and with CR only.
{ yes '# not a data line, but a line all the same' || true; } | head -c 200000000 >"$work/comments-lf.dat"
tr '\n' '\r' <"$work/comments-lf.dat" >"$work/comments-cr.dat"

status=0
echo "| Input | Size (MB) | Read as | Seconds | Peak memory (MB) | Bound (s) |"
echo "|---|---:|---|---:|---:|---:|"
run() {
  local file="$1" from="$2"
  local mb=$(($(stat -c %s "$file") / 1000000))
  local bound=$((2 + mb / 10))
  /usr/bin/time -f "%e %M" -o "$work/t" "$qc" -q -f "$from" -t gsas "$file" "$work/out.gsa" \
    >/dev/null 2>&1 || true
  read -r secs kb < <(tail -n 1 "$work/t")
  local peak=$((kb / 1024))
  echo "| $(basename "$file") | $mb | $from | $secs | $peak | $bound |"
  if ((peak >= 64)) || awk -v s="$secs" -v b="$bound" 'BEGIN { exit !(s > b) }'; then
    echo "bound broken: $(basename "$file") as $from" >&2
    status=1
  fi
}
for f in loops-1mb.cif loops-4mb.cif loops-16mb.cif; do run "$work/$f" cif; done
for from in xy gsas stoe-raw uxd ard dbw stoe-ascii udf cif; do
  run "$work/one-line.dat" "$from"
  run "$work/hole.dat" "$from"
  run "$work/comments-lf.dat" "$from"
  run "$work/comments-cr.dat" "$from"
done
exit "$status"
