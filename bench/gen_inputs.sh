#!/usr/bin/env bash
# Writes the benchmark inputs into DIR, reproducibly (no randomness): a
# 100000-point x-y, UXD and UDF scan, and 1000 small UXD scans of 3000 points.
set -euo pipefail
dir="$1"
mkdir -p "$dir/batch"

# A smooth background with a few peaks; counts are whole numbers.
scan() {  # scan N START STEP -> "angle count" lines
  awk -v n="$1" -v start="$2" -v step="$3" 'BEGIN {
    for (i = 0; i < n; i++) {
      x = start + i * step
      y = 200 + 50 * sin(x / 7)
      for (p = 10; p < 110; p += 9.7) y += 8000 * exp(-((x - p) ^ 2) / 0.02)
      printf "%.4f %d\n", x, int(y)
    }
  }'
}

scan 100000 5 0.001 >"$dir/big.xy"

to_uxd() {  # to_uxd N START STEP < scan -> UXD text
  awk -v n="$1" -v start="$2" -v step="$3" 'BEGIN {
      printf "; benchmark scan\r\n_FILEVERSION=1\r\n_SAMPLE='"'"'bench'"'"'\r\n"
      printf "_WL1=1.540600\r\n_WL2=1.544390\r\n_WLRATIO=0.500000\r\n"
      printf "_DRIVE='COUPLED'\r\n_STEPTIME=1.000000\r\n_STEPSIZE=%.6f\r\n_STEPCOUNT=%d\r\n_START=%.6f\r\n_COUNTS\r\n", step, n, start
    }
    { line = line sprintf("%8d", $2); if (++k % 8 == 0) { printf "%s\r\n", line; line = "" } }
    END { if (line != "") printf "%s\r\n", line }'
}

scan 100000 5 0.001 | to_uxd 100000 5 0.001 >"$dir/big.uxd"

scan 100000 5 0.001 | awk 'BEGIN {
    printf "SampleIdent,bench ,/\r\nTitle1,benchmark scan ,/\r\nLabdaAlpha1, 1.54060,/\r\n"
    printf "LabdaAlpha2, 1.54439,/\r\nRatioAlpha21, 0.50000,/\r\n"
    printf "DataAngleRange,   5.0000, 104.9990,/\r\nScanStepSize,    0.001,/\r\n"
    printf "ScanStepTime,    1.00,/\r\nRawScan\r\n"
  }
  { v[NR] = $2 }
  END {
    for (i = 1; i <= NR; i++) {
      sep = (i == NR) ? "/" : (i % 8 == 0 ? "" : ",")
      printf "%8d%s", v[i], sep
      if (i % 8 == 0 || i == NR) printf "\r\n"
    }
  }' >"$dir/big.udf"

scan 3000 10 0.02 | to_uxd 3000 10 0.02 >"$dir/small.uxd"
for i in $(seq -w 1 1000); do cp "$dir/small.uxd" "$dir/batch/scan$i.uxd"; done
