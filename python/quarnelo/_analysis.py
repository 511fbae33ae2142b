"""The analysis of a file (or a signal) with the metric table, as the
command-line tool runs it: :func:`analyze_file`, and the results it gives.

The work is the file layer's (libquarnelo_files): reading, resampling,
calibration, each metric's analysis in bounded memory and the statistics of
its single values. So ``analyze_file(path).to_dict()`` is the entry of
``quarnelo analyze --format json`` for that file, to the bit.
"""

import ctypes
import math
import os
from dataclasses import dataclass, field
from typing import Optional

import numpy as np

from . import _errors, _files
from ._library import _doubles


@dataclass(frozen=True, eq=False)
class Series:
    """A series of a metric: values over one axis (a value per frame) or
    two (a pattern per frame).

    Attributes
    ----------
    name, unit : str
        The quantity and its unit ("specific_loudness", "sone/Bark").
    values : numpy.ndarray
        Shape (frames,) or (frames, points).
    axes : tuple
        One ``(name, unit, points)`` per axis: ("time", "s", ...), then for
        patterns ("rate", "Bark", ...) or ("frequency", "Hz", ...).
    variable : str
        Its name in a series file and in :meth:`FileAnalysis.to_xarray`:
        ``"<metric>.<name>"``.
    dimensions : tuple of str
        The dimension of each axis there: ``"<metric>.time"``, ``"bark"``
        or ``"band"``.
    coordinates : tuple
        One tuple per axis of its further coordinates, ``(name, unit,
        points)``: the bands' centre frequencies ("band_frequency", "Hz")
        along "band".
    """

    name: str
    unit: str
    values: np.ndarray
    axes: tuple
    variable: str = ""
    dimensions: tuple = ()
    coordinates: tuple = ()

    def __repr__(self):
        return f"Series({self.name!r}, {self.unit!r}, shape {self.values.shape})"


@dataclass(frozen=True, eq=False)
class MetricResult:
    """One metric of one channel: its single values, or why it failed.

    Attributes
    ----------
    name : str
        The metric, as ``quarnelo analyze --metrics`` names it.
    values : dict
        Each single value by its name (``{"n5": 12.3, ...}``), in the order
        of the metric table.
    units : dict
        The unit of each single value.
    series : dict
        The :class:`Series` by name, when asked for.
    error : str or None
        Why the metric failed for this channel.
    """

    name: str
    values: dict
    units: dict
    series: dict = field(default_factory=dict)
    error: Optional[str] = None

    def __repr__(self):
        if self.error:
            return f"MetricResult({self.name!r}, error={self.error!r})"
        shown = ", ".join(f"{k}={v:.6g}" for k, v in self.values.items())
        return f"MetricResult({self.name!r}, {shown})"


@dataclass(frozen=True, eq=False)
class ChannelResult:
    """Every metric of one channel of a file.

    Attributes
    ----------
    channel : int
        The channel's number in the file, from 1; 0 for the binaural result
        of a head recording (:attr:`FileAnalysis.binaural`).
    calibration : str
        The calibration, as the tool describes it.
    metrics : dict
        A :class:`MetricResult` by metric name, in the order asked for.
    error : str or None
        Why none of the metrics could run (a sample that is NaN or infinite).
    """

    channel: int
    calibration: str
    metrics: dict
    error: Optional[str] = None

    @property
    def errors(self):
        """``(metric, reason)`` of every failure of the channel, as the tool
        lists them (a channel's own failure as metric "input")."""
        found = [("input", self.error)] if self.error else []
        return found + [(m.name, m.error) for m in self.metrics.values() if m.error]

    def __getitem__(self, metric):
        return self.metrics[metric]

    def __repr__(self):
        ok = sum(1 for m in self.metrics.values() if not m.error)
        return f"ChannelResult(channel {self.channel}, {ok} of {len(self.metrics)} metrics)"


