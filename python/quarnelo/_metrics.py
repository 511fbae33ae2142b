"""The metrics: one function per family of the C interface.

Each function validates what only Python can (shapes, dtypes, the sample
rate), hands contiguous float64 buffers to the library, turns a failing
status into an exception and returns numpy arrays in a small dataclass that
carries the axes they lie on.
"""

import ctypes
import math
from dataclasses import dataclass
from typing import Optional

import numpy as np

from . import _errors, _inputs, _statistics
from ._library import check, doubles, error, lib

SAMPLE_RATE = _inputs.SAMPLE_RATE
SILENT_FLOOR_SONE = _statistics.SILENT_FLOOR_SONE
THIRD_OCTAVE_BANDS = 28
BARK_POINTS = 240

# Time-varying loudness has one frame every 96 samples (2 ms) from sample 0.
LOUDNESS_TIME_HOP = 96


class _ShortRepr:
    """A repr that names the result and shows scalars, and arrays by their
    shape only: a result of an hour holds millions of values."""

    def __repr__(self):
        import dataclasses

        parts = []
        for f in dataclasses.fields(self):
            value = getattr(self, f.name)
            if isinstance(value, np.ndarray):
                if f.name not in ("bark", "centre_hz"):
                    parts.append(f"{f.name}=<{'×'.join(map(str, value.shape))}>")
            elif value is not None:
                parts.append(f"{f.name}={value:.6g}" if isinstance(value, float) else f"{f.name}={value!r}")
        return f"{type(self).__name__}({', '.join(parts)})"


def _constant_axis(pointer, count):
    # The library owns these arrays for its whole life; keep a read-only copy
    # so no caller can change the axes every result shares.
    axis = np.ctypeslib.as_array(pointer, shape=(count,)).copy()
    axis.setflags(write=False)
    return axis


_BARK = _constant_axis(lib.qn_bark_axis(), BARK_POINTS)
_CENTRES_HZ = _constant_axis(lib.qn_third_octave_centres_hz(), THIRD_OCTAVE_BANDS)


def bark_axis():
    """The 240 critical-band rates in Bark (0.1, 0.2, ... 24.0) of every
    specific-loudness pattern. Read-only; the same array on every call."""
    return _BARK


def third_octave_centres_hz():
    """The 28 nominal third-octave centre frequencies in Hz (25 ... 12500) of
    the levels taken by :func:`loudness_from_levels`. Read-only; the same
    array on every call."""
    return _CENTRES_HZ


@dataclass(frozen=True, eq=False, repr=False)
class Loudness(_ShortRepr):
    """Stationary loudness after ISO 532-1:2017 (Zwicker method).

    Attributes
    ----------
    loudness : float
        Total loudness N in sone.
    specific : numpy.ndarray, shape (240,)
        Specific loudness N' in sone/Bark on :attr:`bark`.
    bark : numpy.ndarray, shape (240,)
        Critical-band rate in Bark (read-only, shared).
    field : str
        The sound field, ``"free"`` or ``"diffuse"``.
    """

    loudness: float
    specific: np.ndarray
    bark: np.ndarray
    field: str


@dataclass(frozen=True, eq=False, repr=False)
class LoudnessTime(_ShortRepr):
    """Time-varying loudness after ISO 532-1:2017, one frame every 2 ms.

    Attributes
    ----------
    loudness : numpy.ndarray, shape (frames,)
        Temporally weighted total loudness N(t) in sone.
    specific : numpy.ndarray, shape (frames, 240)
        Instantaneous specific loudness in sone/Bark, one row per frame, on
        :attr:`bark`.
    time : numpy.ndarray, shape (frames,)
        Time of each frame in s; frame f belongs to sample 96 f, the first
        to the first sample.
    bark : numpy.ndarray, shape (240,)
        Critical-band rate in Bark (read-only, shared).
    field : str
        The sound field, ``"free"`` or ``"diffuse"``.
    """

    loudness: np.ndarray
    specific: np.ndarray
    time: np.ndarray
    bark: np.ndarray
    field: str

    def exceeded(self, percent):
        """Percentile loudness N_x in sone: the loudness exceeded during
        ``percent`` % of the frames (N5 is ``exceeded(5)``), over all
        frames, the settling ones at the start included.

        By nearest rank, as the command-line tool computes it: with the F
        frame values sorted ascending, the value at rank
        ``ceil((100 - percent) * F / 100)`` (at least 1), with no
        interpolation. A frame below 0.001 sone (``SILENT_FLOOR_SONE``)
        counts as silent, 0 sone."""
        return _statistics.exceeded_of_loudness(self.loudness, percent, "LoudnessTime.exceeded")


