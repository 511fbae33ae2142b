"""Batch analysis of many sound files on a Dask cluster.

:func:`analyze` runs one task per file and channel on a Dask client (a
local cluster with one worker process per core when none is given, or any
client connected to a scheduler) and returns a pandas DataFrame with one row
per file and channel and one column per single value: the names and values
of ``quarnelo analyze --format json`` for the same files. Only paths travel:
each worker reads its own files, so a cluster whose workers share a file
system scales with the number of workers.

Each task is :func:`quarnelo.analyze_file` of one channel: the file layer
the tool is built on reads the file block by block, resamples, calibrates
and runs every selected metric in bounded memory, releasing the GIL for the
whole call.

``python3 -m quarnelo batch FILE... -o results.csv`` is the same on the
command line. Needs python3-pandas and python3-distributed.
"""

import contextlib
import json
import math
import os
import sys
import tempfile
from dataclasses import dataclass

import numpy as np

from . import _analysis, _files, _metrics
from ._analysis import columns, units

#: The metrics, named as ``quarnelo analyze --metrics`` names them.
METRICS = tuple(m["name"] for m in _files.METRICS)
#: Those a run without ``metrics`` computes (the file layer's default set).
DEFAULT_METRICS = _files.DEFAULT_NAMES


def _metric_names(metrics):
    if metrics is None:
        return DEFAULT_METRICS
    try:
        names = metrics.split(",") if isinstance(metrics, str) else list(metrics)
    except TypeError:
        raise TypeError(f"batch: metrics are metric names, not {metrics!r}") from None
    unknown = [n for n in names if n not in _files.BY_NAME]
    if unknown:
        raise ValueError(f"unknown metric {unknown[0]!r}; the metrics are {', '.join(METRICS)}")
    # Each once, in the order of the table.
    return tuple(n for n in METRICS if n in names)


# --- Tasks (run on the workers) ---------------------------------------------


def _probe(path):
    """The channel count of a file, or the reason it cannot be analysed."""
    return _files.probe(path, "batch")


def _analyse_file_channel(path, channel, metrics, field, calibration, settings=None):
    """One channel (from 1) of a file: ``{"row": ..., "errors": ...}`` with
    the channel's row of :meth:`quarnelo.FileAnalysis.rows` and its
    failures, or ``{"file_error": reason}`` when the file itself cannot be
    analysed. ``settings`` are further arguments of ``analyze_file``
    (percentiles, start, end, skip)."""
    a = _analysis.analyze_file(path, metrics, calibration, field, channel=channel, **(settings or {}))
    if a.error:
        return {"file_error": a.error}
    return {"row": a.rows()[0], "errors": a.results[0].errors}


def _analyse_whole_file(path, channel, metrics, field, calibration, settings, series_dir, series_name):
    """Every channel of a file (or ``channel``) at once, its series written
    to ``series_dir/series_name``: ``{"channels": [{"row", "errors"}, ...],
    "series_error": ...}``, or ``{"file_error": reason}``."""
    a = _analysis.analyze_file(path, metrics, calibration, field, channel=channel, series_dir=series_dir,
                               series_name=series_name, **settings)
    if a.error:
        return {"file_error": a.error}
    return {"channels": [{"row": row, "errors": c.errors} for row, c in zip(a.rows(), a.results)],
            "series_error": a.series_error}


def _check_calibration(calibration):
    """The reason a calibration cannot be used (a calibrator recording that
    is unreadable, silent or clipped), or "": the analysis of one sample
    resolves the calibration first."""
    from ._errors import QuarneloError

    try:
        _analysis.analyze_signal(np.zeros(1), metrics="loudness-time", calibration=calibration, name="check")
    except QuarneloError as exc:
        return exc.detail or exc.message
    return ""


# --- Driving the cluster ----------------------------------------------------


def _calibration_of(calibration):
    """The calibration as :func:`analyze` takes it, checked against the file
    layer's ranges (ValueError naming what is wrong); a calibrator recording
    is read later, on a worker."""
    from ._errors import QuarneloError

    try:
        values = _files.calibration_options(calibration, "batch.analyze")
        with _files.Options("batch.analyze", **{k: v for k, v in values.items() if k != "cal-file"}):
            pass
    except QuarneloError as exc:
        raise ValueError(exc.detail or exc.message) from None
    except TypeError as exc:
        raise ValueError(str(exc).split(": ", 1)[-1]) from None
    if isinstance(calibration, dict) and "cal_file" in calibration:
        calibration = {"cal_file": os.path.abspath(os.fspath(calibration["cal_file"])),
                       "cal_spl": calibration["cal_spl"]}
    return calibration