@dataclass(frozen=True, eq=False)
class FileAnalysis:
    """Every metric of every channel of a file, as ``quarnelo analyze``
    reports it.

    Attributes
    ----------
    file : str
        The path as given.
    error : str or None
        Why the file could not be analysed at all (its channels and metrics
        may have failures of their own).
    status : int
        The status of that failure (0 when none).
    sample_rate, channels : int
        What the file declares (0 when it could not be read).
    duration_s : float
        Frames read / sample rate.
    resampled : bool
        Whether it was resampled to 48 kHz.
    results : tuple of ChannelResult
        One per analysed channel; ``analysis[i]`` is ``results[i]``.
    start_s : float
        Where the analysed stretch begins in the file (``duration_s`` is
        its length).
    calibration : str
        The channels' calibration in one text, as series files record it.
    series_file : str or None
        The series file written (``series_dir``).
    series_error : str or None
        Why it could not be written.
    field : str
        The sound field analysed, ``"free"`` or ``"diffuse"``.
    binaural : ChannelResult or None
        For a file of two channels taken as the ears of a head recording
        (``binaural=True``, the default): the metrics ECMA-418-2 combines
        over two ears (loudness-ecma, roughness-ecma), the ears' band values
        combined per frame and band and reduced as one ear's, as the tool's
        ``binaural`` entry; channel 0. None otherwise.
    """

    file: str
    error: Optional[str]
    status: int
    sample_rate: int
    channels: int
    duration_s: float
    resampled: bool
    results: tuple
    start_s: float = 0.0
    calibration: str = ""
    series_file: Optional[str] = None
    series_error: Optional[str] = None
    field: str = "free"
    binaural: Optional[ChannelResult] = None

    def __getitem__(self, index):
        return self.results[index]

    def __len__(self):
        return len(self.results)

    def __repr__(self):
        if self.error:
            return f"FileAnalysis({self.file!r}, error={self.error!r})"
        return (f"FileAnalysis({self.file!r}, {self.sample_rate} Hz, {self.channels} channel(s), "
                f"{self.duration_s:.3f} s, {len(self.results)} analysed)")

    def to_dict(self):
        """The file's entry of ``quarnelo analyze --format json`` (without
        series): the same keys, values and order of errors. As there, a
        value that is not finite (the -inf dB of a level of silence, which
        :attr:`MetricResult.values` keeps) is None, JSON's null."""
        if self.error:
            return {"file": self.file, "error": self.error}

        def channel_entry(c):
            metrics = {m.name: {q: {"value": v if math.isfinite(v) else None, "unit": m.units[q]}
                                for q, v in m.values.items()}
                       for m in c.metrics.values() if not m.error}
            errors = [{"metric": name, "error": reason} for name, reason in c.errors]
            number = {"channel": c.channel} if c.channel else {}
            return {**number, "calibration": c.calibration, "metrics": metrics, "errors": errors}

        entry = {"file": self.file, "sample_rate": self.sample_rate, "resampled_to_48k": self.resampled,
                 "channels": self.channels, "start_s": self.start_s, "duration_s": self.duration_s,
                 "results": [channel_entry(c) for c in self.results]}
        if self.binaural is not None:
            entry["binaural"] = channel_entry(self.binaural)
        if self.series_file is not None:
            entry["series_file"] = self.series_file
        if self.series_error is not None:
            entry["series_error"] = self.series_error
        return entry

    def rows(self):
        """One dict per channel (one for a file that failed): ``file``,
        ``channel``, ``sample_rate``, ``duration_s``, ``calibration``, each
        single value as ``"metric.quantity"`` and ``error`` (every failure as
        ``"metric: reason"`` joined by ``"; "``, and the series file's
        failure after them, or None)."""
        if self.error:
            return [{"file": self.file, "error": self.error}]
        rows = []
        for c in self.results:
            row = {"file": self.file, "channel": c.channel, "sample_rate": self.sample_rate,
                   "duration_s": self.duration_s, "calibration": c.calibration}
            for m in c.metrics.values():
                row.update((f"{m.name}.{q}", v) for q, v in m.values.items())
            errors = [f"{name}: {reason}" for name, reason in c.errors]
            if self.series_error:
                errors.append(self.series_error)
            row["error"] = "; ".join(errors) or None
            rows.append(row)
        return rows

    def to_dataframe(self, metrics=None, percentiles=None):
        """:meth:`rows` as a pandas DataFrame with a column for every single
        value of the metrics analysed (NaN where one failed); give the
        ``percentiles`` of the analysis when it had others than each
        metric's own."""
        names = metrics if metrics is not None else self._metric_names()
        return frame_of_rows([row for row in self.rows()], names, percentiles)

    def to_xarray(self):
        """The series of every channel and metric as an xarray Dataset: the
        variables, dimensions, coordinates and attributes of the file's
        series file (``series_dir``), with the values as computed (float64;
        the file keeps them rounded to 16 significant bits). Needs
        ``series=True``; a channel where a metric failed holds NaN."""
        import xarray as xr

        if self.error:
            raise ValueError(f"to_xarray: {self.file}: {self.error}")
        channels = [c.channel for c in self.results]
        coords = {"channel": xr.Variable("channel", np.array(channels, dtype=np.int32),
                                         {"long_name": "channel of the file, from 1"})}
        variables, sizes = {}, {}
        for c in self.results:
            for m in c.metrics.values():
                for s in m.series.values():
                    entry = variables.setdefault(s.variable, {"dims": s.dimensions, "unit": s.unit, "values": {}})
                    entry["values"][c.channel] = s.values
                    for dim, (_, unit, points), further in zip(s.dimensions, s.axes, s.coordinates):
                        if points.size >= sizes.get(dim, -1):
                            sizes[dim] = points.size
                            coords[dim] = xr.Variable(dim, points, {"units": unit})
                            for name, coordinate_unit, values in further:
                                coords[name] = xr.Variable(dim, values, {"units": coordinate_unit})
        # The binaural series, over no channel.
        binaural = {}
        for m in (self.binaural.metrics.values() if self.binaural is not None else ()):
            for s in m.series.values():
                binaural[s.variable] = xr.Variable(s.dimensions, s.values, {"units": s.unit})
        if not variables and not binaural:
            raise ValueError(f"to_xarray: {self.file}: no series; analyse with series=True")
        data = {}
        for name, entry in variables.items():
            shape = (len(channels), *(sizes[d] for d in entry["dims"]))
            array = np.full(shape, np.nan)
            for k, channel in enumerate(channels):
                values = entry["values"].get(channel)
                if values is not None:
                    array[(k, *(slice(0, n) for n in values.shape))] = values
            data[name] = xr.Variable(("channel", *entry["dims"]), array, {"units": entry["unit"]})
        data.update(binaural)
        from ._files import flib

        attrs = {"source": f"libquarnelo_files {flib.qnf_version_string().decode()}", "input_file": self.file,
                 "calibration": self.calibration, "field": self.field, "sample_rate": self.sample_rate,
                 "start_s": self.start_s, "duration_s": self.duration_s}
        return xr.Dataset(data, coords, attrs)

    def _metric_names(self):
        for c in self.results:
            return tuple(c.metrics)
        return ()


