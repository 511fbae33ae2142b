"""Fluctuation strength after ECMA-418-2: the slow-modulation metric of the
hearing model, its band values from the library and their reductions (the
time-dependent value, the averaged band values and the single value) by the
library's own rule (``qn_ecma_aggregate``)."""

import ctypes
from dataclasses import dataclass

import numpy as np

from . import _files, _inputs
from ._library import check, doubles, lib
from ._metrics import (ECMA_BANDS, SAMPLE_RATE, _check_frames, _ecma_frame_count, _ECMA_BARK, _ECMA_CENTRES_HZ,
                       _ShortRepr)

# One frame every 960 samples (20 ms); frames before 0.72 s (0 ... 35) still
# rise from the silent start and are left out of the averages and the
# single value.
ECMA_FLUCTUATION_HOP = _files.BY_NAME["fluctuation-ecma"]["hop"]
ECMA_FLUCTUATION_FIRST_FRAME = 36
ECMA_FLUCTUATION_MIN_SAMPLES = _files.BY_NAME["fluctuation-ecma"]["min_samples"]

_QN_ECMA_FLUCTUATION = 8  # qn_ecma_metric of quarnelo.h


@dataclass(frozen=True, eq=False, repr=False)
class FluctuationEcma(_ShortRepr):
    """Fluctuation strength after ECMA-418-2 (hearing model of Sottek), 50
    frames per second.

    Attributes
    ----------
    specific : numpy.ndarray, shape (frames, 53)
        Specific fluctuation strength in vacil_HMS/Bark, one row per frame,
        one column per auditory band.
    total : numpy.ndarray, shape (frames,)
        Time-dependent fluctuation strength F(l) in vacil_HMS: 0.5 Bark times
        the sum of each row.
    averaged : numpy.ndarray, shape (53,)
        Averaged specific fluctuation strength in vacil_HMS/Bark: the mean of
        each band over the frames from 0.72 s (frame 36) on.
    value : float
        The single value in vacil_HMS: the 90th percentile of ``total`` over
        the frames from 0.72 s on, by linear interpolation between order
        statistics. The calibration sound (1 kHz at 60 dB SPL, fully
        modulated at 4 Hz) gives 1.
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
    averaged: np.ndarray
    value: float
    time: np.ndarray
    bark: np.ndarray
    centre_hz: np.ndarray
    field: str

    @property
    def max(self):
        """Maximum of :attr:`total`, vacil_HMS."""
        return float(self.total.max())


def fluctuation_ecma(signal, fs=SAMPLE_RATE, field="free", resample=False):
    """Fluctuation strength after ECMA-418-2 in vacil_HMS, per auditory band
    and frame, with its reductions.

    Parameters
    ----------
    signal : array_like, 1-D
        Sound pressure in Pa, at least 65537 samples (1.37 s at 48 kHz).
    fs : int
        Sample rate in Hz. The library analyses 48000 Hz only.
    field : {"free", "diffuse"}
        The sound field of the ear filter.
    resample : bool
        Resample another rate to 48000 Hz instead of refusing it.

    Returns
    -------
    FluctuationEcma
    """
    name = "fluctuation_ecma"
    x = _inputs.signal(signal, fs, resample, name)
    code = _inputs.sound_field(field, name)
    count = _ecma_frame_count("qn_ecma_fluctuation_frame_count", x, name, "fluctuation-ecma")
    specific = np.empty((count, ECMA_BANDS))
    written = ctypes.c_uint64()
    status = lib.qn_fluctuation_ecma(doubles(x), x.size, SAMPLE_RATE, code, doubles(specific), specific.size,
                                     ctypes.byref(written))
    check(status, name)
    _check_frames(written.value, count, name)
    total = np.empty(count)
    averaged = np.empty(ECMA_BANDS)
    value = np.empty(1)
    status = lib.qn_ecma_aggregate(_QN_ECMA_FLUCTUATION, doubles(specific), count, doubles(total), count,
                                   doubles(averaged), ECMA_BANDS, doubles(value))
    check(status, name)
    time = np.arange(count) * ECMA_FLUCTUATION_HOP / SAMPLE_RATE
    return FluctuationEcma(specific, total, averaged, float(value[0]), time, _ECMA_BARK, _ECMA_CENTRES_HZ, field)
