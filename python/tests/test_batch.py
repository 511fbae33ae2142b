"""Batch analysis on Dask against the command-line tool.

A generated corpus of short files (several containers, rates and channel
counts, damaged files among them) is analysed by ``quarnelo analyze
--format json`` and by the batch, on a local cluster and on a scheduler and
workers started here as processes of their own; both must give the same
rows, values and errors. The tool is found through ``QUARNELO_CLI`` (set by
the build's test) or in the checkout's build tree.
"""

import contextlib
import json
import math
import os
import pathlib
import subprocess
import sys
import time

import numpy as np
import pytest

from conftest import PROJECT, corpus_tone, tool_path, write_corpus

pd = pytest.importorskip("pandas", reason="batch analysis needs python3-pandas")
distributed = pytest.importorskip("distributed", reason="batch analysis needs python3-distributed")
soundfile = pytest.importorskip("soundfile", reason="the corpus is written with python3-soundfile")

from quarnelo import batch  # noqa: E402

PACKAGE_ROOT = pathlib.Path(batch.__file__).resolve().parents[1]

# Debian's distributed starts its event loops the way tornado 6.2 deprecates.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")


def _tool():
    return tool_path()


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    folder = tmp_path_factory.mktemp("corpus")
    paths = write_corpus(folder)
    calibrator = folder / "calibrator_stereo.wav"
    t = np.arange(48000) / 48000
    tone = np.sin(2 * np.pi * 1000 * t)
    soundfile.write(str(calibrator), np.column_stack([0.25 * tone, 0.5 * tone]), 48000, subtype="PCM_24")
    return {"paths": paths, "calibrator": str(calibrator), "folder": folder}


def _tool_rows(*arguments, cwd=None):
    """The rows of the tool's JSON: (file, channel, sample rate, duration,
    calibration, values by column, error); None where a file has none."""
    done = subprocess.run([_tool(), "analyze", "--format", "json", "-j", "2", *arguments],
                          capture_output=True, check=False, cwd=cwd)
    assert done.returncode in (0, 1), done.stderr.decode(errors="replace")
    rows = []
    for f in json.loads(done.stdout)["files"]:
        if "error" in f:
            rows.append((f["file"], None, None, None, None, {}, f["error"]))
            continue
        for r in f["results"]:
            # JSON has no infinity: the tool writes the -inf dB of silence null.
            values = {f"{metric}.{name}": -math.inf if v["value"] is None else v["value"]
                      for metric, quantities in r["metrics"].items() for name, v in quantities.items()}
            error = "; ".join(f"{e['metric']}: {e['error']}" for e in r["errors"]) or None
            rows.append((f["file"], r["channel"], f["sample_rate"], f["duration_s"], r["calibration"], values,
                         error))
    return rows, done.returncode


def _none(v):
    return None if v is None or v is pd.NA or (isinstance(v, float) and math.isnan(v)) else v


def _same(v, w):
    return (math.isnan(v) and math.isnan(w)) or v == w


def assert_same_as_tool(frame, rows):
    """Row for row, value for value (to the bit), error for error."""
    assert list(frame.columns[:5]) == ["file", "channel", "sample_rate", "duration_s", "calibration"]
    assert frame.columns[-1] == "error"
    value_columns = list(frame.columns[5:-1])
    assert len(frame) == len(rows)
    for (_, got), (path, channel, rate, duration, calibration, values, error) in zip(frame.iterrows(), rows):
        where = f"{path} channel {channel}"
        assert got["file"] == path, where
        assert _none(got["channel"]) == channel, where
        assert _none(got["error"]) == error, where
        if channel is None:
            assert all(math.isnan(got[c]) for c in value_columns), where
            continue
        assert (got["sample_rate"], got["duration_s"], got["calibration"]) == (rate, duration, calibration), where
        assert set(values) <= set(value_columns), where
        for column in value_columns:
            expected = values.get(column, math.nan)
            assert _same(got[column], expected), f"{where}: {column}: {got[column]!r}, the tool {expected!r}"


