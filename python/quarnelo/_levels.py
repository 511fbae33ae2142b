"""The levels a report quotes beside the metrics: sound levels after
IEC 61672-1, the third-octave band levels of the ISO 532-1 filter bank, and
the loudness level in phon of an ISO 532-1 loudness."""

import ctypes
import math
import numbers
from dataclasses import dataclass

import numpy as np

from . import _errors, _inputs, _statistics
from ._library import check, doubles, error, lib
from ._metrics import SAMPLE_RATE, THIRD_OCTAVE_BANDS, _ShortRepr, third_octave_centres_hz

# The seven levels of qn_sound_levels, in the order of its QN_LEVEL_ indices.
_SOUND_LEVELS = ("LZeq", "LAeq", "LCeq", "LAFmax", "LASmax", "LAFmin", "LCpeak")
# Samples between the points of LAF and LAS: 10 ms.
SOUND_LEVEL_STEP = 480


@dataclass(frozen=True, eq=False, repr=False)
class SoundLevels(_ShortRepr):
    """What a class 1 sound level meter (IEC 61672-1) reads from a signal,
    in dB re 20 µPa. A signal of silence reads -inf, never NaN.

    Attributes
    ----------
    LZeq, LAeq, LCeq : float
        Equivalent continuous level without frequency weighting (Z), and
        with A and C weighting.
    LAFmax, LASmax : float
        Largest A-weighted level with time weighting F (125 ms) and S (1 s),
        over every sample.
    LAFmin : float
        Least LAF from 1 s on (the F level has risen from rest by then); for
        a signal of 1 s or less, the LAF of its last sample.
    LCpeak : float
        Level of the largest C-weighted sample.
    LAF, LAS : numpy.ndarray, shape (points,)
        The time-weighted levels every 10 ms; the points of the first second
        still show the rise from rest.
    time : numpy.ndarray, shape (points,)
        Time of each point in s: point j belongs to sample 480 (j + 1), so
        the first is at 0.01 s.
    """

    LZeq: float
    LAeq: float
    LCeq: float
    LAFmax: float
    LASmax: float
    LAFmin: float
    LCpeak: float
    LAF: np.ndarray
    LAS: np.ndarray
    time: np.ndarray

    def exceeded(self, percent):
        """The percentile level: the LAF exceeded during ``percent`` % of
        the points (LAF5 is ``exceeded(5)``), over every point, by nearest
        rank as the command-line tool quotes LAF5 ... LAF95. A sequence of
        percentages gives an array."""
        return _statistics.exceeded(self.LAF, percent)


def sound_levels(signal, fs=SAMPLE_RATE, resample=False):
    """Sound levels of a signal after IEC 61672-1 (class 1): LZeq, LAeq,
    LCeq, LAFmax, LASmax, LAFmin, LCpeak and the series LAF(t), LAS(t).

    The A and C weightings are digital filters at 48 kHz within 0.08 dB of
    the standard's analogue curves from 10 Hz to 20 kHz; the time weightings
    start from rest, as if the signal were preceded by silence. A 1 kHz sine
    of 1 Pa RMS reads 93.98 dB in every weighting.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least one sample (at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    SoundLevels
    """
    name = "sound_levels"
    x = _inputs.signal(signal, fs, resample, name)
    points = ctypes.c_uint64()
    status = lib.qn_sound_level_point_count(x.size, SAMPLE_RATE, ctypes.byref(points))
    check(status, name, "the signal has no samples" if status == _errors.INPUT_TOO_SHORT else None)
    levels = np.empty(len(_SOUND_LEVELS))
    laf = np.empty(points.value)
    las = np.empty(points.value)
    written = ctypes.c_uint64()
    status = lib.qn_sound_levels(doubles(x), x.size, SAMPLE_RATE, doubles(levels), levels.size,
                                 doubles(laf), laf.size, doubles(las), las.size, ctypes.byref(written))
    check(status, name, "a sample far beyond any sound (above 1e100 Pa)"
          if status == _errors.NUMERICAL_FAILURE else None)
    time = (np.arange(points.value) + 1) * SOUND_LEVEL_STEP / SAMPLE_RATE
    return SoundLevels(*(float(v) for v in levels), laf, las, time)


