"""The file layer, libquarnelo_files, through ctypes.

Everything the package does with files goes through this library, the one
the command-line tool is built on: reading (libsndfile), resampling
(libsoxr), truncation, calibration, limits, the table of metrics and the
analysis of a file. So a file gives the same samples and the same values
here as in ``quarnelo analyze``, to the bit.
"""

import ctypes
import os

import numpy as np

from . import _errors
from ._library import _doubles, _int32, _status, _text, _uint64, _uint64_out, load_files

# Argument and result types, named after the C types of quarnelo_files.h.
_handle = ctypes.c_void_p            # every opaque handle and node
_handle_out = ctypes.POINTER(ctypes.c_void_p)
_size = ctypes.c_uint64
_why = ctypes.c_char_p               # char *why (a buffer)
_text_out = ctypes.POINTER(ctypes.c_char_p)
_double_out = ctypes.POINTER(ctypes.c_double)
_double_pointer_out = ctypes.POINTER(ctypes.POINTER(ctypes.c_double))


class Format(ctypes.Structure):
    """qnf_format: what a reader delivers and what a file declares."""

    _fields_ = [("sample_rate", ctypes.c_int32), ("channels", ctypes.c_int32), ("frames", ctypes.c_uint64),
                ("resampled", ctypes.c_int32), ("channels_read", ctypes.c_int32),
                ("first_channel", ctypes.c_int32)]


class MetricInfo(ctypes.Structure):
    """qnf_metric_info: one metric's descriptor."""

    _fields_ = [("name", ctypes.c_char_p), ("description", ctypes.c_char_p), ("title", ctypes.c_char_p),
                ("min_samples", ctypes.c_uint64), ("frame_length", ctypes.c_uint64), ("hop", ctypes.c_uint64),
                ("first_time", ctypes.c_double), ("uses_field", ctypes.c_int32),
                ("quantity_count", ctypes.c_uint64), ("series_count", ctypes.c_uint64),
                ("default_set", ctypes.c_int32)]


_event_fn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_int32, ctypes.c_uint64,
                             ctypes.c_uint64, ctypes.c_int32, ctypes.c_char_p)

