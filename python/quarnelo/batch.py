"""Batch analysis of many sound files on a Dask cluster.

:func:`analyze` runs one task per file and channel on a Dask client (a
local cluster with one worker process per core when none is given, or any
client connected to a scheduler) and returns a pandas DataFrame with one row
per file and channel and one column per single value: the names and values
of ``quarnelo analyze --format json`` for the same files. Only paths travel:
each worker reads its own files, so a cluster whose workers share a file
system scales with the number of workers.

Each task reads one channel (libsndfile reads the file block by block and
the other channels are dropped), resamples it to 48 kHz with libsoxr as the
tool does, calibrates it and runs every selected metric; the library
releases the GIL in every call. The ISO 532-1 metrics run on a
:class:`quarnelo.LoudnessMeter`, so the time-varying loudness never holds
its specific-loudness patterns beyond one block.

``python3 -m quarnelo batch FILE... -o results.csv`` is the same on the
command line. Needs python3-pandas and python3-distributed.
"""

import contextlib
import json
import math
import numbers
import os
import sys
import tempfile
from dataclasses import dataclass
from typing import Callable

import numpy as np

from . import _audio, _calibration, _errors, _statistics
from ._errors import QuarneloError
from ._meter import LoudnessMeter
from ._metrics import (
    bark_axis,
    loudness,
    roughness_dw,
    roughness_ecma,
    sharpness,
    tonality_aures,
    tonality_ecma,
)

# Samples handed to the loudness meter at a time: one second, whose
# specific-loudness patterns take about 1 MB.
_METER_BLOCK = 48000


class _Refused(Exception):
    """A metric the library refused for this channel, with the reason."""


def _reason(metric, exc):
    return f"{metric}: {exc.message}"


def _stationary_reason(exc):
    text = _reason("loudness", exc)
    # The only argument the stationary loudness refuses once the call is
    # well formed: its tables end at 120 dB in the bands up to 250 Hz.
    if exc.status == _errors.INVALID_ARGUMENT:
        text += (": a third-octave band at or below 250 Hz is above 120 dB, beyond the tables of the "
                 "stationary method (loudness-time accepts such levels)")
    return text


class _Channel:
    """One channel at 48 kHz in pascal and the ISO 532-1 analyses that
    several metrics share, each computed once. The stationary and the
    time-varying loudness come from one pass of a loudness meter when the
    time-varying one is asked for; a refusal is kept and raised again as
    :class:`_Refused` for every metric that needs it."""

    def __init__(self, x, field, metrics):
        self.x = x
        self.field = field
        self._with_time = "loudness-time" in metrics or "sharpness" in metrics
        self._with_frame_sharpness = "sharpness" in metrics
        self._stationary = None  # (Loudness or None, reason)
        self._time = None        # (loudness per frame, sharpness per frame or reason, reason)

    def stationary(self):
        if self._stationary is None:
            if self._with_time:
                self._run_meter()
            if self._stationary is None:
                self._stationary = self._whole_signal_stationary()
        result, reason = self._stationary
        if result is None:
            raise _Refused(reason)
        return result

    def time_varying(self):
        """(loudness per frame, sharpness per frame or the reason it failed)."""
        if self._time is None:
            self._run_meter()
        frames, per_frame, reason = self._time
        if frames is None:
            raise _Refused(reason)
        return frames, per_frame

    def _whole_signal_stationary(self):
        try:
            return loudness(self.x, field=self.field), ""
        except QuarneloError as exc:
            return None, _stationary_reason(exc)

    def _run_meter(self):
        loud, sharp, sharp_reason = [], [], ""
        with LoudnessMeter(field=self.field) as meter:
            try:
                for start in range(0, self.x.size, _METER_BLOCK):
                    frames = meter.add(self.x[start:start + _METER_BLOCK], specific=self._with_frame_sharpness)
                    loud.append(frames.loudness)
                    if self._with_frame_sharpness and not sharp_reason:
                        try:
                            sharp.append(sharpness(frames.specific))
                        except QuarneloError as exc:
                            sharp_reason = _reason("sharpness", exc)
            except QuarneloError as exc:
                self._time = (None, None, _reason("loudness-time", exc))
                return  # the stationary loudness is then computed on its own
            per_frame = sharp_reason or (np.concatenate(sharp) if sharp else np.empty(0))
            self._time = (np.concatenate(loud), per_frame, "")
            if self.x.size >= 256:
                try:
                    self._stationary = (meter.stationary(), "")
                except QuarneloError as exc:
                    self._stationary = (None, _stationary_reason(exc))