@dataclass(frozen=True, eq=False, repr=False)
class ThirdOctaveLevels(_ShortRepr):
    """The equivalent level of each of the 28 third-octave bands of the
    ISO 532-1 filter bank (25 Hz ... 12.5 kHz), in dB re 20 µPa: over the
    whole signal and over each interval of ``step`` seconds.

    A band of mean square p² has the level 10 log10(p² + 1e-12) + 93.98 dB,
    as the loudness computes it: a silent band reads -26.02 dB.

    Attributes
    ----------
    levels : numpy.ndarray, shape (28,)
        The band levels of the whole signal, the very levels the stationary
        loudness is computed from.
    series : numpy.ndarray, shape (intervals, 28)
        The band levels of each whole interval; samples after the last one
        count in :attr:`levels` only.
    time : numpy.ndarray, shape (intervals,)
        The centre of each interval in s.
    centre_hz : numpy.ndarray, shape (28,)
        The bands' nominal centre frequencies in Hz (read-only, shared).
    step : float
        The interval in s, a whole number of samples at 48 kHz.
    """

    levels: np.ndarray
    series: np.ndarray
    time: np.ndarray
    centre_hz: np.ndarray
    step: float


def third_octave_levels(signal, fs=SAMPLE_RATE, resample=False, step=0.1):
    """Third-octave band levels of a signal, over the whole signal and as a
    series every ``step`` seconds.

    The filters of the ISO 532-1 bank start from rest at the first sample
    and run through the whole signal; the intervals only divide the sums.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least 256 samples (at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.
    step : float
        The interval of the series in s (100 ms by default), rounded to
        whole samples at 48 kHz: at least one sample.

    Returns
    -------
    ThirdOctaveLevels
    """
    name = "third_octave_levels"
    if isinstance(step, bool) or not isinstance(step, numbers.Real) or not math.isfinite(step):
        raise error(_errors.INVALID_ARGUMENT, name, f"step is a time in seconds, not {step!r}")
    samples = round(float(step) * SAMPLE_RATE)
    if samples < 1:
        raise error(_errors.INVALID_ARGUMENT, name, f"step {step!r} s is less than one sample at 48 kHz")
    x = _inputs.signal(signal, fs, resample, name)
    points = ctypes.c_uint64()
    status = lib.qn_band_level_point_count(x.size, SAMPLE_RATE, samples, ctypes.byref(points))
    check(status, name, _inputs.too_short(x.size, "levels") if status == _errors.INPUT_TOO_SHORT else None)
    levels = np.empty(THIRD_OCTAVE_BANDS)
    series = np.empty((points.value, THIRD_OCTAVE_BANDS))
    written = ctypes.c_uint64()
    status = lib.qn_band_levels(doubles(x), x.size, SAMPLE_RATE, samples, doubles(levels), levels.size,
                                doubles(series), series.size, ctypes.byref(written))
    check(status, name, "a sample far beyond any sound (above 1e100 Pa)"
          if status == _errors.NUMERICAL_FAILURE else None)
    time = (np.arange(points.value) + 0.5) * samples / SAMPLE_RATE
    return ThirdOctaveLevels(levels, series, time, third_octave_centres_hz(), samples / SAMPLE_RATE)


def _phon(sone, function, index=None):
    phon = ctypes.c_double()
    status = lib.qn_loudness_level(float(sone), ctypes.byref(phon))
    if status != _errors.SUCCESS:
        where = "" if index is None else f" (value {index})"
        raise error(status, function, f"loudness {sone!r} sone{where}: a loudness is finite and not negative")
    return phon.value


def loudness_level(sone):
    """The loudness level in phon of an ISO 532-1 loudness in sone:
    40 + 33.22 log10(N) from 1 sone on, 40 (N + 0.0005)^0.35 below, so 1
    sone is 40 phon and 2 sone 50 phon.

    Parameters
    ----------
    sone : float or array_like
        Loudness in sone, finite and not negative: a stationary loudness, a
        frame of a time-varying loudness or a statistic such as N5.

    Returns
    -------
    float
        For a number.
    numpy.ndarray
        For an array, of the same shape.
    """
    function = "loudness_level"
    if isinstance(sone, numbers.Real) and not isinstance(sone, bool):
        return _phon(sone, function)
    values = _inputs.real_array(sone, "sone", function)
    flat = np.ascontiguousarray(values, dtype=np.float64).ravel()
    out = np.empty(flat.size)
    for i, v in enumerate(flat):
        out[i] = _phon(v, function, i)
    return out.reshape(values.shape)