# Every function of quarnelo_files.h, in the header's order: name, result
# type, argument types. A test compares this table with the header itself.
DECLARATIONS = (
    ("qnf_abi_version", _int32, ()),
    ("qnf_version_string", _text, ()),
    ("qnf_status_string", _text, (_status,)),
    ("qnf_options_create", _status, (_handle_out,)),
    ("qnf_options_destroy", None, (_handle,)),
    ("qnf_options_set", _status, (_handle, _text, _text, _why, _uint64)),
    ("qnf_options_quantity_count", _uint64, (_handle, _uint64)),
    ("qnf_options_quantity", _status, (_handle, _uint64, _uint64, _text_out, _text_out)),
    ("qnf_metric_count", _uint64, ()),
    ("qnf_metric_describe", _status, (_uint64, ctypes.POINTER(MetricInfo))),
    ("qnf_metric_quantity", _status, (_uint64, _uint64, _text_out, _text_out)),
    ("qnf_metric_series_info", _status, (_uint64, _uint64, _text_out, _text_out, _text_out)),
    ("qnf_reader_open", _status, (_text, _handle, _handle_out, _why, _uint64)),
    ("qnf_reader_close", None, (_handle,)),
    ("qnf_reader_format", _status, (_handle, ctypes.POINTER(Format))),
    ("qnf_reader_calibration", _status, (_handle, _int32, _double_out, _why, _uint64)),
    ("qnf_reader_read", _status, (_handle, _doubles, _uint64, _uint64_out, _why, _uint64)),
    ("qnf_resampled_length", _status, (_uint64, _int32, _uint64_out)),
    ("qnf_resample", _status, (_doubles, _uint64, _int32, _doubles, _uint64, _uint64_out)),
    ("qnf_analyze_files", _status,
     (ctypes.POINTER(ctypes.c_char_p), _uint64, _handle, _event_fn, ctypes.c_void_p, _handle_out, _why, _uint64)),
    ("qnf_analyze_signal", _status,
     (_doubles, _uint64, _int32, _int32, _text, _handle, _handle_out, _why, _uint64)),
    ("qnf_results_destroy", None, (_handle,)),
    ("qnf_results_file_count", _uint64, (_handle,)),
    ("qnf_results_file", _handle, (_handle, _uint64)),
    ("qnf_file_path", _text, (_handle,)),
    ("qnf_file_error", _text, (_handle,)),
    ("qnf_file_status", _status, (_handle,)),
    ("qnf_file_format", _status, (_handle, ctypes.POINTER(Format))),
    ("qnf_file_duration", ctypes.c_double, (_handle,)),
    ("qnf_file_start", ctypes.c_double, (_handle,)),
    ("qnf_file_calibration", _text, (_handle,)),
    ("qnf_file_series_file", _text, (_handle,)),
    ("qnf_file_series_error", _text, (_handle,)),
    ("qnf_file_channel_count", _uint64, (_handle,)),
    ("qnf_file_channel", _handle, (_handle, _uint64)),
    ("qnf_file_binaural", _handle, (_handle,)),
    ("qnf_channel_number", _int32, (_handle,)),
    ("qnf_channel_calibration", _text, (_handle,)),
    ("qnf_channel_error", _text, (_handle,)),
    ("qnf_channel_metric_count", _uint64, (_handle,)),
    ("qnf_channel_metric", _handle, (_handle, _uint64)),
    ("qnf_metric_name", _text, (_handle,)),
    ("qnf_metric_error", _text, (_handle,)),
    ("qnf_metric_value_count", _uint64, (_handle,)),
    ("qnf_metric_value", _status, (_handle, _uint64, _text_out, _double_out, _text_out)),
    ("qnf_metric_series_count", _uint64, (_handle,)),
    ("qnf_metric_series", _handle, (_handle, _uint64)),
    ("qnf_series_name", _text, (_handle,)),
    ("qnf_series_unit", _text, (_handle,)),
    ("qnf_series_variable", _text, (_handle,)),
    ("qnf_series_axis_count", _uint64, (_handle,)),
    ("qnf_series_axis", _status,
     (_handle, _uint64, _text_out, _text_out, _uint64_out, _double_out, _double_out, _double_pointer_out)),
    ("qnf_series_axis_dimension", _text, (_handle, _uint64)),
    ("qnf_series_axis_coordinate_count", _uint64, (_handle, _uint64)),
    ("qnf_series_axis_coordinate", _status,
     (_handle, _uint64, _uint64, _text_out, _text_out, _double_pointer_out)),
    ("qnf_series_axis_points", _status, (_handle, _uint64, _uint64, _doubles, _uint64)),
    ("qnf_series_value_count", _uint64, (_handle,)),
    ("qnf_series_values", _status, (_handle, _uint64, _doubles, _uint64)),
    ("qnf_series_file_name", _status, (ctypes.POINTER(ctypes.c_char_p), _uint64, _uint64, _why, _uint64)),
    ("qnf_exceeded", _status, (_doubles, _uint64, ctypes.c_double, _double_out)),
    ("qnf_frame_statistics", _status, (_doubles, _doubles, _uint64, _doubles, _uint64, _doubles, _uint64)),
    ("qnf_tonality_ecma_summary", _status,
     (_doubles, _uint64, ctypes.c_double, _double_out, _double_out, _uint64_out)),
)

ABI_VERSION = 1


def _declare(handle, where):
    try:
        abi = handle.qnf_abi_version
    except AttributeError:
        raise ImportError(f"quarnelo: {where} is not libquarnelo_files (no qnf_abi_version)") from None
    abi.restype, abi.argtypes = _int32, ()
    if abi() != ABI_VERSION:
        raise ImportError(f"quarnelo: {where} has ABI version {abi()}; this package needs {ABI_VERSION}")
    for name, restype, argtypes in DECLARATIONS:
        try:
            function = getattr(handle, name)
        except AttributeError:
            raise ImportError(f"quarnelo: {where} lacks {name}; the library is older than this package") from None
        function.restype, function.argtypes = restype, argtypes
    return handle


flib, path = load_files()
_declare(flib, path)

# Room for a reason: file names may be long.
_WHY = 8192


def _decode(text):
    """A text of the library: file names are bytes, kept as Python keeps
    them (undecodable bytes as surrogates)."""
    return None if text is None else os.fsdecode(text)


def path_argument(path, function):
    """A file name as bytes for the library, or a TypeError naming the
    function."""
    try:
        return os.fsencode(path)
    except TypeError:
        raise TypeError(f"{function}: path is a file name (str, bytes or os.PathLike), "
                        f"not {type(path).__name__}") from None


def status_string(status):
    return flib.qnf_status_string(int(status)).decode("ascii")


def raise_error(status, function, why):
    """The package's exception for a failing status of the file layer."""
    raise _errors.error_class(status)(status, status_string(status), function, _decode(why) or None)