def _loudness_values(ch):
    s = ch.stationary()
    peak = int(np.argmax(s.specific))
    return s.loudness, float(s.specific[peak]), float(bark_axis()[peak])


def _loudness_time_values(ch):
    frames, _ = ch.time_varying()
    n = _statistics.floored(frames, frames)
    return _statistics.max_of(n), _statistics.exceeded(n, 5), _statistics.exceeded(n, 10), _statistics.mean(n)


def _sharpness_values(ch):
    s = ch.stationary()
    try:
        value = sharpness(s)
    except QuarneloError as exc:
        raise _Refused(_reason("sharpness", exc)) from None
    frames, per_frame = ch.time_varying()
    if isinstance(per_frame, str):
        raise _Refused(per_frame)
    return value, _statistics.mean(_statistics.floored(per_frame, frames))


def _library_call(metric, call, extra=None):
    try:
        return call()
    except QuarneloError as exc:
        reason = _reason(metric, exc)
        if extra and exc.status in extra:
            reason += extra[exc.status]
        raise _Refused(reason) from None


def _roughness_dw_values(ch):
    r = _library_call("roughness-dw", lambda: roughness_dw(ch.x)).roughness
    return _statistics.mean(r), _statistics.max_of(r)


def _tonality_aures_values(ch):
    t = _library_call("tonality-aures", lambda: tonality_aures(ch.x, field=ch.field), {
        _errors.NUMERICAL_FAILURE: " (a very loud low-frequency sound, above 120 dB in a third-octave band up "
                                   "to 250 Hz, is beyond the loudness model)"}).tonality
    return _statistics.mean(t), _statistics.max_of(t)


def _tonality_ecma_values(ch):
    r = _library_call("tonality-ecma", lambda: tonality_ecma(ch.x, field=ch.field))
    value, maximum, _ = r.summary()
    band, frequency = r.strongest()
    return value, maximum, 0.5 * (band + 1) if band is not None else 0.0, frequency


def _roughness_ecma_values(ch):
    r = _library_call("roughness-ecma", lambda: roughness_ecma(ch.x, field=ch.field))
    return r.roughness, _statistics.mean(r.total), _statistics.max_of(r.total)


@dataclass(frozen=True)
class _Metric:
    name: str            # as the command-line tool names it
    min_samples: int     # at 48 kHz
    quantities: tuple    # (name, unit) of each single value, in order
    values: Callable     # _Channel -> the single values in that order


_METRICS = (
    _Metric("loudness", 256, (("loudness", "sone"), ("specific_peak", "sone/Bark"),
                              ("specific_peak_rate", "Bark")), _loudness_values),
    _Metric("loudness-time", 1, (("max", "sone"), ("n5", "sone"), ("n10", "sone"), ("mean", "sone")),
            _loudness_time_values),
    _Metric("sharpness", 256, (("sharpness", "acum"), ("mean_per_frame", "acum")), _sharpness_values),
    _Metric("roughness-dw", 9600, (("mean", "asper"), ("max", "asper")), _roughness_dw_values),
    _Metric("tonality-aures", 12000, (("mean", "t.u."), ("max", "t.u.")), _tonality_aures_values),
    _Metric("tonality-ecma", 14592, (("tonality", "tu_HMS"), ("max", "tu_HMS"), ("strongest_rate", "Bark"),
                                     ("strongest_frequency", "Hz")), _tonality_ecma_values),
    _Metric("roughness-ecma", 15360, (("roughness", "asper"), ("mean", "asper"), ("max", "asper")),
            _roughness_ecma_values),
)
_BY_NAME = {m.name: m for m in _METRICS}