@dataclass(frozen=True, eq=False, repr=False)
class SharpnessTime(_ShortRepr):
    """Sharpness (DIN 45692:2009, or another weighting) of each frame of a
    time-varying loudness.

    Attributes
    ----------
    sharpness : numpy.ndarray, shape (frames,)
        Sharpness S in acum of each frame's specific loudness.
    time : numpy.ndarray, shape (frames,)
        Time of each frame in s, as in :class:`LoudnessTime`.
    loudness : numpy.ndarray, shape (frames,), or None
        Total loudness of each frame in sone, which tells the silent frames
        (None when not known).
    weighting : str
        The weighting of :func:`sharpness`, ``"din"`` by default.
    """

    sharpness: np.ndarray
    time: np.ndarray
    loudness: Optional[np.ndarray] = None
    weighting: str = "din"

    def mean(self):
        """Mean sharpness over the frames in acum, as the command-line tool
        computes it: a silent frame, whose loudness is below 0.001 sone
        (``SILENT_FLOOR_SONE``), counts as 0, however its faint pattern is
        shaped; every frame counts in the number of frames."""
        return _statistics.mean(self.sharpness, self.loudness)

    def max(self):
        """Largest sharpness over the frames in acum, a silent frame counting
        as 0 as in :meth:`mean`."""
        return _statistics.max_of(self.sharpness, self.loudness)

    def min(self):
        """Smallest sharpness over the frames in acum, a silent frame counting
        as 0 as in :meth:`mean`."""
        return _statistics.frame_statistics(self.sharpness, self.loudness, (), "SharpnessTime.min")[2]


def loudness_from_levels(levels, field="free"):
    """Stationary loudness from 28 third-octave band levels (ISO 532-1:2017).

    Parameters
    ----------
    levels : array_like, shape (28,)
        Band sound pressure levels in dB re 20 µPa, in the order of
        :func:`third_octave_centres_hz` (25 Hz first). Bands up to 250 Hz
        must be at most 120 dB.
    field : {"free", "diffuse"}
        Frontal free field, or diffuse field with its corrections.

    Returns
    -------
    Loudness
    """
    name = "loudness_from_levels"
    lv = _inputs.vector(levels, "levels", THIRD_OCTAVE_BANDS, name)
    code = _inputs.sound_field(field, name)
    total = ctypes.c_double()
    specific = np.empty(BARK_POINTS)
    status = lib.qn_loudness_from_levels(doubles(lv), lv.size, code, ctypes.byref(total),
                                         doubles(specific), specific.size)
    check(status, name,
          "the levels of the bands up to 250 Hz must be at most 120 dB"
          if status == _errors.INVALID_ARGUMENT else None)
    return Loudness(total.value, specific, _BARK, field)


def loudness(signal, fs=SAMPLE_RATE, field="free", *, resample=False):
    """Stationary loudness of a signal (ISO 532-1:2017, Zwicker method).

    The 28 third-octave band filters of the standard run over the whole
    signal from rest (no settling time is removed), the mean power of each
    band gives its level, and the levels give the loudness.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least 256 samples (at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    field : {"free", "diffuse"}
        The sound field.
    resample : bool
        Resample another rate to 48000 Hz (SciPy's polyphase resampler)
        instead of refusing it.

    Returns
    -------
    Loudness
    """
    name = "loudness"
    x = _inputs.signal(signal, fs, resample, name)
    code = _inputs.sound_field(field, name)
    total = ctypes.c_double()
    specific = np.empty(BARK_POINTS)
    status = lib.qn_loudness_stationary(doubles(x), x.size, SAMPLE_RATE, code,
                                        ctypes.byref(total), doubles(specific), specific.size)
    detail = None
    if status == _errors.INPUT_TOO_SHORT:
        detail = _inputs.too_short(x.size, "loudness")
    elif status == _errors.INVALID_ARGUMENT:
        detail = "a third-octave band up to 250 Hz is above 120 dB"
    check(status, name, detail)
    return Loudness(total.value, specific, _BARK, field)