class Options:
    """A qnf_options handle, released with the object (or a ``with``)."""

    def __init__(self, function, **values):
        self._function = function
        handle = ctypes.c_void_p()
        if flib.qnf_options_create(ctypes.byref(handle)) != _errors.SUCCESS:
            raise MemoryError(f"{function}: no memory for the options")
        self.handle = handle
        for name, value in values.items():
            if value is not None:
                self.set(name, value)

    def set(self, name, value):
        why = ctypes.create_string_buffer(512)
        text = os.fsencode(value) if isinstance(value, (bytes, os.PathLike)) or name == "cal-file" else str(value)
        if isinstance(text, str):
            text = text.encode()
        status = flib.qnf_options_set(self.handle, name.encode(), text, why, len(why))
        if status != _errors.SUCCESS:
            raise_error(status, self._function, why.value)

    def close(self):
        if self.handle:
            flib.qnf_options_destroy(self.handle)
            self.handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()


def calibration_options(calibration, function):
    """The options of a calibration given as :func:`quarnelo.read` takes it:
    None (samples are pascal), a number (Pa per unit), or a dict with
    ``pa_per_unit``, ``full_scale_spl``, or ``cal_file`` and ``cal_spl``."""
    if calibration is None:
        return {}
    if isinstance(calibration, (int, float, np.integer, np.floating)) and not isinstance(calibration, bool):
        calibration = {"pa_per_unit": calibration}
    if not isinstance(calibration, dict):
        raise TypeError(f"{function}: calibration is a number (Pa per unit) or a dict with pa_per_unit, "
                        f"full_scale_spl, or cal_file and cal_spl; not {calibration!r}")
    keys = set(calibration)
    if keys == {"pa_per_unit"}:
        return {"pa-per-unit": _number(calibration["pa_per_unit"], "pa_per_unit", function)}
    if keys == {"full_scale_spl"}:
        return {"full-scale-spl": _number(calibration["full_scale_spl"], "full_scale_spl", function)}
    if keys == {"cal_file", "cal_spl"}:
        return {"cal-file": os.fspath(calibration["cal_file"]),
                "cal-spl": _number(calibration["cal_spl"], "cal_spl", function)}
    raise ValueError(f"{function}: calibration takes one of pa_per_unit, full_scale_spl, or cal_file with "
                     f"cal_spl; not {sorted(map(str, keys))}")


def calibration_of_arguments(args):
    """The calibration of the commands' options (``--pa-per-unit``,
    ``--full-scale-spl``, ``--cal-file`` with ``--cal-spl``) as
    :func:`calibration_options` takes it."""
    if args.pa_per_unit is not None:
        return {"pa_per_unit": args.pa_per_unit}
    if args.full_scale_spl is not None:
        return {"full_scale_spl": args.full_scale_spl}
    if args.cal_file is not None:
        return {"cal_file": args.cal_file, "cal_spl": args.cal_spl}
    return None


def _number(value, what, function):
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{function}: {what} is a number, not {value!r}")
    return repr(float(value))


def channel_option(channel, function):
    if channel is None:
        return "all"
    if isinstance(channel, bool) or not isinstance(channel, (int, np.integer)) or not 1 <= channel <= 1024:
        raise ValueError(f"{function}: channel is a channel number from 1, or None for every channel; "
                         f"not {channel!r}")
    return str(int(channel))


def metrics_option(metrics, function):
    if metrics is None:
        return None
    try:
        names = metrics.split(",") if isinstance(metrics, str) else list(metrics)
    except TypeError:
        names = None
    if not names or not all(isinstance(n, str) for n in names):
        raise TypeError(f"{function}: metrics are metric names, e.g. ['loudness', 'roughness-ecma']")
    return ",".join(names)


def percentiles_option(percentiles, function):
    """The option "percentiles" of a sequence of percentages (None: each
    metric's own)."""
    if percentiles is None:
        return None
    if isinstance(percentiles, (str, bytes)) or not hasattr(percentiles, "__iter__"):
        percentiles = [percentiles]
    values = []
    for p in percentiles:
        if isinstance(p, bool) or not isinstance(p, (int, float, np.integer, np.floating)):
            raise TypeError(f"{function}: percentiles are numbers from 0 to 100, not {p!r}")
        values.append(repr(float(p)))
    return ",".join(values)


