#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 60);
# QELDA_FUZZ_JOBS=N runs N targets side by side.
# Seeds: our examples/, the regression inputs in tests/fuzz/regressions/, and
# the real samples in ../shared/samples (read in place, never copied).
# New corpus entries go to fuzz-out/<target>/ (not tracked); crashes to
# fuzz-out/crashes/. Exit status 1 when any target finds a crash.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
"$here/scripts/deps.sh"

build="$here/build-fuzz"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQELDA_FUZZ=ON -DQELDA_BUILD_UI=OFF -DQELDA_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

samples="$here/../shared/samples"
declare -A sample_dir=([xy]=xy [gsas]=gsas [stoe-raw]=stoe_raw [uxd]=uxd [ard]="" [dbw]=dbws_like
  [stoe-ascii]="" [udf]=udf [cif]=pdcif [bruker-raw]=bruker_raw [xrdml]=xrdml [brml]=brml
  [ras]=ras [rasx]=rasx [detect]=.)
declare -A example_ext=([xy]=dat [gsas]=gsa [stoe-raw]=raw [uxd]=uxd [ard]=ard [dbw]=dbw
  [stoe-ascii]=asc [udf]=udf [cif]=cif [bruker-raw]=bruker-raw [xrdml]=xrdml [brml]=brml
  [ras]=ras [rasx]=rasx [detect]="")

# Scratch output files go to memory when the machine has it.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
out="$here/fuzz-out"
mkdir -p "$out/crashes"
jobs="${QELDA_FUZZ_JOBS:-1}"   # targets run side by side

run_target() {
  local name="$1" corpus="$out/$1" log="$out/$1.log"
  local seeds=("$corpus")
  mkdir -p "$corpus"
  # Our own example files of this format become seeds by copying into the
  # untracked corpus; shared samples and regressions are read in place.
  for f in "$here"/examples/*."${example_ext[$name]}"; do
    [ -f "$f" ] && cp -n "$f" "$corpus/" 2>/dev/null || true
  done
  [ -d "$here/tests/fuzz/regressions/$name" ] && seeds+=("$here/tests/fuzz/regressions/$name")
  local d="${sample_dir[$name]}"
  [ -n "$d" ] && [ -d "$samples/$d" ] && seeds+=("$samples/$d")
  if "$build/fuzz-$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=131072 -artifact_prefix="$out/crashes/$name-" -print_final_stats=1 \
      "${seeds[@]}" >"$log" 2>&1; then
    local execs cov
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
    echo "fuzz-$name: ${seconds}s, $execs executions, coverage $cov, no crash"
  else
    echo "fuzz-$name: CRASH (see $log and $out/crashes/)"
    tail -40 "$log"
    return 1
  fi
}

status=0
running=0
for name in xy gsas stoe-raw uxd ard dbw stoe-ascii udf cif bruker-raw xrdml brml ras rasx detect; do
  if ((running >= jobs)); then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || status=1
  running=$((running - 1))
done
rm -rf "${TMPDIR:-/tmp}"/qelda-fuzz-* 2>/dev/null || true
exit "$status"