def columns(metrics=None, percentiles=None):
    """The value columns of the metrics, ``"metric.quantity"``
    (``"loudness-time.n5"``), in the order the results give them, with the
    ``percentiles`` asked for (each metric's own by default)."""
    found = _files.quantities(percentiles)
    return [f"{name}.{q}" for name in _names(metrics) for q, _ in found[name]]


def units(metrics=None, percentiles=None):
    """The unit of each value column, by column name."""
    found = _files.quantities(percentiles)
    return {f"{name}.{q}": unit for name in _names(metrics) for q, unit in found[name]}


def _names(metrics):
    if metrics is None:
        return _files.DEFAULT_NAMES
    names = metrics.split(",") if isinstance(metrics, str) else list(metrics)
    unknown = [n for n in names if n not in _files.BY_NAME]
    if unknown:
        raise ValueError(f"unknown metric {unknown[0]!r}; the metrics are "
                         f"{', '.join(m['name'] for m in _files.METRICS)}")
    return tuple(names)


def dataframe(analyses, metrics=None, percentiles=None):
    """The rows of several :class:`FileAnalysis` as one DataFrame."""
    return frame_of_rows([row for a in analyses for row in a.rows()], metrics, percentiles)


def frame_of_rows(rows, metrics=None, percentiles=None):
    """Rows as :meth:`FileAnalysis.rows` gives them as a DataFrame: the
    columns of :meth:`FileAnalysis.to_dataframe`, units in
    ``frame.attrs["units"]``."""
    import pandas as pd

    value_columns = columns(metrics, percentiles)
    frame = pd.DataFrame(rows, columns=["file", "channel", "sample_rate", "duration_s", "calibration",
                                        *value_columns, "error"])
    frame["channel"] = frame["channel"].astype("Int64")
    frame["sample_rate"] = frame["sample_rate"].astype("Int64")
    frame[["duration_s", *value_columns]] = frame[["duration_s", *value_columns]].astype(np.float64)
    frame.attrs["units"] = {"duration_s": "s", **units(metrics, percentiles)}
    return frame