def quantities(percentiles=None):
    """The single values of every metric with these percentiles (each
    metric's own by default), by metric name: ``((name, unit), ...)`` in
    the order results give them."""
    if percentiles is None:
        return {m["name"]: m["quantities"] for m in METRICS}
    with Options("quantities", percentiles=percentiles_option(percentiles, "quantities")) as o:
        found = {}
        for i, m in enumerate(METRICS):
            names = []
            for q in range(flib.qnf_options_quantity_count(o.handle, i)):
                name, unit = ctypes.c_char_p(), ctypes.c_char_p()
                flib.qnf_options_quantity(o.handle, i, q, ctypes.byref(name), ctypes.byref(unit))
                names.append((name.value.decode(), unit.value.decode()))
            found[m["name"]] = tuple(names)
        return found


def series_file_names(paths):
    """The name of each path's series file in a run over ``paths``, as the
    file layer gives them (``take.nc``, and ``take_2.nc`` for a second
    input of that name)."""
    encoded = [os.fsencode(p) for p in paths]
    array = (ctypes.c_char_p * max(len(encoded), 1))(*encoded)
    names = []
    name = ctypes.create_string_buffer(_WHY)
    for i in range(len(encoded)):
        status = flib.qnf_series_file_name(array, len(encoded), i, name, len(name))
        if status != _errors.SUCCESS:
            raise_error(status, "series_file_names", None)
        names.append(_decode(name.value))
    return names


def field_option(field, function):
    if field not in ("free", "diffuse"):
        raise _errors.error_class(_errors.INVALID_SOUND_FIELD)(
            _errors.INVALID_SOUND_FIELD, "invalid sound field", function, f"{field!r}; use 'free' or 'diffuse'")
    return field


# --- The metric table ---------------------------------------------------------


def metric_table():
    """Every metric's descriptor as a dict: name, description, title,
    min_samples, frame_length, hop, first_time, uses_field, default_set and quantities
    (a tuple of (name, unit) of its single values)."""
    table = []
    for i in range(flib.qnf_metric_count()):
        info = MetricInfo()
        flib.qnf_metric_describe(i, ctypes.byref(info))
        quantities = []
        for q in range(info.quantity_count):
            name, unit = ctypes.c_char_p(), ctypes.c_char_p()
            flib.qnf_metric_quantity(i, q, ctypes.byref(name), ctypes.byref(unit))
            quantities.append((name.value.decode(), unit.value.decode()))
        table.append({"name": info.name.decode(), "description": info.description.decode(),
                      "title": info.title.decode(), "min_samples": info.min_samples,
                      "frame_length": info.frame_length, "hop": info.hop, "first_time": info.first_time,
                      "uses_field": bool(info.uses_field), "default_set": bool(info.default_set),
                      "quantities": tuple(quantities)})
    return tuple(table)


METRICS = metric_table()
BY_NAME = {m["name"]: m for m in METRICS}
# The file layer's default set (option "metrics" not given).
DEFAULT_NAMES = tuple(m["name"] for m in METRICS if m["default_set"])


# --- Resampling ---------------------------------------------------------------


def resample(x, rate, function):
    """A contiguous float64 signal at ``rate`` resampled to 48000 Hz as
    files are (libsoxr, very high quality)."""
    need = ctypes.c_uint64()
    status = flib.qnf_resampled_length(x.size, int(rate), ctypes.byref(need))
    if status != _errors.SUCCESS:
        raise _errors.error_class(status)(status, status_string(status), function,
                                          f"{rate} Hz; resampling takes 1000 ... 768000 Hz")
    out = np.empty(need.value)
    given = ctypes.c_uint64()
    status = flib.qnf_resample(x.ctypes.data_as(_doubles), x.size, int(rate), out.ctypes.data_as(_doubles),
                               out.size, ctypes.byref(given))
    if status != _errors.SUCCESS:
        detail = "the signal holds NaN or infinity" if status == _errors.NON_FINITE_INPUT else None
        raise _errors.error_class(status)(status, status_string(status), function, detail)
    return out[:given.value]


# --- Reading ------------------------------------------------------------------


def stretch_options(start, end, function):
    """The options "start" and "end" of a stretch in seconds (None: from
    the beginning, to the end)."""
    values = {}
    for name, value in (("start", start), ("end", end)):
        if value is None:
            continue
        if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
            raise TypeError(f"{function}: {name} is a time in seconds, not {value!r}")
        values[name] = repr(float(value))
    return values