@contextlib.contextmanager
def _session(client, workers):
    from distributed import Client, LocalCluster

    if isinstance(client, str):
        with Client(client, timeout=30) as connected:
            yield connected
        return
    if client is not None:
        yield client
        return
    n = workers or os.cpu_count() or 1
    # One single-threaded worker process per core: the library runs one
    # analysis per core at full speed, and a process that a damaged file
    # brings down takes no other file with it.
    with LocalCluster(n_workers=n, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as local:
        yield local


def _task_failure(future):
    try:
        exc = future.exception()
    except Exception as cancelled:  # a cancelled task has no exception of its own
        exc = cancelled
    return f"the task failed: {type(exc).__name__}: {exc}"


@dataclass
class _Outcome:
    """What became of one file: its error, or its channels' results."""

    path: str
    error: str = ""
    channels: list = None
    series_error: str = None


def _run(paths, names, field, channel, calibration, client, workers, progress, settings=None, series_dir=None):
    from distributed import as_completed, wait

    settings = settings or {}
    # The workers read absolute paths, whatever their working directory;
    # the rows name the files as given. Series files take their names in
    # the order of the paths, as the command-line tool gives them.
    readable = [os.path.abspath(p) for p in paths]
    series_names = _files.series_file_names(paths) if series_dir is not None else None
    with _session(client, workers) as c:
        if isinstance(calibration, dict) and "cal_file" in calibration:
            reason = c.submit(_check_calibration, calibration, pure=False).result()
            if reason:
                raise ValueError(reason)
        probes = c.map(_probe, readable, pure=False)
        index_of = {p.key: i for i, p in enumerate(probes)}
        outcomes = [_Outcome(p) for p in paths]
        tasks = [[] for _ in paths]
        # Results come in batches as the probes finish, and each file's
        # channels go to the workers as soon as its probe is back.
        for probe, result in as_completed(probes, with_results=True, raise_errors=False):
            i = index_of[probe.key]
            if probe.status != "finished":
                outcomes[i].error = _task_failure(probe)
                continue
            count, error = result
            if error:
                outcomes[i].error = error
                continue
            if series_dir is not None:
                # One task per file: its series file holds every channel.
                tasks[i] = [c.submit(_analyse_whole_file, readable[i], channel, names, field, calibration, settings,
                                     series_dir, series_names[i], pure=False)]
                continue
            wanted = [channel] if channel else range(1, count + 1)
            tasks[i] = [c.submit(_analyse_file_channel, readable[i], ch, names, field, calibration, settings,
                                 pure=False) for ch in wanted]
        every = [t for file_tasks in tasks for t in file_tasks]
        if progress and every:
            from distributed import progress as progress_bar

            # Dask's bar draws on standard output, which may carry results.
            with contextlib.redirect_stdout(sys.stderr):
                progress_bar(every)
        wait(every)
        # One gathering for all, rather than a round trip per task.
        finished = [t for t in every if t.status == "finished"]
        result_of = dict(zip((t.key for t in finished), c.gather(finished)))
        for outcome, file_tasks in zip(outcomes, tasks):
            if outcome.error:
                continue
            results = [result_of[t.key] if t.key in result_of else {"file_error": _task_failure(t)}
                       for t in file_tasks]
            failed = [r["file_error"] for r in results if "file_error" in r]
            if failed:
                outcome.error = failed[0]
            elif series_dir is not None:
                outcome.channels = results[0]["channels"]
                outcome.series_error = results[0]["series_error"]
            else:
                outcome.channels = results
        return outcomes


def _frame(outcomes, names, percentiles=None):
    rows = []
    for o in outcomes:
        if o.error:
            rows.append({"file": o.path, "error": o.error})
        else:
            rows += [{**r["row"], "file": o.path} for r in o.channels]
    return _analysis.frame_of_rows(rows, names, percentiles)


_GUARD = "put the call under `if __name__ == \"__main__\":`, so that it runs in the main process only"


def _main_guarded(filename, line):
    """Whether line `line` of the script lies in the body of an ``if
    __name__ == "__main__":`` at its top level (True when it cannot tell)."""
    import ast

    try:
        with open(filename, "rb") as f:
            tree = ast.parse(f.read(), filename)
    except (OSError, SyntaxError, ValueError):
        return True
    for node in tree.body:
        if not isinstance(node, ast.If) or not isinstance(node.test, ast.Compare):
            continue
        sides = [node.test.left, *node.test.comparators]
        names = {n.id for n in sides if isinstance(n, ast.Name)}
        texts = {n.value for n in sides if isinstance(n, ast.Constant)}
        if names == {"__name__"} and texts == {"__main__"} and node.body:
            if node.body[0].lineno <= line <= max(getattr(n, "end_lineno", n.lineno) for n in node.body):
                return True
    return False


def _refuse_unguarded_script():
    """A local cluster starts each worker process by importing the script
    that started it afresh (as ``__mp_main__``). A script that calls
    :func:`analyze` at its top level, outside ``if __name__ ==
    "__main__":``, would run the call again in every worker, which starts
    clusters of its own, without end. Such a call fails at once: in the
    script's process, before any worker starts, and in a worker importing
    it."""
    frame = sys._getframe()
    while frame is not None:
        if frame.f_code.co_name == "<module>":
            name = frame.f_globals.get("__name__")
            if name == "__mp_main__":
                raise RuntimeError("quarnelo.batch.analyze: called while a worker process of the cluster imports "
                                   f"your script; {_GUARD}")
            if name == "__main__" and frame.f_globals.get("__file__"):
                if not _main_guarded(frame.f_globals["__file__"], frame.f_lineno):
                    raise RuntimeError("quarnelo.batch.analyze: called at the top level of a script, which every "
                                       f"worker process of a local cluster imports again; {_GUARD}")
        frame = frame.f_back


def _prepare(paths, metrics, calibration, field, channel):
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    try:
        paths = [os.fsdecode(p) for p in paths]
    except TypeError:
        raise TypeError("batch.analyze: paths are file names (str, bytes or os.PathLike)") from None
    try:
        names = _metric_names(metrics)
    except ValueError as exc:
        raise ValueError(f"batch.analyze: {exc}") from None
    if field not in ("free", "diffuse"):
        raise ValueError(f"batch.analyze: field: 'free' or 'diffuse', not {field!r}")
    if channel is not None and not (isinstance(channel, (int, np.integer)) and not isinstance(channel, bool)
                                    and 1 <= channel <= 1024):
        raise ValueError(f"batch.analyze: channel: a channel number from 1, or None for every channel; not {channel!r}")
    try:
        return paths, names, _calibration_of(calibration)
    except ValueError as exc:
        raise ValueError(f"batch.analyze: calibration: {exc}") from None


def analyze(paths, metrics=None, calibration=None, field="free", client=None, *, channel=None, workers=None,
            progress=False, percentiles=None, start=None, end=None, skip=None, series_dir=None,
            sharpness_weighting=None, band_step=None):
    """Every selected metric of every channel of many files, on Dask.

    Parameters
    ----------
    paths : iterable of str or path-like
        Sound files (anything libsndfile reads), at the same path on every
        worker; a relative path is taken from the current directory.
        Files not at 48 kHz are resampled as the command-line tool does.
    metrics : iterable of str, or str, optional
        Names from :data:`METRICS` (a list, or one comma-separated string);
        all by default.
    calibration : optional
        Sample value times factor is pascal. None (1 Pa per unit), a number
        (Pa per unit), or a dict: ``{"pa_per_unit": x}``,
        ``{"full_scale_spl": L}`` (a full-scale sine is L dB SPL) or
        ``{"cal_file": path, "cal_spl": L}`` (a calibrator recording of L dB
        SPL, read on a worker; one factor per channel when it has as many
        channels, else its first channel's). The ranges and formulas are the
        command-line tool's.
    field : {"free", "diffuse"}
        Sound field of the loudness metrics and the ECMA-418-2 ear filter.
    client : distributed.Client or str, optional
        The client to run on, or a scheduler's address; by default a local
        cluster of ``workers`` single-threaded worker processes (one per
        core), started and shut down by the call.
    channel : int, optional
        Only this channel (from 1); every channel by default.
    workers : int, optional
        Worker processes of the local cluster.
    progress : bool
        Show Dask's progress bar (on standard error).
    percentiles, start, end, skip : optional
        As :func:`quarnelo.analyze_file` takes them: the percentiles of
        every metric with a time series, the stretch of each file analysed
        (seconds), and the settling time the statistics leave out.
    sharpness_weighting, band_step : optional
        As :func:`quarnelo.analyze_file` takes them: the weighting of the
        sharpness metric ("din" by default) and the interval of the
        third-octave band levels' series (s).
    series_dir : str or path-like, optional
        A directory the workers can write (on their shared file system):
        each file's series go to a NetCDF-4 file there, named as the
        command-line tool names them (``take.nc``, ``take_2.nc`` for a
        second input of that name). Each file is then one task, its
        channels side by side.

    Returns
    -------
    pandas.DataFrame
        One row per file and channel in the order of `paths` (a file that
        cannot be analysed at all has one row, without a channel): ``file``,
        ``channel`` (from 1), ``sample_rate`` (of the file, Hz),
        ``duration_s``, ``calibration`` (the tool's description), one column
        per single value named ``"metric.quantity"`` (:func:`columns`; NaN
        where the metric failed), and ``error``: None, or every failure of
        the row as ``"metric: reason"`` joined by ``"; "``, or the file's
        reason. ``frame.attrs["units"]`` gives each column's unit.

    Raises
    ------
    ValueError
        For arguments out of range, or a calibrator recording that cannot
        be used. A file that fails never raises: its row has the error.
    RuntimeError
        When a script that starts a local cluster calls ``analyze`` outside
        ``if __name__ == "__main__":`` (each worker process imports the
        script again).
    """
    if client is None:
        _refuse_unguarded_script()
    paths, names, cal = _prepare(paths, metrics, calibration, field, channel)
    settings = _settings(percentiles, start, end, skip, sharpness_weighting, band_step)
    if series_dir is not None:
        series_dir = os.path.abspath(os.fspath(series_dir))
    outcomes = _run(paths, names, field, channel, cal, client, workers, progress, settings, series_dir)
    return _frame(outcomes, names, percentiles)


def _settings(percentiles, start, end, skip, sharpness_weighting=None, band_step=None):
    """The further arguments of ``analyze_file``, checked here (ValueError
    naming what is wrong) rather than on every worker."""
    from ._errors import QuarneloError

    settings = {k: v for k, v in (("percentiles", percentiles), ("start", start), ("end", end), ("skip", skip),
                                  ("sharpness_weighting", sharpness_weighting), ("band_step", band_step))
                if v is not None}
    try:
        with _analysis._options("batch.analyze", None, None, "free", None, False, True, None, 1, **settings):
            pass
    except QuarneloError as exc:
        raise ValueError(f"batch.analyze: {exc.detail or exc.message}") from None
    if start is not None and end is not None and not end > start:
        raise ValueError(f"batch.analyze: end {end:g} s is not after start {start:g} s")
    return settings


# --- The command ------------------------------------------------------------

_OUTPUT_KINDS = {".csv": "csv", ".jsonl": "jsonl", ".ndjson": "jsonl"}


def add_arguments(parser):
    """The options of the batch command."""
    parser.add_argument("files", nargs="+", metavar="FILE",
                        help="sound files (any format libsndfile reads), at the same path on every worker")
    parser.add_argument("-o", "--output", required=True, metavar="RESULTS",
                        help="results: .csv, or .jsonl / .ndjson for JSON lines, one row per file and "
                             "channel; '-' writes CSV to standard output")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="address of a Dask scheduler (tcp://host:8786); default: a local cluster")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="worker processes of the local cluster (default: one per core)")
    left_out = ", ".join(m for m in METRICS if m not in DEFAULT_METRICS)
    parser.add_argument("--metrics", metavar="LIST",
                        help=f"metrics, comma-separated (default: all{' but ' + left_out if left_out else ''}): "
                             + ", ".join(METRICS))
    parser.add_argument("--field", choices=("free", "diffuse"), default="free",
                        help="sound field of the loudness and ECMA-418-2 metrics (default free)")
    parser.add_argument("--channel", default="all",
                        help="a channel number (from 1), or 'all': each channel on its own (default)")
    parser.add_argument("--percentiles", metavar="LIST",
                        help="percentiles of every metric with a time series, e.g. 5,10,50,90,95 (default 5,10 "
                             "for loudness-time, none for the others; '' for none)")
    parser.add_argument("--start", metavar="S", help="analyse each file from this time on, s")
    parser.add_argument("--end", metavar="S", help="analyse each file up to this time, s")
    parser.add_argument("--skip", metavar="S",
                        help="seconds the statistics over frames leave out at the start (a settling time)")
    parser.add_argument("--sharpness-weighting", choices=tuple(_metrics._SHARPNESS_WEIGHTINGS),
                        help="weighting of the sharpness metric (default din)")
    parser.add_argument("--band-step", metavar="S",
                        help="interval of the series of the third-octave band levels (levels), s (default 0.1)")
    parser.add_argument("--series-dir", metavar="DIR",
                        help="write each file's series to DIR/<file's name>.nc (NetCDF-4), from the workers")
    cal = parser.add_argument_group("calibration (one of; default: samples are pascal)")
    cal.add_argument("--pa-per-unit", type=float, metavar="X", help="sound pressure in Pa of one sample unit")
    cal.add_argument("--full-scale-spl", type=float, metavar="L", help="level in dB SPL of a full-scale sine")
    cal.add_argument("--cal-file", metavar="FILE", help="recording of a calibrator, with --cal-spl")
    cal.add_argument("--cal-spl", type=float, metavar="L", help="level in dB SPL of the calibrator in --cal-file")