def test_local_cluster_gives_the_tools_values_rows_and_errors(corpus):
    paths = corpus["paths"]
    rows, status = _tool_rows("--full-scale-spl", "100", *paths)
    assert status == 1  # the damaged files
    frame = batch.analyze(paths, calibration={"full_scale_spl": 100}, workers=2)
    assert_same_as_tool(frame, rows)
    # What the corpus is for: the rows follow the paths, every channel has
    # its row, and the failures are where they belong.
    assert list(dict.fromkeys(frame["file"])) == paths
    by_name = {pathlib.Path(p).name: frame[frame["file"] == p] for p in paths}
    assert list(by_name["five_channels.flac"]["channel"]) == [1, 2, 3, 4, 5]
    assert by_name["garbage.wav"]["error"].iloc[0].startswith("cannot read audio: ")
    assert by_name["truncated.wav"]["error"].iloc[0].startswith("truncated: ")
    assert by_name["missing.wav"]["error"].iloc[0] == "cannot read: No such file or directory"
    nan = by_name["nan_in_channel_2.wav"]
    assert nan["error"].iloc[0] is None and nan["error"].iloc[1] == "input: sample 5000 is NaN or infinite"
    loud = by_name["too_loud_100Hz.wav"]["error"].iloc[0]
    assert loud.startswith("loudness: invalid argument") and "sharpness: loudness: invalid argument" in loud
    assert "loudness: loudness" not in loud and "tonality-aures: tonality-aures" not in loud, "each name once"
    assert not math.isnan(by_name["too_loud_100Hz.wav"]["loudness-time.max"].iloc[0])
    assert by_name["silent.wav"]["loudness-time.max"].iloc[0] == 0
    assert frame.attrs["units"]["loudness-time.n5"] == "sone"


def test_selected_metrics_and_channel(corpus):
    folder = corpus["folder"]
    paths = [str(folder / "am_stereo_24.wav"), str(folder / "stereo_32k.aiff"), str(folder / "tone_mono_16.wav")]
    rows, _ = _tool_rows("--metrics", "roughness-ecma,loudness", "--channel", "2", "--pa-per-unit", "0.5", *paths)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        frame = batch.analyze(paths, metrics=["roughness-ecma", "loudness"], calibration=0.5, channel=2,
                              client=client)
    assert list(frame.columns[5:-1]) == batch.columns(["loudness", "roughness-ecma"])
    assert_same_as_tool(frame, rows)
    assert frame["error"].iloc[2] == "has 1 channel(s), channel 2 asked for"


def _read_csv(path):
    # An empty error field reads as NaN, which the comparison takes for none.
    return pd.read_csv(path, float_precision="round_trip", dtype={
        "file": object, "calibration": object, "error": object, "channel": "Int64", "sample_rate": "Int64"})


@contextlib.contextmanager
def _processes():
    """Processes started in the block, every one ended when it is left."""
    started = []
    try:
        yield started
    finally:
        for p in started:
            if p.poll() is None:
                p.terminate()
        for p in started:
            try:
                p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


@pytest.fixture(scope="module")
def scheduler(tmp_path_factory):
    """A scheduler and two single-threaded workers on 127.0.0.1, each a
    process of its own started here; its address."""
    folder = tmp_path_factory.mktemp("cluster")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(PACKAGE_ROOT)] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]))
    log = open(folder / "cluster.log", "wb")
    with log, _processes() as started:
        started.append(subprocess.Popen(
            [sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0",
             "--no-dashboard", "--scheduler-file", str(folder / "scheduler.json")],
            env=env, stdout=log, stderr=subprocess.STDOUT, cwd=folder))
        deadline = time.monotonic() + 60
        address = None
        while address is None:
            assert started[0].poll() is None and time.monotonic() < deadline, (folder / "cluster.log").read_text()
            time.sleep(0.1)
            with contextlib.suppress(OSError, ValueError, KeyError):  # not yet there, or not yet whole
                address = json.loads((folder / "scheduler.json").read_text())["address"]
        for _ in range(2):
            started.append(subprocess.Popen(
                [sys.executable, "-m", "distributed.cli.dask_worker", address, "--host", "127.0.0.1",
                 "--nthreads", "1", "--no-nanny", "--no-dashboard"],
                env=env, stdout=log, stderr=subprocess.STDOUT, cwd=folder))
        with distributed.Client(address, timeout=60) as client:
            client.wait_for_workers(2, timeout=60)
        yield {"address": address, "env": env, "processes": started}
    assert all(p.poll() is not None for p in started)