def loudness_time(signal, fs=SAMPLE_RATE, field="free", *, resample=False):
    """Time-varying loudness (ISO 532-1:2017, method for arbitrary signals).

    One frame every 96 samples (2 ms) from the first sample, ``(n - 1) // 96
    + 1`` frames for n samples. The method starts from rest, so the first
    frames show the filters settling.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least one sample (at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    field : {"free", "diffuse"}
        The sound field.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    LoudnessTime
    """
    name = "loudness_time"
    x = _inputs.signal(signal, fs, resample, name)
    code = _inputs.sound_field(field, name)
    frames = _frame_count("qn_loudness_time_frame_count", x.size, name, "loudness-time")
    total = np.empty(frames)
    specific = np.empty((frames, BARK_POINTS))
    written = ctypes.c_uint64()
    status = lib.qn_loudness_time(doubles(x), x.size, SAMPLE_RATE, code,
                                  doubles(total), total.size, doubles(specific), specific.size,
                                  ctypes.byref(written))
    check(status, name)
    _check_frames(written.value, frames, name)
    # f * 96 is exact, so each time is the correctly rounded f / 500 s.
    time = np.arange(frames) * LOUDNESS_TIME_HOP / SAMPLE_RATE
    return LoudnessTime(total, specific, time, _BARK, field)


@dataclass(frozen=True, eq=False, repr=False)
class Roughness(_ShortRepr):
    """Roughness after Daniel & Weber (1997), one value per 200 ms frame
    every 100 ms.

    Attributes
    ----------
    roughness : numpy.ndarray, shape (frames,)
        Roughness R in asper.
    time : numpy.ndarray, shape (frames,)
        Centre of each frame in s: frame k covers samples 4800 k ...
        4800 k + 9599, so its centre is at 0.1 (k + 1) s.
    """

    roughness: np.ndarray
    time: np.ndarray


def roughness_dw(signal, fs=SAMPLE_RATE, *, resample=False):
    """Roughness after Daniel & Weber (1997) in asper.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least 9600 samples (200 ms at 48 kHz);
        samples after the last whole frame are not analysed.
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    Roughness
    """
    x = _inputs.signal(signal, fs, resample, "roughness_dw")
    values = _framed_series("qn_roughness_frame_count", "qn_roughness_dw", x, function="roughness_dw",
                            metric="roughness-dw")
    return Roughness(values, (4800 * np.arange(values.size) + 4800) / SAMPLE_RATE)


@dataclass(frozen=True, eq=False, repr=False)
class Tonality(_ShortRepr):
    """Tonality after Aures (1985) with Terhardt's tonal components, one
    value per 250 ms frame every 125 ms.

    Attributes
    ----------
    tonality : numpy.ndarray, shape (frames,)
        Tonality T of each frame, about 1 for a 1 kHz tone of 60 dB, 0
        without tonal components.
    time : numpy.ndarray, shape (frames,)
        Centre of each frame in s: frame k covers samples 6000 k ...
        6000 k + 11999, so its centre is at 0.125 (k + 1) s.
    field : str
        The sound field of the loudness weighting, ``"free"`` or
        ``"diffuse"``.
    """

    tonality: np.ndarray
    time: np.ndarray
    field: str


def tonality_aures(signal, fs=SAMPLE_RATE, field="free", *, resample=False):
    """Tonality after Aures (1985), with Terhardt's extraction of tonal
    components.

    Each Hann-windowed 250 ms frame's narrow spectral regions and single
    lines are weighted by bandwidth, frequency and their excess over what
    masks them; the loudness of the noise left without them, against the
    frame's, weights the whole.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least 12000 samples (250 ms at 48 kHz);
        samples after the last whole frame are not analysed.
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    field : {"free", "diffuse"}
        The sound field of the loudness of frame and residual.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    Tonality

    Raises
    ------
    NumericalFailureError
        Also for a very loud low-frequency sound: a frame with a tonal
        component above 120 dB in a third-octave band of 250 Hz or below,
        where the loudness model ends.
    """
    name = "tonality_aures"
    x = _inputs.signal(signal, fs, resample, name)
    code = _inputs.sound_field(field, name)
    values = _framed_series("qn_tonality_frame_count", "qn_tonality_aures", x, code, function=name,
                            metric="tonality-aures", details={
        _errors.NUMERICAL_FAILURE: "a frame cannot be rated; a very loud low-frequency sound "
                                   "(above 120 dB in a third-octave band up to 250 Hz) is beyond "
                                   "the loudness model"})
    return Tonality(values, (6000 * np.arange(values.size) + 6000) / SAMPLE_RATE, field)