def _usage(args):
    """(metric names, channel, calibration, output kind), or the reason the
    arguments do not go together."""
    given = [args.pa_per_unit is not None, args.full_scale_spl is not None,
             args.cal_file is not None or args.cal_spl is not None]
    if sum(given) > 1:
        return "give one calibration: --pa-per-unit, --full-scale-spl or --cal-file with --cal-spl"
    if (args.cal_file is None) != (args.cal_spl is None):
        return "--cal-file and --cal-spl go together"
    if args.scheduler and args.workers is not None:
        return "--workers sets up a local cluster; a scheduler has the workers started for it"
    if args.workers is not None and not 1 <= args.workers <= 256:
        return "--workers takes 1 ... 256"
    if "-" in args.files or args.cal_file == "-":
        return "standard input ('-') cannot be read by the workers of a cluster; give files"
    try:
        _calibration_of(_files.calibration_of_arguments(args))
    except ValueError as exc:
        return str(exc)
    if args.channel != "all" and not (args.channel.isdigit() and 1 <= int(args.channel) <= 1024):
        return "--channel takes a channel number from 1, or 'all'"
    kind = "csv" if args.output == "-" else _OUTPUT_KINDS.get(os.path.splitext(args.output)[1].lower())
    if kind is None:
        return f"--output {args.output}: name a .csv, .jsonl or .ndjson file"
    folder = os.path.dirname(os.path.abspath(args.output))
    if args.output != "-" and not os.access(folder, os.W_OK | os.X_OK):
        # Known before the batch runs rather than after it.
        return f"--output {args.output}: the folder {folder} does not exist or cannot be written"
    for f in args.files + ([args.cal_file] if args.cal_file else []):
        with contextlib.suppress(OSError):
            if args.output != "-" and os.path.samefile(args.output, f):
                return f"--output {args.output} is the input file {f}; the results would overwrite it"
    try:
        names = _metric_names(args.metrics) if args.metrics is not None else DEFAULT_METRICS
    except ValueError as exc:
        return str(exc)
    from ._errors import QuarneloError

    given = {"percentiles": args.percentiles, "start": args.start, "end": args.end, "skip": args.skip,
             "band-step": args.band_step}
    try:
        # The texts as given, checked by the file layer in the tool's words.
        with _files.Options("batch", **given):
            pass
    except QuarneloError as exc:
        return exc.detail or exc.message
    settings = {k.replace("-", "_"): float(v) for k, v in given.items() if k != "percentiles" and v is not None}
    if args.sharpness_weighting is not None:
        settings["sharpness_weighting"] = args.sharpness_weighting
    if "start" in settings and "end" in settings and not settings["end"] > settings["start"]:
        return f"--end {settings['end']:g} s is not after --start {settings['start']:g} s"
    percentiles = None if args.percentiles is None else [float(p) for p in args.percentiles.split(",") if p]
    if percentiles is not None:
        settings["percentiles"] = percentiles
    if args.series_dir is not None and not os.path.isdir(args.series_dir):
        return f"--series-dir {args.series_dir} is not a directory that can be written"
    return names, kind, percentiles, settings


