"""quarnelo: psychoacoustic sound-quality metrics for numpy.

A thin layer over the C library libquarnelo. Signals are 1-D arrays of
sound pressure in pascal sampled at 48000 Hz; results are numpy arrays in
small dataclasses that carry their axes (frame times in s, critical-band
rate in Bark, frequencies in Hz).

>>> import numpy as np, quarnelo
>>> t = np.arange(48000) / 48000
>>> tone = 0.02 * np.sqrt(2) * np.sin(2 * np.pi * 1000 * t)   # 60 dB SPL
>>> quarnelo.loudness(tone).loudness                         # doctest: +SKIP
4.0...

Metrics
-------
loudness_from_levels, loudness, loudness_time
    Loudness after ISO 532-1:2017 (Zwicker method), in sone.
LoudnessMeter
    Time-varying loudness of a signal that arrives in blocks.
sharpness
    Sharpness after DIN 45692:2009, in acum.
roughness_dw
    Roughness after Daniel & Weber (1997), in asper.
tonality_aures
    Tonality after Aures (1985) with Terhardt's tonal components.
roughness_ecma
    Roughness after ECMA-418-2 per auditory band and 20 ms frame, in asper.
tonality_ecma
    Tonality after ECMA-418-2 (hearing model of Sottek), in tu_HMS, per
    frame and auditory band.

Statistics over frames (``LoudnessTime.exceeded`` for N5 and N10,
``SharpnessTime.mean``) follow the command-line tool's definitions: nearest
rank for percentiles, and frames below ``SILENT_FLOOR_SONE`` (0.001 sone)
count as silent.

Every failure raises :class:`QuarneloError` (or one of its subclasses)
with the library's status and message. Plots are in :mod:`quarnelo.plot`
(matplotlib); ``python3 -m quarnelo report FILE`` writes a report figure.
:mod:`quarnelo.batch` analyses many files on a Dask cluster (``python3 -m
quarnelo batch``), with the command-line tool's names and values.
"""

from ._errors import (
    AllocationError,
    InputTooShortError,
    InvalidArgumentError,
    InvalidSampleRateError,
    InvalidSoundFieldError,
    NonFiniteInputError,
    NumericalFailureError,
    QuarneloError,
)
from ._library import lib as _lib
from ._library import path as library_path
from ._meter import LoudnessMeter, MeterFrames
from ._statistics import exceeded, tonality_ecma_summary
from ._metrics import (
    BARK_POINTS,
    SAMPLE_RATE,
    SILENT_FLOOR_SONE,
    THIRD_OCTAVE_BANDS,
    Loudness,
    LoudnessTime,
    Roughness,
    RoughnessEcma,
    SharpnessTime,
    Tonality,
    TonalityEcma,
    bark_axis,
    loudness,
    loudness_from_levels,
    loudness_time,
    roughness_dw,
    roughness_ecma,
    sharpness,
    third_octave_centres_hz,
    tonality_aures,
    tonality_ecma,
)

__version__ = "0.2.2"
__libquarnelo_version__ = _lib.qn_version_string().decode("ascii")

__all__ = [
    "AllocationError",
    "BARK_POINTS",
    "InputTooShortError",
    "InvalidArgumentError",
    "InvalidSampleRateError",
    "InvalidSoundFieldError",
    "Loudness",
    "LoudnessMeter",
    "LoudnessTime",
    "MeterFrames",
    "NonFiniteInputError",
    "NumericalFailureError",
    "QuarneloError",
    "Roughness",
    "RoughnessEcma",
    "SAMPLE_RATE",
    "SILENT_FLOOR_SONE",
    "SharpnessTime",
    "THIRD_OCTAVE_BANDS",
    "Tonality",
    "bark_axis",
    "exceeded",
    "library_path",
    "loudness",
    "loudness_from_levels",
    "loudness_time",
    "roughness_dw",
    "roughness_ecma",
    "sharpness",
    "third_octave_centres_hz",
    "tonality_aures",
    "TonalityEcma",
    "tonality_ecma",
    "tonality_ecma_summary",
]