#: The metrics, named as ``quarnelo analyze --metrics`` names them.
METRICS = tuple(m.name for m in _METRICS)


def columns(metrics=None):
    """The value columns of the selected metrics, ``"metric.quantity"``
    (``"loudness-time.n5"``), in the order :func:`analyze` gives them."""
    return [f"{name}.{q}" for name in _metric_names(metrics) for q, _ in _BY_NAME[name].quantities]


def units(metrics=None):
    """The unit of each value column, by column name."""
    return {f"{name}.{q}": unit for name in _metric_names(metrics) for q, unit in _BY_NAME[name].quantities}


def _metric_names(metrics):
    if metrics is None:
        return METRICS
    names = metrics.split(",") if isinstance(metrics, str) else list(metrics)
    unknown = [n for n in names if n not in _BY_NAME]
    if unknown:
        raise ValueError(f"unknown metric {unknown[0]!r}; the metrics are {', '.join(METRICS)}")
    # Each once, in the order of the table.
    return tuple(n for n in METRICS if n in names)


def _seconds(samples):
    return "%.3g s" % (samples / 48000.0)


def analyse_channel(x, metrics=None, field="free"):
    """Every selected metric of one channel at 48 kHz in pascal, as the
    command-line tool analyses a channel.

    Returns ``(values, errors)``: the single values by column name
    (``"loudness-time.n5"``), and ``(metric, reason)`` for each metric that
    failed (too short, or refused by the library); a non-finite sample fails
    the whole channel as ``("input", ...)``.
    """
    names = _metric_names(metrics)
    x = np.ascontiguousarray(x, dtype=np.float64)
    finite = np.isfinite(x)
    if not finite.all():
        return {}, [("input", f"sample {int(np.argmin(finite))} is NaN or infinite")]
    del finite
    channel = _Channel(x, field, names)
    values, errors = {}, []
    for name in names:
        metric = _BY_NAME[name]
        if x.size < metric.min_samples:
            errors.append((name, f"too short: {_seconds(x.size)}, needs at least {_seconds(metric.min_samples)}"))
            continue
        try:
            result = metric.values(channel)
        except _Refused as exc:
            # The metric's name stands once: a reason that begins with it
            # drops it (another name, the loudness a sharpness needs, stays).
            reason = str(exc)
            errors.append((name, reason[len(name) + 2:] if reason.startswith(f"{name}: ") else reason))
        except MemoryError:
            errors.append((name, "out of memory"))
        else:
            values.update((f"{name}.{q}", float(v)) for (q, _), v in zip(metric.quantities, result))
    return values, errors


# --- Tasks (run on the workers) ---------------------------------------------


def _probe(path):
    """The channel count of a file, or the reason it cannot be analysed."""
    try:
        with _audio.SoundFile(path) as f:
            return f.format.channels, ""
    except _audio.AudioError as exc:
        return 0, str(exc)


