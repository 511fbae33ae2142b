#!/usr/bin/env python3
"""Batch analysis on Dask against the command-line tool's own threads.

Generates a corpus of files (default 200 files of 30 s, mono, 48 kHz, 16
bit: tones, modulated tones and noise with fixed seeds) in a scratch folder
under the system's temporary directory, then measures the wall time of

  1. quarnelo analyze -j W --format json --output ... FILES
  2. python3 -m quarnelo batch --workers W FILES -o results.csv
     (a local Dask cluster of W single-threaded worker processes, started
     and shut down by the command, as a user runs it)

and, on a cluster of W workers kept up, the cost of Dask itself: the start
and shutdown of the cluster, and the round trip of a task that does
nothing. The per-task overhead of the batch is (2 - 1) / tasks. Run by
hand, from the project's root after a build:

  PYTHONPATH=python python3 bench/bench_batch.py [--files 200] [--seconds 30] [--workers 2]

The corpus is removed at the end (--keep leaves it).
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np


def write_corpus(folder, files, seconds):
    import soundfile

    rate = 48000
    t = np.arange(int(seconds * rate)) / rate
    paths = []
    for i in range(files):
        rng = np.random.default_rng(i)
        f = 200 * 2 ** (i % 24 / 4)
        kind = i % 3
        if kind == 0:  # a tone over noise
            x = 0.1 * np.sin(2 * np.pi * f * t) + 0.01 * rng.standard_normal(t.size)
        elif kind == 1:  # a tone modulated at 70 Hz
            x = 0.1 * (1 + np.sin(2 * np.pi * 70 * t)) * np.sin(2 * np.pi * f * t)
        else:  # noise whose level changes every second
            x = 0.05 * rng.standard_normal(t.size) * np.repeat(rng.uniform(0.1, 1, int(seconds) + 1), rate)[:t.size]
        path = folder / f"take_{i:04d}.wav"
        soundfile.write(str(path), x, rate, subtype="PCM_16")
        paths.append(str(path))
    return paths


def timed(argv, env=None):
    start = time.perf_counter()
    done = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"bench_batch: {' '.join(argv[:3])} ... failed ({done.returncode}):\n{done.stderr}")
    return wall


def dask_costs(workers, tasks=2000):
    """Start and shutdown of a local cluster, and the round trip of a task
    that does nothing, mapped `tasks` at a time."""
    from distributed import Client, LocalCluster, wait

    start = time.perf_counter()
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
    client = Client(cluster)
    up = time.perf_counter() - start
    wait(client.map(int, range(100), pure=False))  # warm up
    start = time.perf_counter()
    wait(client.map(int, range(tasks), pure=False))
    per_task = (time.perf_counter() - start) / tasks
    start = time.perf_counter()
    client.close()
    cluster.close()
    down = time.perf_counter() - start
    return up, down, per_task


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--tool", default="build/tools/cli/quarnelo", help="the command-line tool")
    parser.add_argument("--keep", action="store_true", help="leave the corpus in place")
    args = parser.parse_args()
    if not os.access(args.tool, os.X_OK):
        sys.exit(f"bench_batch: {args.tool} is not built (make, or --tool)")

    folder = pathlib.Path(tempfile.mkdtemp(prefix="quarnelo-bench-batch-"))
    try:
        start = time.perf_counter()
        paths = write_corpus(folder, args.files, args.seconds)
        print(f"corpus: {args.files} files of {args.seconds:g} s in {folder} "
              f"({time.perf_counter() - start:.1f} s to write)", flush=True)
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join(
            [str(pathlib.Path(__file__).resolve().parents[1] / "python"), env.get("PYTHONPATH", "")]).rstrip(
            os.pathsep)

        up, down, per_task = dask_costs(args.workers)
        print(f"dask: local cluster of {args.workers} up in {up:.2f} s, down in {down:.2f} s; "
              f"an empty task {per_task * 1e3:.2f} ms", flush=True)

        tool = timed([args.tool, "analyze", "-j", str(args.workers), "--format", "json", "--output",
                      str(folder / "tool.json"), *paths])
        print(f"quarnelo analyze -j {args.workers}: {tool:.1f} s", flush=True)

        dask = timed([sys.executable, "-m", "quarnelo", "batch", "--workers", str(args.workers), *paths, "-o",
                      str(folder / "batch.csv")], env)
        print(f"python3 -m quarnelo batch --workers {args.workers}: {dask:.1f} s", flush=True)

        tasks = args.files  # one channel each
        print(f"batch / tool: {dask / tool:.3f} ({(dask / tool - 1) * 100:+.1f} %); "
              f"overhead per task {(dask - tool) / tasks * 1e3:.0f} ms over {tasks} tasks")
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