# --- Reading the file layer's tree of results --------------------------------

_f = _files.flib


def _text(value):
    return _files._decode(value)


def _axis(series, a):
    name, unit = ctypes.c_char_p(), ctypes.c_char_p()
    count = ctypes.c_uint64()
    _f.qnf_series_axis(series, a, ctypes.byref(name), ctypes.byref(unit), ctypes.byref(count), None, None, None)
    points = np.empty(count.value)
    if _f.qnf_series_axis_points(series, a, 0, points.ctypes.data_as(_doubles), points.size) != 0:
        raise _errors.error_class(_errors.UNREADABLE)(_errors.UNREADABLE, "the file cannot be read",
                                                      "analyze_file", "a series axis could not be read")
    return name.value.decode(), unit.value.decode(), points


def _coordinates(series, a):
    """The further coordinates along axis ``a``: ``(name, unit, points)``."""
    found = []
    name, unit = ctypes.c_char_p(), ctypes.c_char_p()
    points = ctypes.POINTER(ctypes.c_double)()
    count = ctypes.c_uint64()
    _f.qnf_series_axis(series, a, None, None, ctypes.byref(count), None, None, None)
    for i in range(_f.qnf_series_axis_coordinate_count(series, a)):
        _f.qnf_series_axis_coordinate(series, a, i, ctypes.byref(name), ctypes.byref(unit), ctypes.byref(points))
        values = np.ctypeslib.as_array(points, shape=(count.value,)).copy()
        found.append((name.value.decode(), unit.value.decode(), values))
    return tuple(found)


def _series(series):
    count = _f.qnf_series_axis_count(series)
    axes = tuple(_axis(series, a) for a in range(count))
    values = np.empty(_f.qnf_series_value_count(series))
    status = _f.qnf_series_values(series, 0, values.ctypes.data_as(_doubles), values.size)
    if status != 0:
        _files.raise_error(status, "analyze_file", b"a series could not be read back from its temporary file")
    if len(axes) == 2:
        values = values.reshape(axes[0][2].size, axes[1][2].size)
    dimensions = tuple(_f.qnf_series_axis_dimension(series, a).decode() for a in range(count))
    return Series(_f.qnf_series_name(series).decode(), _f.qnf_series_unit(series).decode(), values, axes,
                  _f.qnf_series_variable(series).decode(), dimensions,
                  tuple(_coordinates(series, a) for a in range(count)))


def _metric(m):
    name = _f.qnf_metric_name(m).decode()
    error = _text(_f.qnf_metric_error(m))
    values, unit_of = {}, {}
    q_name, q_unit, value = ctypes.c_char_p(), ctypes.c_char_p(), ctypes.c_double()
    for i in range(_f.qnf_metric_value_count(m)):
        _f.qnf_metric_value(m, i, ctypes.byref(q_name), ctypes.byref(value), ctypes.byref(q_unit))
        values[q_name.value.decode()] = value.value
        unit_of[q_name.value.decode()] = q_unit.value.decode()
    series = {}
    for i in range(_f.qnf_metric_series_count(m)):
        s = _series(_f.qnf_metric_series(m, i))
        series[s.name] = s
    return MetricResult(name, values, unit_of, series, error)


