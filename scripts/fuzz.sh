#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 60);
# QELDA_FUZZ_JOBS=N runs N targets side by side (default: the number of cores);
# QELDA_FUZZ_TARGETS="xy cif" runs only those; QELDA_FUZZ_MAX_LEN caps the input
# length (default 16 kB; 128 kB for the XML and zip formats).
# Seeds: our examples/, the regression inputs in tests/fuzz/regressions/, small
# scans our writers and test builders make (fuzz-out/seeds/), and the real
# samples in ../shared/samples (read in place, never copied). A seed that
# cannot be made stops the script.
# The corpus grows in fuzz-out/<target>/ (not tracked) and is kept between
# runs; crashes go to fuzz-out/crashes/. Exit status 1 when any target finds a
# crash. Prints one line per target: seconds, executions, executions a second,
# coverage (edges).
#
# QELDA_FUZZ_RUNS=N measures instead: each target runs N inputs from its seeds
# into a fresh corpus, and the line gives inputs per second of CPU time (user +
# system, so that other work on the machine does not count) and the coverage.
# QELDA_FUZZ_BUILD=DIR uses targets already built there (no build);
# QELDA_FUZZ_OUT=DIR puts the corpus, logs and crashes there instead of fuzz-out/.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
"$here/scripts/deps.sh"

build="${QELDA_FUZZ_BUILD:-$here/build-fuzz}"
if [ -z "${QELDA_FUZZ_BUILD:-}" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQELDA_FUZZ=ON -DQELDA_BUILD_UI=OFF -DQELDA_BUILD_TESTS=OFF -DQELDA_STATIC_CONVERTER=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
fi

samples="$here/../shared/samples"
# fuzz-nexus is built but runs only when named in QELDA_FUZZ_TARGETS: its
# inputs go into libhdf5, whose own faults on damaged files it would report.
targets=(xy gsas stoe-raw uxd ard dbw stoe-ascii udf cif xrdml bruker-raw brml ras rasx input-unit
  detect philips-rd rigaku-dat cpi riet7 csv)
declare -A sample_dir=([xy]=xy [gsas]=gsas [stoe-raw]=stoe_raw [uxd]=uxd [ard]="" [dbw]=dbws_like
  [stoe-ascii]="" [udf]=udf [cif]=pdcif [xrdml]=xrdml [bruker-raw]=bruker_raw [brml]=brml
  [ras]=ras [rasx]=rasx [input-unit]=uxd [detect]=. [philips-rd]=philips_rd
  [rigaku-dat]=rigaku_text [cpi]="" [riet7]="" [csv]="" [nexus]=nexus)
# The input-unit target takes any text: every example is a seed.
declare -A example_ext=([xy]=dat [gsas]=gsa [stoe-raw]=raw [uxd]=uxd [ard]=ard [dbw]=dbw
  [stoe-ascii]=asc [udf]=udf [cif]=cif [xrdml]=xrdml [bruker-raw]=none [brml]=brml [ras]=ras
  [rasx]=rasx [input-unit]="*" [detect]="" [philips-rd]=rd [rigaku-dat]=none [cpi]=cpi
  [riet7]=none [csv]=csv [nexus]=nxs)

# Inputs of a few kB keep the targets fast; zip archives and XML documents need
# more to hold anything at all.
declare -A max_len=([xrdml]=131072 [brml]=131072 [rasx]=131072 [nexus]=65536)

# Scratch files go to memory when the machine has it.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
out="${QELDA_FUZZ_OUT:-$here/fuzz-out}"
mkdir -p "$out/crashes"
jobs="${QELDA_FUZZ_JOBS:-$(nproc)}"   # targets run side by side

# Small scans that read through, as seeds: our writers write the ARD example
# into every format they can (into the untracked fuzz-out/seeds/).
# A seed that cannot be made stops the script: the targets would run without it.
for w in xy gsas stoe-raw uxd dbw; do
  mkdir -p "$out/seeds/$w"
  if ! "$build/qelda-convert" -q -f ard -t "$w" "$here/examples/quartz.ard" \
      "$out/seeds/$w/quartz-small.${example_ext[$w]}" >"$out/seeds/$w.log" 2>&1; then
    echo "fuzz.sh: the $w seed cannot be made:" >&2
    cat "$out/seeds/$w.log" >&2
    exit 1
  fi
done

# The real BRML, RASX and RAS samples pass -max_len (the fuzzer would only see
# their first bytes, no zip directory); small ones built as the tests build
# them reach the readers.
if ! "$build/fuzz-seeds" "$out/seeds" >"$out/seeds/built.log" 2>&1; then
  echo "fuzz.sh: the BRML, RASX and RAS seeds cannot be made:" >&2
  cat "$out/seeds/built.log" >&2
  exit 1
fi

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
  [ -d "$out/seeds/$name" ] && seeds+=("$out/seeds/$name")
  local d="${sample_dir[$name]}"
  [ -n "$d" ] && [ -d "$samples/$d" ] && seeds+=("$samples/$d")
  if [ -n "${QELDA_FUZZ_RUNS:-}" ]; then
    measure_target "$name" "${seeds[@]:1}"
    return
  fi
  if "$build/fuzz-$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="${QELDA_FUZZ_MAX_LEN:-${max_len[$name]:-16384}}" -artifact_prefix="$out/crashes/$name-" -print_final_stats=1 \
      "${seeds[@]}" >"$log" 2>&1; then
    local execs cov rate
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    rate=$(awk -v e="$execs" -v s="$seconds" 'BEGIN { if (e ~ /^[0-9]+$/) printf "%d", e / s; else print "?" }')
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
    echo "fuzz-$name: ${seconds}s, $execs executions, $rate a second, coverage $cov, no crash"
  else
    echo "fuzz-$name: CRASH (see $log and $out/crashes/)"
    tail -40 "$log"
    return 1
  fi
}

# measure_target NAME SEED_DIR...: inputs per CPU second and coverage.
measure_target() {
  local name="$1" log="$out/$1.rate.log" fresh
  shift
  fresh="$(mktemp -d)"
  for f in "$here"/examples/*."${example_ext[$name]}"; do
    [ -f "$f" ] && cp "$f" "$fresh/"
  done
  /usr/bin/time -f "%U %S" -o "$out/$name.cpu" "$build/fuzz-$name" -runs="$QELDA_FUZZ_RUNS" \
    -max_len="${QELDA_FUZZ_MAX_LEN:-${max_len[$name]:-16384}}" -artifact_prefix="$out/crashes/$name-" \
    "$fresh" "$@" >"$log" 2>&1 || { echo "fuzz-$name: CRASH (see $log)"; return 1; }
  rm -rf "$fresh"
  local cpu cov
  cpu=$(awk '{ print $1 + $2 }' "$out/$name.cpu")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
  awk -v n="$QELDA_FUZZ_RUNS" -v c="$cpu" -v name="$name" -v cov="$cov" 'BEGIN {
    printf "fuzz-%s: %d inputs in %.2f s of CPU time, %d a CPU second, coverage %s\n",
      name, n, c, (c > 0 ? n / c : 0), cov }'
}

status=0
running=0
for name in ${QELDA_FUZZ_TARGETS:-${targets[@]}}; do
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