def _json_value(v):
    if v is None or v is getattr(sys.modules.get("pandas"), "NA", None):
        return None
    if isinstance(v, (float, np.floating)):
        return float(v) if math.isfinite(v) else None
    if isinstance(v, np.integer):
        return int(v)
    return v


def write_results(frame, stream, kind):
    """Write a result of :func:`analyze` as CSV or JSON lines (``kind``
    "csv" or "jsonl") to a text stream. Every value keeps all its digits;
    a missing one is an empty field or null."""
    if kind == "csv":
        frame.to_csv(stream, index=False, lineterminator="\n")
        return
    names = list(frame.columns)
    for row in frame.itertuples(index=False, name=None):
        # ensure_ascii writes a file name's undecodable bytes as \udcXX, as
        # the command-line tool's JSON does.
        stream.write(json.dumps({k: _json_value(v) for k, v in zip(names, row)}, allow_nan=False) + "\n")


def _write_output(frame, output, kind, out):
    if output == "-":
        write_results(frame, out, kind)
        out.flush()
        return
    # Written beside the target and renamed over it once complete, so a
    # failure leaves a previous file as it was.
    folder = os.path.dirname(os.path.abspath(output))
    fd, scratch = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(output) + ".")
    try:
        with open(fd, "w", encoding="utf-8", errors="surrogateescape", newline="") as stream:
            write_results(frame, stream, kind)
        os.replace(scratch, output)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(scratch)
        raise