def _batch_command(scheduler, *arguments, cwd=None):
    return subprocess.run([sys.executable, "-m", "quarnelo", "batch", "--scheduler", scheduler["address"],
                           *arguments], env=scheduler["env"], capture_output=True, text=True, check=False,
                          cwd=cwd)


def test_scheduler_and_workers_of_their_own(corpus, scheduler, tmp_path):
    paths = corpus["paths"]
    calibration = ["--cal-file", corpus["calibrator"], "--cal-spl", "94"]
    rows, _ = _tool_rows(*calibration, *paths)
    done = _batch_command(scheduler, *calibration, *paths, "-o", str(tmp_path / "results.csv"))
    assert done.returncode == 1, done.stderr
    assert_same_as_tool(_read_csv(tmp_path / "results.csv"), rows)
    # One line per failure, naming the file (and the channel).
    assert f"quarnelo batch: {paths[-1]}: cannot read: No such file or directory" in done.stderr.splitlines()
    assert any(": channel 2: input: sample 5000 is NaN or infinite" in line for line in done.stderr.splitlines())

    # JSON lines hold the same, and a batch without failures exits with 0;
    # relative names are the command's, not the workers' (whose working
    # directory is another).
    good = [pathlib.Path(p).name for p in paths[:2]]
    folder = corpus["folder"]
    done = _batch_command(scheduler, *calibration, *good, "-o", str(tmp_path / "results.jsonl"), cwd=folder)
    assert done.returncode == 0, done.stderr
    lines = (tmp_path / "results.jsonl").read_text().splitlines()
    frame = pd.DataFrame([json.loads(line) for line in lines]).astype({"error": object})
    frame = frame.fillna({c: math.nan for c in frame.columns if c not in ("file", "channel", "error",
                                                                         "calibration")})
    assert_same_as_tool(frame, _tool_rows(*calibration, *good, cwd=folder)[0])


def test_calibrator_refused_as_the_tool_refuses_it(corpus, scheduler, tmp_path):
    clipped = tmp_path / "clipped.wav"
    soundfile.write(str(clipped), np.clip(2 * np.sin(np.arange(4800) * 0.3), -1, 1), 48000, subtype="PCM_16")
    arguments = ["--cal-file", str(clipped), "--cal-spl", "94", corpus["paths"][0]]
    tool = subprocess.run([_tool(), "analyze", "--format", "json", *arguments], capture_output=True, text=True)
    done = _batch_command(scheduler, *arguments, "-o", str(tmp_path / "r.csv"))
    assert (done.returncode, tool.returncode) == (1, 1)
    assert done.stderr.replace("quarnelo batch: ", "quarnelo: ") == tool.stderr
    assert not (tmp_path / "r.csv").exists()


@pytest.mark.parametrize("arguments", [
    ["--pa-per-unit", "0"],
    ["--full-scale-spl", "250"],
    ["--cal-spl", "-3", "--cal-file", "c.wav"],
    ["--channel", "0"],
    ["--percentiles", "5,101"],
    ["--percentiles", "5,5"],
    ["--start", "-1"],
    ["--end", "0"],
    ["--skip", "soon"],
    ["--start", "2", "--end", "1.5"],
])
def test_usage_errors_are_the_tools(arguments, tmp_path):
    tool = subprocess.run([_tool(), "analyze", *arguments, "x.wav"], capture_output=True, text=True)
    done = subprocess.run([sys.executable, "-m", "quarnelo", "batch", *arguments, "x.wav", "-o",
                           str(tmp_path / "r.csv")], capture_output=True, text=True)
    assert (done.returncode, tool.returncode) == (2, 2)
    assert done.stderr.replace("quarnelo batch: ", "quarnelo: ") == tool.stderr