def _analyse_file_channel(path, channel, metrics, field, calibration):
    """One channel (from 1) of a file: a dict with the file's rate,
    channels and duration, the channel's calibration, values and errors;
    or with ``"file_error"`` when the file itself cannot be analysed."""
    try:
        with _audio.SoundFile(path) as f:
            fmt = f.format
            found = f.read([channel - 1])
            frames = f.frames
    except _audio.AudioError as exc:
        return {"file_error": str(exc)}
    if not found:
        return {"file_error": f"has {fmt.channels} channel(s), channel {channel} asked for"}
    out = {"channel": channel, "sample_rate": fmt.sample_rate, "channels": fmt.channels, "duration_s": frames / fmt.sample_rate,
           "calibration": calibration.describe(channel - 1)}
    # Resampled, calibrated and analysed in place; the channel is the only
    # one held.
    try:
        x = _audio.resample_to_48k(found.pop(), fmt.sample_rate)
    except _audio.AudioError as exc:
        return {**out, "values": {}, "errors": [("input", str(exc))]}
    factor = calibration.factor(channel - 1)
    if factor != 1.0:
        x *= factor
    values, errors = analyse_channel(x, metrics, field)
    return {**out, "values": values, "errors": errors}


def _read_calibrator(path, name, spl_db):
    """The calibration from a calibrator recording (`name` as the user gave
    it), or the reason it cannot be used, as the tool words it."""
    try:
        with _audio.SoundFile(path) as f:
            channels = f.read(range(f.format.channels))
        return _calibration.calibrator(channels, name, spl_db), ""
    except (_audio.AudioError, ValueError) as exc:
        text = str(exc)
        return None, text if text.startswith("calibration file") else f"calibration file {name}: {text}"


# --- Driving the cluster ----------------------------------------------------


def _calibration_of(calibration):
    """A Calibration, or ("calibrator", file, level) to be read on a worker,
    from what :func:`analyze` accepts; ValueError for anything else."""
    if calibration is None:
        return _calibration.pa_per_unit(1.0)
    if isinstance(calibration, _calibration.Calibration):
        return calibration
    if isinstance(calibration, (int, float)) and not isinstance(calibration, bool):
        calibration = {"pa_per_unit": calibration}
    if not isinstance(calibration, dict):
        raise ValueError("calibration: a number (Pa per unit) or a dict with pa_per_unit, full_scale_spl, "
                         f"or cal_file and cal_spl; not {calibration!r}")
    keys = set(calibration)
    if keys == {"pa_per_unit"}:
        reason = _calibration.check_pa_per_unit("pa_per_unit", float(calibration["pa_per_unit"]))
        if reason:
            raise ValueError(reason)
        return _calibration.pa_per_unit(calibration["pa_per_unit"])
    if keys == {"full_scale_spl"}:
        reason = _calibration.check_level("full_scale_spl", float(calibration["full_scale_spl"]))
        if reason:
            raise ValueError(reason)
        return _calibration.full_scale(float(calibration["full_scale_spl"]))
    if keys == {"cal_file", "cal_spl"}:
        reason = _calibration.check_level("cal_spl", float(calibration["cal_spl"]))
        if reason:
            raise ValueError(reason)
        return ("calibrator", os.fspath(calibration["cal_file"]), float(calibration["cal_spl"]))
    raise ValueError("calibration: give one of pa_per_unit, full_scale_spl, or cal_file with cal_spl; "
                     f"not {sorted(keys)}")


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


def _run(paths, names, field, channel, calibration, client, workers, progress):
    from distributed import as_completed, wait

    # The workers read absolute paths, whatever their working directory;
    # the rows name the files as given.
    readable = [os.path.abspath(p) for p in paths]
    with _session(client, workers) as c:
        if isinstance(calibration, tuple):
            _, name, level = calibration
            calibration, reason = c.submit(_read_calibrator, os.path.abspath(name), name, level,
                                           pure=False).result()
            if calibration is None:
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
            wanted = [channel] if channel else range(1, count + 1)
            tasks[i] = [c.submit(_analyse_file_channel, readable[i], ch, names, field, calibration, pure=False)
                        for ch in wanted]
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
            else:
                outcome.channels = results
        return outcomes