def run(args, out=None, err=None):
    """Carry out the batch command; returns the exit status: 0 when every
    file and metric succeeded, 1 when any failed, 2 for usage errors."""
    out = sys.stdout if out is None else out
    err = sys.stderr if err is None else err
    prog = "quarnelo batch"
    usage = _usage(args)
    if isinstance(usage, str):
        print(f"{prog}: {usage}", file=err)
        return 2
    names, kind, percentiles, settings = usage
    try:
        import distributed  # noqa: F401
        import pandas  # noqa: F401
    except ImportError as exc:
        print(f"{prog}: needs python3-distributed and python3-pandas ({exc})", file=err)
        return 1
    channel = None if args.channel == "all" else int(args.channel)
    paths, names, cal = _prepare(args.files, names, _files.calibration_of_arguments(args), args.field, channel)
    try:
        series_dir = None if args.series_dir is None else os.path.abspath(args.series_dir)
        outcomes = _run(paths, names, args.field, channel, cal, args.scheduler, args.workers,
                        progress=err.isatty(), settings=settings, series_dir=series_dir)
    except ValueError as exc:  # the calibrator recording
        print(f"{prog}: {exc}", file=err)
        return 1
    except (OSError, TimeoutError) as exc:
        where = f"the scheduler at {args.scheduler}" if args.scheduler else "a local cluster"
        print(f"{prog}: cannot run on {where}: {exc}", file=err)
        return 1
    failed = False
    for o in outcomes:
        if o.error:
            print(f"{prog}: {o.path}: {o.error}", file=err)
            failed = True
            continue
        for r in o.channels:
            for metric, reason in r["errors"]:
                print(f"{prog}: {o.path}: channel {r['row']['channel']}: {metric}: {reason}", file=err)
                failed = True
        if o.series_error:
            print(f"{prog}: {o.path}: {o.series_error}", file=err)
            failed = True
    try:
        _write_output(_frame(outcomes, names, percentiles), args.output, kind, out)
    except OSError as exc:
        print(f"{prog}: {args.output}: the results could not be written: {exc}", file=err)
        return 1
    return 1 if failed else 0