# The ECMA-418-2 hearing model: 53 auditory bands 0.5 Bark apart.
ECMA_BANDS = 53
# ECMA-418-2 roughness: one frame every 960 samples (20 ms).
ECMA_ROUGHNESS_HOP = 960
# Frames before 0.32 s (frames 0 ... 15) still rise from the silent start
# and do not count for the single value.
ECMA_ROUGHNESS_FIRST_FRAME = _statistics.ECMA_ROUGHNESS_FIRST_FRAME

ECMA_ROUGHNESS_MIN_SAMPLES = 15360


def _ecma_frame_count(query, x, function, metric):
    """The frames of an ECMA-418-2 analysis of ``x``, from the library's
    query."""
    return _frame_count(query, x.size, function, metric)


_ECMA_BARK = np.arange(1, ECMA_BANDS + 1) * 0.5
_ECMA_BARK.setflags(write=False)
# Centre frequencies of the bands: 81.9289 / 0.1618 sinh(0.1618 z) Hz.
_ECMA_CENTRES_HZ = 506.3590852904821 * np.sinh(0.1618 * _ECMA_BARK)
_ECMA_CENTRES_HZ.setflags(write=False)


@dataclass(frozen=True, eq=False, repr=False)
class RoughnessEcma(_ShortRepr):
    """Roughness after ECMA-418-2 (hearing model of Sottek), 50 frames per
    second.

    Attributes
    ----------
    specific : numpy.ndarray, shape (frames, 53)
        Specific roughness in asper/Bark, one row per frame, one column per
        auditory band.
    total : numpy.ndarray, shape (frames,)
        Total roughness R(l) in asper: 0.5 Bark times the sum of each row.
    roughness : float
        The single value in asper: the standard's 90th percentile of
        ``total`` over the frames from 0.32 s (frame 16) on, by linear
        interpolation between order statistics, as libquarnelo's
        ``qn_ecma_single_value`` computes it.
    time : numpy.ndarray, shape (frames,)
        Time of each frame in s: frame k stands for k / 50 s after the first
        sample (frame 0 is 0 in every band).
    bark : numpy.ndarray, shape (53,)
        Critical-band rate of each band's centre, 0.5 ... 26.5 Bark
        (read-only, shared).
    centre_hz : numpy.ndarray, shape (53,)
        Centre frequency of each band in Hz (read-only, shared).
    field : str
        The sound field, ``"free"`` or ``"diffuse"``.
    """

    specific: np.ndarray
    total: np.ndarray
    roughness: float
    time: np.ndarray
    bark: np.ndarray
    centre_hz: np.ndarray
    field: str

    @property
    def mean(self):
        """Mean of :attr:`total` over all frames, asper, summed in frame
        order as the command-line tool sums."""
        return _statistics.mean(self.total)

    @property
    def max(self):
        """Maximum of :attr:`total`, asper."""
        return float(self.total.max())


def roughness_ecma(signal, fs=SAMPLE_RATE, field="free", resample=False):
    """Roughness after ECMA-418-2 in asper, per auditory band and frame.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least 15360 samples (0.32 s at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    field : {"free", "diffuse"}
        The sound field of the ear filter.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    RoughnessEcma
    """
    name = "roughness_ecma"
    x = _inputs.signal(signal, fs, resample, name)
    code = _inputs.sound_field(field, name)
    count = _ecma_frame_count("qn_ecma_roughness_frame_count", x, name, "roughness-ecma")
    specific = np.empty((count, ECMA_BANDS))
    written = ctypes.c_uint64()
    status = lib.qn_roughness_ecma(doubles(x), x.size, SAMPLE_RATE, code, doubles(specific),
                                   specific.size, ctypes.byref(written))
    check(status, name)
    _check_frames(written.value, count, name)
    # Summed band by band in order, as the command-line tool sums.
    total = np.zeros(count)
    for b in range(ECMA_BANDS):
        total += specific[:, b]
    total *= 0.5
    single = _statistics.ecma_roughness_value(total)
    time = np.arange(count) * ECMA_ROUGHNESS_HOP / SAMPLE_RATE
    return RoughnessEcma(specific, total, single, time, _ECMA_BARK, _ECMA_CENTRES_HZ, field)


