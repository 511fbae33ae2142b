"""ECMA-418-2 loudness, and every signal metric over the channels of a 2-D
array, with the binaural value of a head recording's two ears.

A 1-D signal gives a metric's result as before. A 2-D array of shape
(samples, channels) gives a :class:`ChannelResults`, one result per
channel (``result[0]`` is the first); for two channels the metrics that
ECMA-418-2 combines over two ears (loudness, roughness and fluctuation
strength) also carry
``result.binaural``: the ears' band values combined per frame and band by
their quadratic mean, then reduced as one ear's, a result of the same type.
"""

import ctypes
import functools
from dataclasses import dataclass

import numpy as np

from . import _errors, _fluctuation, _inputs, _levels, _metrics
from ._library import check, doubles, error, lib

# ECMA-418-2 loudness: the frames of the tonal analysis, one every 256
# samples; the averages leave out the first 57 (0.304 s).
ECMA_LOUDNESS_FIRST_FRAME = 57
_LOUDNESS, _ROUGHNESS, _FLUCTUATION = 2, 4, 8  # qn_ecma_metric flags


@dataclass(frozen=True, eq=False, repr=False)
class LoudnessEcma(_metrics._ShortRepr):
    """Loudness after ECMA-418-2 (hearing model of Sottek), one frame every
    256 samples and 53 auditory bands.

    Attributes
    ----------
    value : float
        The single value N in sone_HMS: the power mean (exponent
        1 / log10 2) of :attr:`loudness` over the frames from 0.304 s
        (frame 57) on. A 1 kHz tone of 40 dB SPL has 1 sone_HMS.
    loudness : numpy.ndarray, shape (frames,)
        The time-dependent loudness N(l) in sone_HMS: half the sum of each
        row of :attr:`specific`.
    specific : numpy.ndarray, shape (frames, 53)
        Specific loudness N'(l, z) in sone_HMS/Bark, one row per frame, one
        column per band.
    averaged : numpy.ndarray, shape (53,)
        The time-averaged specific loudness N'(z) of each band, the same
        power mean as :attr:`value`; not twice the value's sum.
    time : numpy.ndarray, shape (frames,)
        Time of each frame in s: frame k stands for the instant 256 k
        samples after the first sample.
    bark : numpy.ndarray, shape (53,)
        Critical-band rate of each band's centre, 0.5 ... 26.5 Bark
        (read-only, shared).
    centre_hz : numpy.ndarray, shape (53,)
        Centre frequency of each band in Hz (read-only, shared).
    field : str
        The sound field, ``"free"`` or ``"diffuse"``.
    """

    value: float
    loudness: np.ndarray
    specific: np.ndarray
    averaged: np.ndarray
    time: np.ndarray
    bark: np.ndarray
    centre_hz: np.ndarray
    field: str

    @property
    def max(self):
        """Largest N(l), sone_HMS."""
        return float(self.loudness.max())


def _loudness_ecma(signal, fs=_metrics.SAMPLE_RATE, field="free", resample=False):
    """Loudness after ECMA-418-2 in sone_HMS: N(l) every 256 samples, the
    specific loudness of the 53 auditory bands, their averages over time
    and the single value N.

    The tonal analysis of :func:`tonality_ecma` splits each band's loudness
    into tonal and noise parts; the specific loudness adds the tonal part
    and 0.5331 times the noise part as a power sum; N(l) is half the sum
    over the bands, and the power means from 0.304 s on give the averages
    and N.

    Parameters
    ----------
    signal : array_like, shape (samples,) or (samples, channels)
        Sound pressure in Pa, at least 14592 samples (0.304 s at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    field : {"free", "diffuse"}
        The sound field of the ear filter.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    LoudnessEcma
        For a 1-D signal; a :class:`ChannelResults` of them for a 2-D one,
        with ``binaural`` for two channels.
    """
    name = "loudness_ecma"
    x = _inputs.signal(signal, fs, resample, name)
    code = _inputs.sound_field(field, name)
    count = _metrics._frame_count("qn_ecma_tonal_frame_count", x.size, name, "loudness-ecma")
    loudness = np.empty(count)
    averaged = np.empty(_metrics.ECMA_BANDS)
    specific = np.empty((count, _metrics.ECMA_BANDS))
    value = ctypes.c_double()
    written = ctypes.c_uint64()
    status = lib.qn_loudness_ecma(doubles(x), x.size, _metrics.SAMPLE_RATE, code, doubles(loudness), loudness.size,
                                  doubles(averaged), averaged.size, ctypes.byref(value), doubles(specific),
                                  specific.size, ctypes.byref(written))
    check(status, name)
    _metrics._check_frames(written.value, count, name)
    time = np.arange(count) * _metrics.ECMA_TONAL_HOP / _metrics.SAMPLE_RATE
    return LoudnessEcma(value.value, loudness, specific, averaged, time, _metrics._ECMA_BARK,
                        _metrics._ECMA_CENTRES_HZ, field)