def _channel(c):
    metrics = {}
    for i in range(_f.qnf_channel_metric_count(c)):
        m = _metric(_f.qnf_channel_metric(c, i))
        metrics[m.name] = m
    return ChannelResult(_f.qnf_channel_number(c), _text(_f.qnf_channel_calibration(c)), metrics,
                         _text(_f.qnf_channel_error(c)))


def _file(f, field):
    fmt = _files.Format()
    _f.qnf_file_format(f, ctypes.byref(fmt))
    error = _text(_f.qnf_file_error(f))
    channels = tuple(_channel(_f.qnf_file_channel(f, i)) for i in range(_f.qnf_file_channel_count(f)))
    both = _f.qnf_file_binaural(f)
    return FileAnalysis(_text(_f.qnf_file_path(f)), error, _f.qnf_file_status(f), fmt.sample_rate, fmt.channels,
                        _f.qnf_file_duration(f), bool(fmt.resampled), channels, _f.qnf_file_start(f),
                        _text(_f.qnf_file_calibration(f)) or "", _text(_f.qnf_file_series_file(f)),
                        _text(_f.qnf_file_series_error(f)), field, _channel(both) if both else None)


def _options(function, metrics, calibration, field, channel, series, resample, max_memory, jobs, percentiles=None,
             start=None, end=None, skip=None, series_dir=None, series_name=None, binaural=True,
             sharpness_weighting="din", band_step=None):
    if isinstance(jobs, bool) or not isinstance(jobs, (int, np.integer)) or not 1 <= jobs <= 256:
        raise ValueError(f"{function}: jobs is a number of threads from 1 to 256, not {jobs!r}")
    if not isinstance(sharpness_weighting, str):
        raise TypeError(f"{function}: sharpness_weighting is 'din', 'bismarck', 'fastl' or 'aures', "
                        f"not {sharpness_weighting!r}")
    if band_step is not None and (isinstance(band_step, bool)
                                  or not isinstance(band_step, (int, float, np.integer, np.floating))):
        raise TypeError(f"{function}: band_step is a time in seconds, not {band_step!r}")
    if skip is not None and (isinstance(skip, bool) or not isinstance(skip, (int, float, np.integer, np.floating))):
        raise TypeError(f"{function}: skip is a time in seconds, not {skip!r}")
    return _files.Options(function, metrics=_files.metrics_option(metrics, function),
                          field=_files.field_option(field, function),
                          channel=_files.channel_option(channel, function),
                          series="1" if series else "0", resample="1" if resample else "0",
                          **{"max-memory": None if max_memory is None else str(max_memory)},
                          jobs=str(int(jobs)), **_files.calibration_options(calibration, function),
                          percentiles=_files.percentiles_option(percentiles, function),
                          skip=None if skip is None else repr(float(skip)),
                          **_files.stretch_options(start, end, function),
                          **{"series-dir": None if series_dir is None else os.fspath(series_dir),
                             "series-name": series_name, "sharpness-weighting": sharpness_weighting,
                             "band-step": None if band_step is None else repr(float(band_step))},
                          binaural="on" if binaural else "off")


