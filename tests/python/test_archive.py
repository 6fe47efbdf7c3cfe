"""python3 -m qelda.archive on a local cluster of two workers over 2000 files,
one worker killed mid-run: every input ends with exactly one complete output
or a manifest row with its reason, and a second run replaces nothing."""
import csv
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import pytest

import qelda

pytest.importorskip("dask.distributed")
psutil = pytest.importorskip("psutil")

FILES = 2000
BROKEN = 10  # of them, not scans at all


def make_tree(src: Path):
    made = []
    for i in range(FILES):
        folder = src / f"run{i % 7}"
        folder.mkdir(parents=True, exist_ok=True)
        path = folder / f"scan{i:04d}.uxd"
        if i % (FILES // BROKEN) == 3:
            path.write_bytes(b"not a scan\n")
        else:
            counts = (np.arange(50) * 7 + i) % 1000 + 10
            p = qelda.pattern(10 + 0.02 * np.arange(50), counts, title=f"scan {i}",
                              wavelengths=(1.5406, 1.5444, 0.5), count_time=1)
            path.write_bytes(qelda.write_bytes(p, "uxd"))
        made.append(path)
    return made


def read_manifest(dest: Path):
    with open(dest / "manifest.tsv", newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def workers_of(pid):
    return [c for c in psutil.Process(pid).children(recursive=True)
            if "spawn_main" in " ".join(c.cmdline())]


def test_archive_survives_a_killed_worker(tmp_path):
    src, dest = tmp_path / "src", tmp_path / "dest"
    inputs = make_tree(src)
    env = dict(os.environ)
    run = subprocess.Popen([sys.executable, "-m", "qelda.archive", str(src), str(dest),
                            "--to", "gsas", "--workers", "2"],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    killed = False
    deadline = time.monotonic() + 300
    while run.poll() is None and time.monotonic() < deadline:
        if not killed and any(dest.rglob("*.gsa")):
            workers = workers_of(run.pid)
            if workers:
                workers[0].send_signal(signal.SIGKILL)
                killed = True
        time.sleep(0.02)
    out, err = run.communicate(timeout=300)
    assert killed, "no worker was seen working"
    assert run.returncode == 1, err.decode(errors="replace")[-2000:]  # the broken ones failed

    rows = read_manifest(dest)
    assert sorted(r["input"] for r in rows) == sorted(str(p) for p in inputs)
    failed = [r for r in rows if r["status"] == "failed"]
    assert len(failed) == BROKEN and all(r["reason"] for r in failed)
    for r in rows:
        out_path = Path(r["output"])
        if r["status"] == "failed":
            assert not out_path.exists()
        else:
            p = qelda.read(out_path)  # complete: reads whole
            assert len(p.intensity) == 50
    outputs = [p for p in dest.rglob("*") if p.is_file() and p.name != "manifest.tsv"]
    assert len(outputs) == FILES - BROKEN  # no temporary or duplicate files

    before = {p: p.stat().st_mtime_ns for p in outputs}
    again = subprocess.run([sys.executable, "-m", "qelda.archive", str(src), str(dest),
                            "--to", "gsas", "--workers", "1"], env=env, capture_output=True,
                           timeout=300)
    assert again.returncode == 1
    rows = read_manifest(dest)
    assert {r["status"] for r in rows} == {"exists", "failed"}
    assert {p: p.stat().st_mtime_ns for p in outputs} == before