@pytest.mark.parametrize("arguments, reason", [
    (["--metrics", "loudness,nope"], "unknown metric 'nope'"),
    (["-o", "r.txt"], "name a .csv, .jsonl or .ndjson file"),
    (["--workers", "2", "--scheduler", "tcp://127.0.0.1:1"], "--workers sets up a local cluster"),
    (["-"], "standard input"),
    (["-o", "x.csv"], "is the input file"),
    (["-o", "nowhere/r.csv"], "does not exist or cannot be written"),
])
def test_usage_errors_of_the_batch(arguments, reason, tmp_path):
    (tmp_path / "x.csv").write_text("")
    argv = [sys.executable, "-m", "quarnelo", "batch", "x.csv", *arguments]
    if "-o" not in arguments:
        argv += ["-o", "r.csv"]
    done = subprocess.run(argv, capture_output=True, text=True, cwd=tmp_path,
                          env=dict(os.environ, PYTHONPATH=str(PACKAGE_ROOT)))
    assert done.returncode == 2 and reason in done.stderr, done.stderr


def test_channel_task_holds_what_the_tool_reads(corpus, tmp_path):
    """Damaged headers of every container the tool checks, analysed in
    this process: the same refusals as the tool."""
    folder = tmp_path
    x = corpus_tone(48000, 0.3, 1000, 0.3)
    damaged = []
    for name, fmt, subtype, keep in [("a.wav", "WAV", "PCM_16", 20000), ("b.aiff", "AIFF", "PCM_16", 20000),
                                     ("c.au", "AU", "PCM_16", 20000), ("d.caf", "CAF", "PCM_16", 20000),
                                     ("e.w64", "W64", "PCM_16", 20000), ("f.rf64", "RF64", "PCM_16", 20000),
                                     ("g.nist", "NIST", "PCM_16", 20000), ("h.mat", "MAT4", "PCM_16", 20000),
                                     ("i.svx", "SVX", "PCM_16", 20000), ("j.avr", "AVR", "PCM_16", 20000),
                                     ("k.wav", "WAV", "PCM_16", 44), ("l.flac", "FLAC", "PCM_16", 3000)]:
        path = folder / name
        soundfile.write(str(path), x, 48000, subtype=subtype, format=fmt)
        path.write_bytes(path.read_bytes()[:keep])
        damaged.append(str(path))
    (folder / "dir.wav").mkdir()
    damaged.append(str(folder / "dir.wav"))
    rows, _ = _tool_rows("--metrics", "loudness", *damaged)
    outcomes = []
    for path in damaged:
        channels, error = batch._probe(path)
        r = {"file_error": error} if error else batch._analyse_file_channel(
            path, 1, ("loudness",), "free", batch._calibration_of(None))
        outcomes.append(r.get("file_error"))
    assert outcomes == [row[6] if row[1] is None else None for row in rows]
    assert sum(o is not None and o.startswith("truncated") for o in outcomes) >= 9


def _fails_on_the_am_file(path, *arguments):
    if path.endswith("am_stereo_24.wav"):
        raise RuntimeError("the worker lost its disk")
    return _analyse_file_channel(path, *arguments)


_analyse_file_channel = batch._analyse_file_channel


def test_a_task_that_fails_is_that_files_error(corpus, monkeypatch):
    folder = corpus["folder"]
    paths = [str(folder / "tone_mono_16.wav"), str(folder / "am_stereo_24.wav"), str(folder / "float_48k.wav")]
    monkeypatch.setattr(batch, "_analyse_file_channel", _fails_on_the_am_file)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        frame = batch.analyze(paths, metrics="loudness", client=client)
    assert list(frame["file"]) == paths
    assert frame["error"].iloc[1] == "the task failed: RuntimeError: the worker lost its disk"
    assert frame["error"].iloc[[0, 2]].isna().all() and frame["loudness.loudness"].iloc[[0, 2]].notna().all()


def test_a_script_without_the_main_guard_fails_at_once(corpus, tmp_path):
    # Every worker of a local cluster imports the script again: unguarded,
    # the call would start clusters without end.
    script = tmp_path / "unguarded.py"
    script.write_text("import quarnelo.batch\n"
                      f"quarnelo.batch.analyze([{corpus['paths'][0]!r}], metrics='loudness', workers=1)\n")
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PYTHONPATH=str(PACKAGE_ROOT)))
    assert done.returncode == 1
    assert 'under `if __name__ == "__main__":`' in done.stderr
