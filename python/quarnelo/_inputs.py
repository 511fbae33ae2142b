"""Turning what callers pass into what the library takes."""

import math
import numbers

import numpy as np

from . import _errors
from ._library import error

SAMPLE_RATE = 48000

_FIELDS = {"free": 0, "diffuse": 1}


def sound_field(field, function):
    """The library's code for a sound field given by name."""
    try:
        return _FIELDS[field]
    except (KeyError, TypeError):
        raise error(_errors.INVALID_SOUND_FIELD, function,
                    f"{field!r}; use 'free' or 'diffuse'") from None


def real_array(values, what, function):
    """An array of real numbers, without copying what already is one."""
    array = np.asarray(values)
    if array.dtype.kind not in "iuf":
        # Complex input would lose its imaginary part and strings or objects
        # are no sound pressure: refuse them rather than guess.
        raise TypeError(f"{function}: {what} must be real numbers, got dtype {array.dtype}")
    return array


def vector(values, what, length, function):
    """A contiguous float64 vector of a given length (or any, with None)."""
    array = real_array(values, what, function)
    if array.ndim != 1 or (length is not None and array.shape[0] != length):
        expected = "a 1-D array" if length is None else f"{length} values"
        raise error(_errors.INVALID_ARGUMENT, function,
                    f"{what}: expected {expected}, got shape {array.shape}")
    return np.ascontiguousarray(array, dtype=np.float64)


def sample_rate(fs, function):
    """The sample rate as an int, or an InvalidSampleRateError."""
    if isinstance(fs, numbers.Integral) and not isinstance(fs, bool):
        rate = int(fs)
    elif isinstance(fs, numbers.Real) and math.isfinite(fs) and float(fs).is_integer():
        rate = int(fs)
    else:
        raise error(_errors.INVALID_SAMPLE_RATE, function,
                    f"{fs!r} is not a whole number of hertz")
    if rate <= 0:
        raise error(_errors.INVALID_SAMPLE_RATE, function, f"{rate} Hz")
    return rate


def resample(signal, rate, function):
    """Resample a 1-D float64 signal from rate to 48000 Hz as files are
    (libsoxr at its very-high quality, through the file layer)."""
    from . import _files

    return _files.resample(signal, rate, function)


def too_short(count, metric):
    """Why a 48 kHz signal of ``count`` samples is too short for the metric
    (the metric table's shortest signal), in the user's terms."""
    from . import _files

    need = _files.BY_NAME[metric]["min_samples"]
    return (f"{count} samples ({count / SAMPLE_RATE:.3g} s at 48 kHz); {metric} needs at least {need} "
            f"({need / SAMPLE_RATE:.3g} s)")


def signal(values, fs, resample_to_48k, function):
    """A signal ready for the library: 1-D, contiguous float64, 48000 Hz.

    Converts only when needed: a contiguous float64 vector at 48000 Hz is
    passed on as it is. Another rate is an error unless resampling is asked
    for.
    """
    array = real_array(values, "signal", function)
    if array.ndim != 1:
        raise error(_errors.INVALID_ARGUMENT, function,
                    f"expected a 1-D signal or (samples, channels), got shape {array.shape}")
    rate = sample_rate(fs, function)
    array = np.ascontiguousarray(array, dtype=np.float64)
    if rate != SAMPLE_RATE:
        if not resample_to_48k:
            raise error(_errors.INVALID_SAMPLE_RATE, function,
                        f"{rate} Hz; the library analyses {SAMPLE_RATE} Hz only, "
                        "pass resample=True to resample")
        array = resample(array, rate, function)
    return array