def read(path, channel=None, calibration=None, *, resample=True, max_memory=None, start=None, end=None):
    """The calibrated sound pressure of a file at 48 kHz, as the command-line
    tool analyses it, bit for bit.

    Parameters
    ----------
    path : str or path-like
        Any file libsndfile reads (WAV, FLAC, AIFF, OGG/Opus, ...), or "-"
        for standard input.
    channel : int, optional
        A channel number from 1; every channel by default.
    calibration : optional
        Sample value times factor is pascal: None (1 Pa per unit), a number
        (Pa per unit), or a dict ``{"pa_per_unit": x}``,
        ``{"full_scale_spl": L}`` (a full-scale sine is L dB SPL) or
        ``{"cal_file": path, "cal_spl": L}`` (a calibrator recording of L dB
        SPL; one factor per channel when it has as many channels).
    resample : bool
        Resample a file not at 48 kHz (libsoxr, very high quality); with
        False such a file is refused.
    max_memory : str or int, optional
        The most the reading may hold ("8G"); half the physical memory by
        default.
    start, end : float, optional
        Only the stretch of the file from ``start`` to ``end`` seconds (in
        the file's own time, each the nearest frame; the rest is not read),
        resampled as a file holding only it would be.

    Returns
    -------
    numpy.ndarray
        Sound pressure in Pa at 48000 Hz: shape (samples,) for one channel
        (a mono file, or ``channel`` given), (samples, channels) otherwise.

    Raises
    ------
    QuarneloError
        A subclass naming the reason: UnreadableFileError, TruncatedFileError,
        UnsupportedAudioError, MemoryLimitError, NonFiniteInputError, ...
    """
    function = "read"
    name = path_argument(path, function)
    values = {"channel": channel_option(channel, function), "resample": "1" if resample else "0",
              "max-memory": None if max_memory is None else str(max_memory),
              **calibration_options(calibration, function), **stretch_options(start, end, function)}
    with Options(function, **values) as o:
        reader = ctypes.c_void_p()
        why = ctypes.create_string_buffer(_WHY)
        status = flib.qnf_reader_open(name, o.handle, ctypes.byref(reader), why, len(why))
        if status != _errors.SUCCESS:
            raise_error(status, function, why.value)
    try:
        fmt = Format()
        flib.qnf_reader_format(reader, ctypes.byref(fmt))
        width = fmt.channels_read
        blocks = []
        block_frames = 1 << 16
        count = ctypes.c_uint64()
        while True:
            block = np.empty((block_frames, width))
            status = flib.qnf_reader_read(reader, block.ctypes.data_as(_doubles), block_frames,
                                          ctypes.byref(count), why, len(why))
            if status != _errors.SUCCESS:
                raise_error(status, function, why.value)
            if count.value == 0:
                break
            blocks.append(block[:count.value])
    finally:
        flib.qnf_reader_close(reader)
    data = np.concatenate(blocks) if blocks else np.empty((0, width))
    return np.ascontiguousarray(data[:, 0]) if width == 1 else data


def probe(path, function="probe"):
    """``(channels, "")`` of a file, or ``(0, reason)`` when it cannot be
    analysed: the file's header is read, no sample."""
    with Options(function) as o:
        reader = ctypes.c_void_p()
        why = ctypes.create_string_buffer(_WHY)
        status = flib.qnf_reader_open(path_argument(path, function), o.handle, ctypes.byref(reader), why,
                                      len(why))
    if status != _errors.SUCCESS:
        return 0, _decode(why.value)
    fmt = Format()
    flib.qnf_reader_format(reader, ctypes.byref(fmt))
    flib.qnf_reader_close(reader)
    return fmt.channels, ""


def reading_of(path, options, function="report"):
    """``(calibration, sample rate, resampled)`` of reading ``path`` with the
    :class:`Options` given: the description of the first channel's
    calibration as analyses report it, the file's own rate, and whether it
    is resampled. Reads the header (and a calibrator recording), no sample."""
    reader = ctypes.c_void_p()
    why = ctypes.create_string_buffer(_WHY)
    status = flib.qnf_reader_open(path_argument(path, function), options.handle, ctypes.byref(reader), why,
                                  len(why))
    if status != _errors.SUCCESS:
        raise_error(status, function, why.value)
    try:
        fmt = Format()
        flib.qnf_reader_format(reader, ctypes.byref(fmt))
        text = ctypes.create_string_buffer(1024)
        flib.qnf_reader_calibration(reader, 0, None, text, len(text))
        return _decode(text.value), fmt.sample_rate, bool(fmt.resampled)
    finally:
        flib.qnf_reader_close(reader)