class ChannelResults(tuple):
    """The results of a metric for each channel of a 2-D signal, in order
    (``result[0]``, ``result[1]``, ...).

    Attributes
    ----------
    binaural : result or None
        For two channels taken as the ears of a head recording (the first
        the left), the metrics ECMA-418-2 combines over two ears
        (:func:`loudness_ecma`, :func:`roughness_ecma`): the ears' band
        values combined per frame and band by their quadratic mean and
        reduced as one ear's, a result of the same type. None otherwise;
        tonality has no combined value, each ear's is its own.
    """

    def __new__(cls, results, binaural=None):
        self = super().__new__(cls, results)
        self.binaural = binaural
        return self

    def __repr__(self):
        shown = ", ".join(repr(r) for r in self)
        return f"ChannelResults([{shown}]{', binaural' if self.binaural is not None else ''})"


def _combined(left, right, function):
    """The quadratic mean of two ears' band values, frame by frame."""
    a = np.ascontiguousarray(left, dtype=np.float64)
    b = np.ascontiguousarray(right, dtype=np.float64)
    if a.shape != b.shape:
        raise error(_errors.INVALID_ARGUMENT, function, f"the ears' frames differ: {a.shape} and {b.shape}")
    out = np.empty_like(a)
    check(lib.qn_ecma_binaural(doubles(a), doubles(b), a.size, doubles(out), out.size), function)
    return out


def _aggregate(metric, specific, function):
    """X(l), the averaged X'(z) and the single value of band values, by the
    library's rules of one ear (qn_ecma_aggregate)."""
    frames = specific.shape[0]
    series = np.empty(frames)
    averaged = np.empty(_metrics.ECMA_BANDS)
    value = ctypes.c_double()
    status = lib.qn_ecma_aggregate(metric, doubles(specific), frames, doubles(series), frames, doubles(averaged),
                                   averaged.size, ctypes.byref(value))
    check(status, function)
    return series, averaged, value.value


def _binaural_loudness(left, right):
    specific = _combined(left.specific, right.specific, "loudness_ecma")
    series, averaged, value = _aggregate(_LOUDNESS, specific, "loudness_ecma")
    return LoudnessEcma(value, series, specific, averaged, left.time, left.bark, left.centre_hz, left.field)


def _binaural_roughness(left, right):
    specific = _combined(left.specific, right.specific, "roughness_ecma")
    total, _, value = _aggregate(_ROUGHNESS, specific, "roughness_ecma")
    return _metrics.RoughnessEcma(specific, total, value, left.time, left.bark, left.centre_hz, left.field)


def _binaural_fluctuation(left, right):
    specific = _combined(left.specific, right.specific, "fluctuation_ecma")
    total, averaged, value = _aggregate(_FLUCTUATION, specific, "fluctuation_ecma")
    return _fluctuation.FluctuationEcma(specific, total, averaged, value, left.time, left.bark, left.centre_hz,
                                        left.field)


def over_channels(function, binaural=None):
    """``function`` of a 1-D signal, also taking a 2-D array (samples,
    channels): a :class:`ChannelResults`, with ``binaural(left, right)``
    of two channels when the metric has a combined value."""

    @functools.wraps(function)
    def each_channel(signal, *args, **kwargs):
        array = np.asarray(signal)
        if array.ndim != 2:
            return function(signal, *args, **kwargs)
        results = [function(array[:, c], *args, **kwargs) for c in range(array.shape[1])]
        both = binaural(*results) if binaural is not None and len(results) == 2 else None
        return ChannelResults(results, both)

    return each_channel


loudness_ecma = over_channels(_loudness_ecma, _binaural_loudness)
roughness_ecma = over_channels(_metrics.roughness_ecma, _binaural_roughness)
tonality_ecma = over_channels(_metrics.tonality_ecma)
fluctuation_ecma = over_channels(_fluctuation.fluctuation_ecma, _binaural_fluctuation)
sound_levels = over_channels(_levels.sound_levels)
third_octave_levels = over_channels(_levels.third_octave_levels)
loudness = over_channels(_metrics.loudness)
loudness_time = over_channels(_metrics.loudness_time)
roughness_dw = over_channels(_metrics.roughness_dw)
tonality_aures = over_channels(_metrics.tonality_aures)
