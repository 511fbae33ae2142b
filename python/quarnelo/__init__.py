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
    Sharpness after DIN 45692:2009 (or von Bismarck, Fastl, Aures), in acum.
sound_levels, third_octave_levels
    Sound levels after IEC 61672-1 (LAeq, LAFmax, LCpeak, LAF(t) ...) and
    third-octave band levels, in dB re 20 µPa.
loudness_level
    The loudness level in phon of an ISO 532-1 loudness in sone.
roughness_dw
    Roughness after Daniel & Weber (1997), in asper.
tonality_aures
    Tonality after Aures (1985) with Terhardt's tonal components.
roughness_ecma
    Roughness after ECMA-418-2 per auditory band and 20 ms frame, in asper.
fluctuation_ecma
    Fluctuation strength after ECMA-418-2 per auditory band and 20 ms
    frame, in vacil_HMS.
tonality_ecma
    Tonality after ECMA-418-2 (hearing model of Sottek), in tu_HMS, per
    frame and auditory band.
loudness_ecma
    Loudness after ECMA-418-2, in sone_HMS, per frame and auditory band.

Each metric of a signal takes a 2-D array (samples, channels) as well and
gives a sequence of per-channel results; for two channels, the ears of a
head recording, ``loudness_ecma`` and ``roughness_ecma`` also give
``result.binaural``.

Files
-----
read
    The calibrated sound pressure of a file at 48 kHz, as the command-line
    tool analyses it.
analyze_file
    Every metric of every channel of a file, the tool's values to the bit.

Both go through libquarnelo_files, the file layer the tool is built on.

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
    InvalidOptionError,
    InvalidSampleRateError,
    InvalidSoundFieldError,
    MemoryLimitError,
    NonFiniteInputError,
    NumericalFailureError,
    QuarneloError,
    TruncatedFileError,
    UnreadableFileError,
    UnsupportedAudioError,
)
from . import _files as _files_table
from ._library import lib as _lib
from ._library import path as library_path
from ._analysis import ChannelResult, FileAnalysis, MetricResult, Series, analyze_file, analyze_signal
from ._files import read
from ._fluctuation import FluctuationEcma
from ._meter import LoudnessMeter, MeterFrames
from ._levels import SoundLevels, ThirdOctaveLevels, loudness_level
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
    loudness_from_levels,
    sharpness,
    third_octave_centres_hz,
)
# The metrics of signals, each also over the channels of a 2-D array.
from ._ecma import (
    ChannelResults,
    LoudnessEcma,
    fluctuation_ecma,
    loudness,
    loudness_ecma,
    loudness_time,
    roughness_dw,
    roughness_ecma,
    sound_levels,
    third_octave_levels,
    tonality_aures,
    tonality_ecma,
)

#: The metrics of the table the tool and the package share, in its order.
METRICS = tuple(m["name"] for m in _files_table.METRICS)

__version__ = "0.2.2"
__libquarnelo_version__ = _lib.qn_version_string().decode("ascii")

__all__ = [
    "AllocationError",
    "BARK_POINTS",
    "ChannelResult",
    "ChannelResults",
    "FileAnalysis",
    "FluctuationEcma",
    "InputTooShortError",
    "InvalidArgumentError",
    "InvalidOptionError",
    "InvalidSampleRateError",
    "InvalidSoundFieldError",
    "Loudness",
    "LoudnessEcma",
    "LoudnessMeter",
    "LoudnessTime",
    "METRICS",
    "MemoryLimitError",
    "MeterFrames",
    "MetricResult",
    "NonFiniteInputError",
    "NumericalFailureError",
    "QuarneloError",
    "Roughness",
    "RoughnessEcma",
    "SAMPLE_RATE",
    "SILENT_FLOOR_SONE",
    "Series",
    "SharpnessTime",
    "SoundLevels",
    "THIRD_OCTAVE_BANDS",
    "ThirdOctaveLevels",
    "Tonality",
    "TruncatedFileError",
    "UnreadableFileError",
    "UnsupportedAudioError",
    "analyze_file",
    "analyze_signal",
    "bark_axis",
    "exceeded",
    "fluctuation_ecma",
    "library_path",
    "loudness",
    "loudness_ecma",
    "loudness_from_levels",
    "loudness_level",
    "loudness_time",
    "read",
    "roughness_dw",
    "roughness_ecma",
    "sharpness",
    "sound_levels",
    "third_octave_centres_hz",
    "third_octave_levels",
    "tonality_aures",
    "TonalityEcma",
    "tonality_ecma",
    "tonality_ecma_summary",
]
