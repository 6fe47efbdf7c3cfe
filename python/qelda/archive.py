"""Converts a folder tree of scans with Dask, on this machine or a cluster.

    python3 -m qelda.archive SRC DEST --to FORMAT [--scheduler ADDRESS]

Every file under SRC becomes DEST/<same relative path> with the format's
extension (the input's own extension is kept before it when two inputs would
meet in one name). An existing output is never replaced: it is complete,
because outputs appear only by an atomic link of a finished temporary file,
so a run that died is simply run again. DEST/manifest.tsv lists every input
once: input, output, status (converted, exists, failed), reason, warnings.
A task that Dask runs twice (a worker killed mid-run) finds the output there
and reports it as converted; no file is written twice.
"""
from __future__ import annotations

import argparse
import os
import sys
import tempfile
from pathlib import Path
from typing import Dict, List, Sequence, Tuple

import qelda

TEMP_PREFIX = ".qelda-archive-"
MANIFEST = "manifest.tsv"
CHUNK = 25  # files per task: fewer, larger tasks cost the scheduler less


def plan(src: Path, dest: Path, extension: str) -> List[Tuple[str, str]]:
    """(input, output) for every regular file under src, in a stable order."""
    inputs = []
    for folder, dirs, files in os.walk(src):
        dirs.sort()
        here = Path(folder)
        if here.resolve() == dest.resolve():
            continue
        for name in sorted(files):
            p = here / name
            if p.is_file() and not name.startswith(TEMP_PREFIX):
                inputs.append(p)
    wanted: Dict[Path, List[Path]] = {}
    for p in inputs:
        out = dest / p.relative_to(src).with_suffix(extension)
        wanted.setdefault(out, []).append(p)
    pairs = []
    for out, ins in wanted.items():
        for p in ins:
            o = out if len(ins) == 1 else dest / p.relative_to(src).with_name(p.name + extension)
            pairs.append((str(p), str(o)))
    pairs.sort()
    return pairs


def _publish(data: bytes, output: str) -> bool:
    """Puts `data` at `output` only if nothing is there: a temporary file in
    the same folder, linked to the name (link never replaces). False when
    the output already existed."""
    folder = os.path.dirname(output) or "."
    os.makedirs(folder, exist_ok=True)
    fd, temp = tempfile.mkstemp(prefix=TEMP_PREFIX, suffix=".tmp", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temp, 0o666 & ~umask)
        try:
            os.link(temp, output)
        except FileExistsError:
            return False
        return True
    finally:
        os.unlink(temp)


def convert_one(input: str, output: str, fmt: str) -> Tuple[str, str, str, str, str]:
    """One manifest row: input, output, status, reason, warnings."""
    if os.path.exists(output):
        return (input, output, "exists", "", "")
    try:
        pattern = qelda.read(input)
        data = qelda.write_bytes(pattern, fmt)
    except qelda.QeldaError as e:
        return (input, output, "failed", f"{e.status}: {e.message}: {e.reason}", "")
    except OSError as e:
        return (input, output, "failed", f"os_error: {e}", "")
    try:
        _publish(data, output)
    except OSError as e:
        return (input, output, "failed", f"os_error: {e}", "")
    # Written now, or by an earlier attempt of this very task: converted.
    return (input, output, "converted", "", " | ".join(pattern.warnings))


def convert_chunk(pairs: Sequence[Tuple[str, str]], fmt: str) -> List[Tuple[str, ...]]:
    return [convert_one(i, o, fmt) for i, o in pairs]


def _clean(s: str) -> str:
    return s.replace("\t", " ").replace("\n", " ").replace("\r", " ")


def write_manifest(dest: Path, rows: Sequence[Sequence[str]]) -> Path:
    text = "input\toutput\tstatus\treason\twarnings\n" + "".join(
        "\t".join(_clean(c) for c in row) + "\n" for row in rows)
    path = dest / MANIFEST
    fd, temp = tempfile.mkstemp(prefix=TEMP_PREFIX, suffix=".tmp", dir=dest)
    with os.fdopen(fd, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write(text)
    os.chmod(temp, 0o644)
    os.replace(temp, path)
    return path


def remove_leftovers(dest: Path) -> int:
    """Temporary files of workers that died between writing and linking."""
    n = 0
    for folder, _dirs, files in os.walk(dest):
        for name in files:
            if name.startswith(TEMP_PREFIX) and name.endswith(".tmp"):
                try:
                    os.unlink(os.path.join(folder, name))
                    n += 1
                except FileNotFoundError:
                    pass
    return n


def run(src: Path, dest: Path, fmt: str, scheduler: str | None = None, workers: int = 0,
        retries: int = 3, progress=None) -> List[Tuple[str, ...]]:
    from dask.distributed import Client, LocalCluster

    entry = next((f for f in qelda.formats() if f.name == fmt and f.writes), None)
    if entry is None:
        raise SystemExit(f"qelda.archive: '{fmt}' is not an output format")
    extension = entry.extension.lstrip("*")
    dest.mkdir(parents=True, exist_ok=True)
    remove_leftovers(dest)
    pairs = plan(src, dest, extension)
    chunks = [pairs[i:i + CHUNK] for i in range(0, len(pairs), CHUNK)]
    cluster = None
    if scheduler:
        client = Client(scheduler)
    else:
        cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                               processes=True, dashboard_address=None)
        client = Client(cluster)
    rows: List[Tuple[str, ...]] = []
    try:
        futures = client.map(convert_chunk, chunks, fmt=fmt, retries=retries, pure=False)
        for chunk, future in zip(chunks, futures):
            try:
                rows.extend(future.result())
            except Exception as e:  # the task failed on every attempt
                for i, o in chunk:
                    done = os.path.exists(o)
                    rows.append((i, o, "converted" if done else "failed",
                                 "" if done else f"task_failed: {type(e).__name__}: {e}", ""))
            if progress:
                progress(len(rows), len(pairs))
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    remove_leftovers(dest)
    rows.sort()
    write_manifest(dest, rows)
    return rows


def main(argv: Sequence[str] | None = None) -> int:
    ap = argparse.ArgumentParser(prog="python3 -m qelda.archive",
                                 description="Convert a folder tree of scans with Dask.")
    ap.add_argument("src", type=Path)
    ap.add_argument("dest", type=Path)
    ap.add_argument("--to", required=True, dest="fmt", help="output format (short name)")
    ap.add_argument("--scheduler", help="address of a running Dask scheduler "
                    "(default: a local cluster)")
    ap.add_argument("--workers", type=int, default=0,
                    help="local cluster: worker processes (default: the number of cores)")
    args = ap.parse_args(argv)
    if not args.src.is_dir():
        ap.error(f"{args.src} is not a folder")
    rows = run(args.src, args.dest, args.fmt, args.scheduler, args.workers)
    counts: Dict[str, int] = {}
    for r in rows:
        counts[r[2]] = counts.get(r[2], 0) + 1
    print(f"{counts.get('converted', 0)} converted, {counts.get('exists', 0)} already there, "
          f"{counts.get('failed', 0)} failed; manifest {args.dest / MANIFEST}")
    return 1 if counts.get("failed") else 0


if __name__ == "__main__":
    sys.exit(main())