def analyze_file(path, metrics=None, calibration=None, field="free", *, channel=None, series=False,
                 resample=True, max_memory=None, jobs=1, percentiles=None, start=None, end=None, skip=None,
                 series_dir=None, series_name=None, binaural=True, sharpness_weighting="din", band_step=None):
    """Every selected metric of every channel of a file, as ``quarnelo
    analyze`` reports it (the same values, to the bit).

    Parameters
    ----------
    path : str or path-like
        Any file libsndfile reads.
    metrics : iterable of str, or str, optional
        Metric names (``quarnelo.METRICS``), a list or one comma-separated
        string, in the order wanted; all by default.
    calibration : optional
        As :func:`quarnelo.read` takes it.
    field : {"free", "diffuse"}
        Sound field of the loudness metrics and the ECMA-418-2 ear filter.
    channel : int, optional
        Only this channel (from 1).
    series : bool
        Keep each metric's series and patterns with their axes.
    resample : bool
        Resample a file not at 48 kHz; with False it is refused.
    max_memory : str or int, optional
        The most the analysis may hold ("8G"); half the physical memory by
        default.
    jobs : int
        Threads: the channels and metrics of the file side by side.
    percentiles : sequence of float, optional
        Percentages 0 ... 100: every metric with a time series gives the
        value exceeded during each of them, named by its symbol ("n50",
        "r5"); by default 5 and 10 for loudness-time and none for the
        others; ``[]`` for none.
    start, end : float, optional
        Analyse only the stretch from ``start`` to ``end`` seconds of the
        file (its own time, each the nearest frame); the result is that of
        a file holding only the stretch, to the bit, its series' times in
        the file.
    skip : float, optional
        Seconds at the start of the analysed audio the statistics over
        frames leave out (a settling time); the ECMA-418-2 single values
        keep their own first frames.
    series_dir : str or path-like, optional
        Write the file's series, patterns included, to a NetCDF-4 file in
        this directory (``series_file`` of the result; open it with
        ``xarray.open_dataset``).
    series_name : str, optional
        The series file's name, instead of the file's base name with ".nc".
    binaural : bool
        Take a file of two channels for a head recording (the first the
        left ear) and give the ``binaural`` result of the metrics that
        combine two ears; False for two channels that are not ears.
    sharpness_weighting : {"din", "bismarck", "fastl", "aures"}
        The weighting of the sharpness metric (:func:`quarnelo.sharpness`).
    band_step : float, optional
        The interval in s of the series of the third-octave band levels
        (metric "levels"), 0.1 by default.

    Returns
    -------
    FileAnalysis
        A file that cannot be analysed is no exception: its ``error`` says
        why, as the tool's error line does.
    """
    function = "analyze_file"
    name = _files.path_argument(path, function)
    with _options(function, metrics, calibration, field, channel, series, resample, max_memory, jobs, percentiles,
                  start, end, skip, series_dir, series_name, binaural, sharpness_weighting, band_step) as o:
        results = ctypes.c_void_p()
        why = ctypes.create_string_buffer(_files._WHY)
        paths = (ctypes.c_char_p * 1)(name)
        status = _f.qnf_analyze_files(paths, 1, o.handle, _files._event_fn(), None, ctypes.byref(results), why,
                                      len(why))
        if status != _errors.SUCCESS:
            _files.raise_error(status, function, why.value)
    try:
        return _file(_f.qnf_results_file(results, 0), field)
    finally:
        _f.qnf_results_destroy(results)


def analyze_signal(signal, fs=48000, metrics=None, field="free", *, calibration=None, series=False, resample=False,
                   name="signal", percentiles=None, skip=None, binaural=True, sharpness_weighting="din",
                   band_step=None):
    """The analysis of :func:`analyze_file` on a signal in memory, shape
    (samples,) or (samples, channels), at ``fs``, in sample units times
    ``calibration`` (pascal by default); two channels are a head recording
    unless ``binaural`` is False."""
    function = "analyze_signal"
    from . import _inputs

    x = _inputs.real_array(signal, "signal", function)
    if x.ndim not in (1, 2):
        raise _errors.error_class(_errors.INVALID_ARGUMENT)(
            _errors.INVALID_ARGUMENT, "invalid argument", function,
            f"expected shape (samples,) or (samples, channels), got {x.shape}")
    x = np.ascontiguousarray(x, dtype=np.float64)
    width = 1 if x.ndim == 1 else x.shape[1]
    rate = _inputs.sample_rate(fs, function)
    with _options(function, metrics, calibration, field, None, series, resample, None, 1, percentiles,
                  skip=skip, binaural=binaural, sharpness_weighting=sharpness_weighting, band_step=band_step) as o:
        results = ctypes.c_void_p()
        why = ctypes.create_string_buffer(_files._WHY)
        status = _f.qnf_analyze_signal(x.ctypes.data_as(_doubles), x.shape[0], width, rate, name.encode(),
                                       o.handle, ctypes.byref(results), why, len(why))
        if status != _errors.SUCCESS:
            _files.raise_error(status, function, why.value)
    try:
        return _file(_f.qnf_results_file(results, 0), field)
    finally:
        _f.qnf_results_destroy(results)