def _frame(outcomes, names):
    import pandas as pd

    value_columns = columns(names)
    rows = []
    for o in outcomes:
        if o.error:
            rows.append({"file": o.path, "error": o.error})
            continue
        for r in o.channels:
            rows.append({"file": o.path, "channel": r["channel"], "sample_rate": r["sample_rate"],
                         "duration_s": r["duration_s"], "calibration": r["calibration"], **r["values"],
                         "error": "; ".join(f"{m}: {reason}" for m, reason in r["errors"]) or None})
    frame = pd.DataFrame(rows, columns=["file", "channel", "sample_rate", "duration_s", "calibration",
                                        *value_columns, "error"])
    frame["channel"] = frame["channel"].astype("Int64")
    frame["sample_rate"] = frame["sample_rate"].astype("Int64")
    frame[["duration_s", *value_columns]] = frame[["duration_s", *value_columns]].astype(np.float64)
    frame.attrs["units"] = {"duration_s": "s", **units(names)}
    return frame


def _prepare(paths, metrics, calibration, field, channel):
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    paths = [os.fsdecode(p) for p in paths]
    names = _metric_names(metrics)
    if field not in ("free", "diffuse"):
        raise ValueError(f"field: 'free' or 'diffuse', not {field!r}")
    if channel is not None and not (isinstance(channel, numbers.Integral) and not isinstance(channel, bool)
                                    and 1 <= channel <= 1024):
        raise ValueError(f"channel: a channel number from 1, or None for every channel; not {channel!r}")
    return paths, names, _calibration_of(calibration)


def analyze(paths, metrics=None, calibration=None, field="free", client=None, *, channel=None, workers=None,
            progress=False):
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
    """
    paths, names, cal = _prepare(paths, metrics, calibration, field, channel)
    outcomes = _run(paths, names, field, channel, cal, client, workers, progress)
    return _frame(outcomes, names)


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
    parser.add_argument("--metrics", metavar="LIST",
                        help="metrics, comma-separated (default: all): " + ", ".join(METRICS))
    parser.add_argument("--field", choices=("free", "diffuse"), default="free",
                        help="sound field of the loudness and ECMA-418-2 metrics (default free)")
    parser.add_argument("--channel", default="all",
                        help="a channel number (from 1), or 'all': each channel on its own (default)")
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
    reason = ""
    if args.pa_per_unit is not None:
        reason = _calibration.check_pa_per_unit("--pa-per-unit", args.pa_per_unit)
    elif args.full_scale_spl is not None:
        reason = _calibration.check_level("--full-scale-spl", args.full_scale_spl)
    elif args.cal_spl is not None:
        reason = _calibration.check_level("--cal-spl", args.cal_spl)
    if reason:
        return reason
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
        names = _metric_names(args.metrics) if args.metrics is not None else METRICS
    except ValueError as exc:
        return str(exc)
    return names, kind


def _calibration_argument(args):
    if args.pa_per_unit is not None:
        return {"pa_per_unit": args.pa_per_unit}
    if args.full_scale_spl is not None:
        return {"full_scale_spl": args.full_scale_spl}
    if args.cal_file is not None:
        return {"cal_file": args.cal_file, "cal_spl": args.cal_spl}
    return None


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
    names, kind = usage
    try:
        import distributed  # noqa: F401
        import pandas  # noqa: F401
    except ImportError as exc:
        print(f"{prog}: needs python3-distributed and python3-pandas ({exc})", file=err)
        return 1
    channel = None if args.channel == "all" else int(args.channel)
    paths, names, cal = _prepare(args.files, names, _calibration_argument(args), args.field, channel)
    try:
        outcomes = _run(paths, names, args.field, channel, cal, args.scheduler, args.workers,
                        progress=err.isatty())
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
                print(f"{prog}: {o.path}: channel {r['channel']}: {metric}: {reason}", file=err)
                failed = True
    try:
        _write_output(_frame(outcomes, names), args.output, kind, out)
    except OSError as exc:
        print(f"{prog}: {args.output}: the results could not be written: {exc}", file=err)
        return 1
    return 1 if failed else 0
