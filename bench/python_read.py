#!/usr/bin/env python3
"""qelda.read of a 100000-point UXD against numpy.loadtxt of the same data
as x-y text, in one process (the module imported, the files in the page
cache). Prints the medians in milliseconds and their ratio.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_read.py [RUNS]
"""
import statistics
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import qelda

POINTS = 100000


def write_inputs(folder: Path):
    rng = np.random.default_rng(1)
    counts = rng.integers(100, 20000, POINTS)
    start, step = 5.0, 0.001
    uxd = folder / "big.uxd"
    lines = ["_FILEVERSION=1", "_SAMPLE='bench'", "_WL1= 1.54060", "_WL2= 1.54439",
             "_WLRATIO= 0.50000", "_DRIVE='COUPLED'", "_STEPTIME=  1.000",
             f"_STEPSIZE= {step}", f"_START= {start}", f"_STEPCOUNT= {POINTS}", "_COUNTS"]
    for i in range(0, POINTS, 8):
        lines.append("".join(f"{c:8d}." for c in counts[i:i + 8]))
    uxd.write_text("\n".join(lines) + "\n")
    xy = folder / "big.xy"
    angles = start + step * np.arange(POINTS)
    xy.write_text("".join(f"{a:.3f} {c}\n" for a, c in zip(angles, counts)))
    return uxd, xy, counts


def median_ms(call, runs):
    """Medians of wall time and of processor time (the machine may be shared)."""
    wall, cpu = [], []
    for _ in range(runs):
        t, c = time.perf_counter(), time.process_time()
        call()
        wall.append((time.perf_counter() - t) * 1000)
        cpu.append((time.process_time() - c) * 1000)
    return statistics.median(wall), statistics.median(cpu)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    with tempfile.TemporaryDirectory() as d:
        uxd, xy, counts = write_inputs(Path(d))
        p = qelda.read(uxd)
        assert len(p.intensity) == POINTS and np.array_equal(p.intensity, counts)
        q = median_ms(lambda: qelda.read(uxd), runs)
        n = median_ms(lambda: np.loadtxt(xy), runs)
    print(f"medians of {runs} runs   wall ms   cpu ms")
    print(f"qelda.read  (UXD)    {q[0]:8.2f} {q[1]:8.2f}")
    print(f"np.loadtxt  (x-y)    {n[0]:8.2f} {n[1]:8.2f}")
    print(f"ratio                {n[0] / q[0]:8.1f} {n[1] / q[1]:8.1f}")


if __name__ == "__main__":
    main()