# ECMA-418-2 tonality: one frame every 256 samples.
ECMA_TONAL_HOP = 256
ECMA_TONAL_MIN_SAMPLES = 14592


@dataclass(frozen=True, eq=False, repr=False)
class TonalityEcma(_ShortRepr):
    """Tonality after ECMA-418-2 (Sottek's hearing model), one frame every
    256 samples and 53 auditory bands.

    Every array has one row per frame and one column per band, band b
    centred at 0.5 (b + 1) Bark (:attr:`bark`) and :attr:`centre_hz` Hz.

    Attributes
    ----------
    tonal_loudness : numpy.ndarray, shape (frames, 53)
        Specific loudness of the tonal component in sone/Bark.
    noise_loudness : numpy.ndarray, shape (frames, 53)
        Specific loudness of the noise component in sone/Bark.
    frequency : numpy.ndarray, shape (frames, 53)
        Frequency of the tonal component in Hz.
    specific_tonality : numpy.ndarray, shape (frames, 53)
        Specific tonality in tu_HMS/Bark.
    total_loudness : numpy.ndarray, shape (frames, 53)
        Total specific loudness in sone/Bark.
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

    tonal_loudness: np.ndarray
    noise_loudness: np.ndarray
    frequency: np.ndarray
    specific_tonality: np.ndarray
    total_loudness: np.ndarray
    time: np.ndarray
    bark: np.ndarray
    centre_hz: np.ndarray
    field: str

    @property
    def tonality(self):
        """The time-dependent tonality T(l) in tu_HMS: the largest specific
        tonality of each frame, shape (frames,)."""
        return self.specific_tonality.max(axis=1)

    def summary(self):
        """``(value, maximum, frame)`` of :func:`tonality_ecma_summary`."""
        return _statistics.tonality_ecma_summary(self.tonality, ECMA_TONAL_HOP / SAMPLE_RATE)

    def strongest(self):
        """Band and tonal frequency in Hz of the strongest component: those
        of the largest specific tonality in the frame of the maximum of
        :meth:`summary`, or ``(None, 0.0)`` when there is no tonality."""
        _, maximum, frame = self.summary()
        if maximum <= 0:
            return None, 0.0
        band = int(np.argmax(self.specific_tonality[frame]))
        return band, float(self.frequency[frame, band])


def tonality_ecma(signal, fs=SAMPLE_RATE, field="free", *, resample=False):
    """Tonality after ECMA-418-2, resolved in time and in 53 auditory bands.

    The signal passes the hearing model's outer and middle ear filter and
    53 auditory filters; the autocorrelation of blocks of each band gives
    the loudness and frequency of its tonal component, and a signal-to-noise
    weighting splits the band's loudness into tonal and noise parts. A 1 kHz
    tone of 40 dB SPL has a tonality of 1 tu_HMS once steady.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least 14592 samples (0.304 s at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    field : {"free", "diffuse"}
        The sound field.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    TonalityEcma
    """
    name = "tonality_ecma"
    x = _inputs.signal(signal, fs, resample, name)
    code = _inputs.sound_field(field, name)
    count = _ecma_frame_count("qn_ecma_tonal_frame_count", x, name, "tonality-ecma")
    arrays = np.empty((5, count, ECMA_BANDS))
    written = ctypes.c_uint64()
    status = lib.qn_ecma_tonal_analysis(doubles(x), x.size, SAMPLE_RATE, code, doubles(arrays),
                                        arrays.size, ctypes.byref(written))
    check(status, name)
    _check_frames(written.value, count, name)
    time = np.arange(count) * ECMA_TONAL_HOP / SAMPLE_RATE
    return TonalityEcma(arrays[0], arrays[1], arrays[2], arrays[3], arrays[4], time,
                        _ECMA_BARK, _ECMA_CENTRES_HZ, field)


# The weightings g(z) of sharpness, by name, as the C interface numbers them
# (qn_sharpness_weighting).
_SHARPNESS_WEIGHTINGS = {"din": 0, "bismarck": 1, "fastl": 2, "aures": 3}


def sharpness(specific, weighting="din"):
    """Sharpness in acum, after DIN 45692:2009 or another weighting.

    S = 0.11 ∫ N' g(z) z dz / N over the 240-point pattern, with the
    weighting g(z) of DIN 45692 (the default), von Bismarck (1 up to 15
    Bark, 0.2 e^(0.308 (z - 15)) + 0.8 above), Fastl (1 up to 16 Bark,
    0.066 e^(0.171 z) above) or Aures (0.078 e^(0.171 z) / z · N /
    ln(0.05 N + 1), which depends on the loudness N of the pattern).

    Parameters
    ----------
    specific : Loudness, LoudnessTime or array_like
        Specific loudness in sone/Bark on :func:`bark_axis`: one pattern of
        240 finite, non-negative values, or an array of patterns of shape
        (frames, 240), or a loudness result.
    weighting : {"din", "bismarck", "fastl", "aures"}
        The weighting g(z).

    Returns
    -------
    float
        For one pattern or a :class:`Loudness`.
    numpy.ndarray, shape (frames,)
        For an array of patterns.
    SharpnessTime
        For a :class:`LoudnessTime`, with its frame times.
    """
    code = _SHARPNESS_WEIGHTINGS.get(weighting) if isinstance(weighting, str) else None
    if code is None:
        raise error(_errors.INVALID_ARGUMENT, "sharpness",
                    f"weighting {weighting!r}; use 'din', 'bismarck', 'fastl' or 'aures'")
    if isinstance(specific, Loudness):
        return float(_sharpness_rows(specific.specific[np.newaxis], "sharpness", code)[0])
    if isinstance(specific, LoudnessTime):
        return SharpnessTime(_sharpness_rows(specific.specific, "sharpness", code), specific.time,
                             specific.loudness, weighting)
    patterns = _inputs.real_array(specific, "specific", "sharpness")
    if patterns.ndim not in (1, 2) or patterns.shape[-1] != BARK_POINTS:
        raise error(_errors.INVALID_ARGUMENT, "sharpness",
                    f"expected 240 values or (frames, 240), got shape {patterns.shape}")
    if patterns.ndim == 1:
        return float(_sharpness_rows(patterns[np.newaxis], "sharpness", code)[0])
    return _sharpness_rows(patterns, "sharpness", code)


def _sharpness_rows(patterns, name, weighting=0):
    rows = np.ascontiguousarray(patterns, dtype=np.float64)
    result = np.empty(rows.shape[0])
    value = ctypes.c_double()
    for f in range(rows.shape[0]):
        row = rows[f]
        status = lib.qn_sharpness(doubles(row), row.size, weighting, ctypes.byref(value))
        if status != _errors.SUCCESS:
            detail = f"pattern {f}" if rows.shape[0] > 1 else None
            raise error(status, name, detail)
        result[f] = value.value
    return result


def _frame_count(query, count, function, metric):
    """Frames a framed analysis gives for `count` samples at 48 kHz; a
    signal too short for `metric` is refused in the user's terms."""
    frames = ctypes.c_uint64()
    status = getattr(lib, query)(count, SAMPLE_RATE, ctypes.byref(frames))
    check(status, function, _inputs.too_short(count, metric) if status == _errors.INPUT_TOO_SHORT else None)
    return frames.value


def _check_frames(written, expected, function):
    # The frame-count function and the analysis agree by contract; a
    # difference would leave part of the output uninitialised.
    if written != expected:
        raise error(_errors.NUMERICAL_FAILURE, function,
                    f"wrote {written} frames, the frame count said {expected}")


def _framed_series(count_function, c_function, x, *arguments, function, metric, details=None):
    """Run a framed metric with one value per frame.

    Covers the C functions shaped ``f(samples, count, rate, ...arguments,
    out, capacity, *frame_count)``: sizes the output from the frame-count
    function, calls, and checks that the frame count agrees. ``details``
    maps a status to the explanation its exception carries.
    """
    frames = _frame_count(count_function, x.size, function, metric)
    values = np.empty(frames)
    written = ctypes.c_uint64()
    status = getattr(lib, c_function)(doubles(x), x.size, SAMPLE_RATE, *arguments,
                                    doubles(values), values.size, ctypes.byref(written))
    check(status, function, (details or {}).get(status))
    _check_frames(written.value, frames, function)
    return values
