"""The report: every metric of one recording in a summary and one figure.

``python3 -m quarnelo report FILE [-o report.png]`` reads one channel of an
audio file with :func:`quarnelo.read` (the file layer the command-line tool
reads with: the same calibration and resampling), analyses it and writes
the figure; the summary goes to standard output. The same steps are
functions here: :func:`analyse`, :func:`summary` and :func:`figure`.
"""

import math
import pathlib
import sys
from dataclasses import dataclass, field as dataclass_field
from typing import Callable, Optional

import numpy as np

from . import _ecma, _files, _fluctuation, _statistics
from ._errors import InputTooShortError, QuarneloError
from ._levels import SoundLevels, ThirdOctaveLevels, loudness_level, sound_levels, third_octave_levels
from ._metrics import (
    SAMPLE_RATE,
    Loudness,
    LoudnessTime,
    Roughness,
    RoughnessEcma,
    SharpnessTime,
    Tonality,
    TonalityEcma,
    loudness,
    loudness_time,
    roughness_dw,
    roughness_ecma,
    sharpness,
    tonality_aures,
    tonality_ecma,
)

# The reference of sound pressure levels, Pa.
REFERENCE_PRESSURE = 20e-6


@dataclass(frozen=True, eq=False)
class Analysis:
    """Every metric of one signal. A metric the signal is too short for is
    None, with the reason in :attr:`missing`.

    Attributes
    ----------
    duration : float
        Length of the analysed signal in s.
    level : float
        Equivalent continuous sound pressure level Leq in dB re 20 µPa
        (-inf for silence).
    field : str
        The sound field of the loudness metrics.
    sound_levels : SoundLevels or None
        LAeq, LAFmax ... after IEC 61672-1.
    band_levels : ThirdOctaveLevels or None
        The third-octave band levels.
    loudness : Loudness or None
    loudness_time : LoudnessTime or None
    sharpness : float or None
        Sharpness in acum of the stationary specific loudness.
    sharpness_time : SharpnessTime or None
        Sharpness of every frame of the time-varying loudness.
    roughness : Roughness or None
    tonality : Tonality or None
    roughness_ecma : RoughnessEcma or None
    tonality_ecma : TonalityEcma or None
    loudness_ecma : LoudnessEcma or None
    fluctuation_ecma : FluctuationEcma or None
    missing : dict
        Name of each missing metric and why it is missing.
    """

    duration: float
    level: float
    field: str
    sound_levels: Optional[SoundLevels] = None
    band_levels: Optional[ThirdOctaveLevels] = None
    loudness: Optional[Loudness] = None
    loudness_time: Optional[LoudnessTime] = None
    sharpness: Optional[float] = None
    sharpness_time: Optional[SharpnessTime] = None
    roughness: Optional[Roughness] = None
    tonality: Optional[Tonality] = None
    roughness_ecma: Optional[RoughnessEcma] = None
    tonality_ecma: Optional[TonalityEcma] = None
    loudness_ecma: Optional[_ecma.LoudnessEcma] = None
    fluctuation_ecma: Optional[_fluctuation.FluctuationEcma] = None
    missing: dict = dataclass_field(default_factory=dict)


@dataclass(frozen=True)
class _Section:
    """One metric of the report.

    key        the Analysis attribute it fills
    label      its label in the summary
    metric     the metric of the file layer's table it shows (its title on a
               missing panel and in the reason, the fewest samples it needs)
    compute    (signal, field, results so far) -> result
    text       result -> its line of the summary
    panels     names of quarnelo.plot functions drawing the result
    needs      keys of the results compute uses
    """

    key: str
    label: str
    metric: str
    compute: Callable
    text: Callable
    panels: tuple = ()
    needs: tuple = ()

    @property
    def title(self):
        return _files.BY_NAME[self.metric]["title"]

    @property
    def minimum(self):
        return _files.BY_NAME[self.metric]["min_samples"]


def _sound_levels_text(r):
    return (f"LAeq = {r.LAeq:.1f} dB, LAFmax = {r.LAFmax:.1f} dB, LCpeak = {r.LCpeak:.1f} dB, "
            f"LAF90 = {r.exceeded(90):.1f} dB")


def _band_levels_text(r):
    loudest = int(np.argmax(r.levels))
    return f"loudest band {r.centre_hz[loudest]:g} Hz at {r.levels[loudest]:.1f} dB"


def _loudness_text(r):
    return f"N = {r.loudness:.3f} sone, LN = {loudness_level(r.loudness):.1f} phon (stationary)"


def _loudness_time_text(r):
    n5 = r.exceeded(5)
    return (f"Nmax = {r.loudness.max():.3f} sone, N5 = {n5:.3f} sone ({loudness_level(n5):.1f} phon), "
            f"N10 = {r.exceeded(10):.3f} sone")


def _sharpness_text(s):
    return f"S = {s:.3f} acum (of the stationary pattern)"


def _sharpness_time_text(r):
    return f"mean {r.mean():.3f} acum, max {r.max():.3f} acum"


def _roughness_text(r):
    return (f"mean {_statistics.mean(r.roughness):.3f} asper, "
            f"max {_statistics.max_of(r.roughness):.3f} asper")


def _tonality_text(r):
    return f"mean {r.tonality.mean():.3f} t.u., max {r.tonality.max():.3f} t.u."


def _roughness_ecma_text(r):
    return (f"R = {r.roughness:.3f} asper (90th percentile from 0.32 s), "
            f"mean {r.mean:.3f} asper, max {r.max:.3f} asper")


def _tonality_ecma_text(r):
    value, maximum, _ = r.summary()
    band, frequency = r.strongest()
    where = f" at {frequency:.0f} Hz ({r.bark[band]:g} Bark)" if band is not None else ""
    return f"T = {value:.3f} tu_HMS (mean from 0.3 s), max {maximum:.3f} tu_HMS{where}"


def _loudness_ecma_text(r):
    return f"N = {r.value:.3f} sone_HMS (power mean from 0.304 s), max {r.max:.3f} sone_HMS"


def _fluctuation_ecma_text(r):
    return f"F = {r.value:.3f} vacil_HMS (90th percentile from 0.72 s), max {r.max:.3f} vacil_HMS"


def _loudness_ecma_of(tonality):
    """ECMA-418-2 loudness from the tonal analysis already made: its total
    specific loudness, reduced by the library's rules (the very values of
    :func:`quarnelo.loudness_ecma`)."""
    series, averaged, value = _ecma._aggregate(_ecma._LOUDNESS, np.ascontiguousarray(tonality.total_loudness),
                                               "report")
    return _ecma.LoudnessEcma(value, series, tonality.total_loudness, averaged, tonality.time, tonality.bark,
                              tonality.centre_hz, tonality.field)


# The report's metrics in the order of the summary and the figure. A new
# metric is one row here, its attribute in Analysis and its text function.
_SECTIONS = (
    _Section("sound_levels", "sound levels", "spl",
             lambda x, fld, done: sound_levels(x), _sound_levels_text, ("sound_levels",)),
    _Section("band_levels", "band levels", "levels",
             lambda x, fld, done: third_octave_levels(x), _band_levels_text, ("third_octave_levels",)),
    _Section("loudness", "loudness", "loudness",
             lambda x, fld, done: loudness(x, field=fld), _loudness_text,
             ("specific_loudness",)),
    _Section("loudness_time", "loudness(t)", "loudness-time",
             lambda x, fld, done: loudness_time(x, field=fld), _loudness_time_text,
             ("loudness_time", "specific_loudness_time")),
    _Section("sharpness", "sharpness", "sharpness",
             lambda x, fld, done: sharpness(done["loudness"]), _sharpness_text,
             (), ("loudness",)),
    _Section("sharpness_time", "sharpness(t)", "sharpness",
             lambda x, fld, done: sharpness(done["loudness_time"]), _sharpness_time_text,
             ("sharpness_time",), ("loudness_time",)),
    _Section("roughness", "roughness", "roughness-dw",
             lambda x, fld, done: roughness_dw(x), _roughness_text, ("roughness",)),
    _Section("tonality", "tonality", "tonality-aures",
             lambda x, fld, done: tonality_aures(x, field=fld), _tonality_text, ("tonality",)),
    _Section("roughness_ecma", "roughness (ECMA)", "roughness-ecma",
             lambda x, fld, done: roughness_ecma(x, field=fld), _roughness_ecma_text,
             ("specific_roughness_time",)),
    _Section("tonality_ecma", "tonality (ECMA)", "tonality-ecma",
             lambda x, fld, done: tonality_ecma(x, field=fld), _tonality_ecma_text,
             ("specific_tonality",)),
    _Section("loudness_ecma", "loudness (ECMA)", "loudness-ecma",
             lambda x, fld, done: _loudness_ecma_of(done["tonality_ecma"]), _loudness_ecma_text,
             ("loudness_ecma",), ("tonality_ecma",)),
    _Section("fluctuation_ecma", "fluctuation (ECMA)", "fluctuation-ecma",
             lambda x, fld, done: _fluctuation.fluctuation_ecma(x, field=fld), _fluctuation_ecma_text,
             ("fluctuation_ecma",)),
)


def _seconds(samples):
    return f"{samples / SAMPLE_RATE:g} s"


def analyse(signal, fs=SAMPLE_RATE, field="free", *, resample=False):
    """Every metric of a signal in pascal.

    Metrics the signal is too short for are left out (with the reason in
    ``missing``); every other failure raises.
    """
    from . import _inputs

    x = _inputs.signal(signal, fs, resample, "analyse")
    _inputs.sound_field(field, "analyse")
    done = {}
    missing = {}
    for section in _SECTIONS:
        absent = [key for key in section.needs if key not in done]
        if absent:
            missing[section.key] = missing[absent[0]]
            continue
        try:
            done[section.key] = section.compute(x, field, done)
        except InputTooShortError:
            missing[section.key] = (f"signal too short: {section.title} needs at least "
                                    f"{section.minimum} samples ({_seconds(section.minimum)})")
    power = float(np.mean(x * x)) if x.size else 0.0
    level = 10 * math.log10(power / REFERENCE_PRESSURE**2) if power > 0 else -math.inf
    return Analysis(duration=x.size / SAMPLE_RATE, level=level, field=field, missing=missing,
                    **done)


def summary(analysis, before=(), after=()):
    """The summary of an analysis as text: one line per metric, label and
    values, after the (label, text) rows `before` and before those `after`."""
    rows = list(before)
    rows += [("level", f"Leq = {analysis.level:.1f} dB SPL"), ("sound field", analysis.field)]
    for section in _SECTIONS:
        result = getattr(analysis, section.key)
        if result is None:
            rows.append((section.label, f"n/a ({analysis.missing[section.key]})"))
        else:
            rows.append((section.label, section.text(result)))
    rows += list(after)
    width = max(len(label) for label, _ in rows)
    return "\n".join(f"{label:<{width}}  {text}" for label, text in rows)


def figure(analysis, title=None):
    """One figure with a panel for every plot of every metric.

    Made without pyplot, so it works under any backend, a headless one
    included; save it with ``figure(...).savefig("report.png")``.
    """
    from matplotlib.figure import Figure

    from . import plot

    panels = []
    for section in _SECTIONS:
        result = getattr(analysis, section.key)
        for name in section.panels:
            panels.append((section, getattr(plot, name), result))
    columns = 2
    rows = max(1, math.ceil(len(panels) / columns))
    fig = Figure(figsize=(11, 3.4 * rows + 0.6), layout="constrained")
    axes = fig.subplots(rows, columns, squeeze=False).ravel()
    for ax, (section, draw, result) in zip(axes, panels):
        if result is None:
            plot.unavailable(ax, section.title, analysis.missing[section.key])
        else:
            draw(result, ax=ax)
    for ax in axes[len(panels):]:
        ax.set_visible(False)
    heading = f"{analysis.duration:g} s, Leq {analysis.level:.1f} dB SPL"
    fig.suptitle(f"{title}: {heading}" if title else heading)
    return fig


def add_arguments(parser):
    """The options of the report command."""
    parser.add_argument("file", help="audio file to analyse (any format libsndfile reads)")
    parser.add_argument("-o", "--output", metavar="PNG",
                        help="figure to write (default: FILE's name with -report.png, "
                             "in the current directory)")
    parser.add_argument("--channel", type=int, default=1,
                        help="channel to analyse, counted from 1 (default 1)")
    parser.add_argument("--field", choices=("free", "diffuse"), default="free",
                        help="sound field of the loudness and tonality metrics (default free)")
    cal = parser.add_argument_group("calibration (one of; default: samples are pascal)")
    cal.add_argument("--pa-per-unit", type=float, metavar="X",
                     help="sound pressure in Pa of one digital unit")
    cal.add_argument("--full-scale-spl", type=float, metavar="L",
                     help="level in dB SPL of a full-scale sine")
    cal.add_argument("--cal-file", metavar="FILE",
                     help="recording of a calibrator, with --cal-spl")
    cal.add_argument("--cal-spl", type=float, metavar="L",
                     help="level in dB SPL of the calibrator in --cal-file")


def run(args, out=None, err=None):
    """Carry out the report command; returns the exit status."""
    out = sys.stdout if out is None else out
    err = sys.stderr if err is None else err
    prog = "quarnelo report"
    given = [args.pa_per_unit is not None, args.full_scale_spl is not None,
             args.cal_file is not None or args.cal_spl is not None]
    if sum(given) > 1:
        print(f"{prog}: give one calibration: --pa-per-unit, --full-scale-spl "
              "or --cal-file with --cal-spl", file=err)
        return 2
    if (args.cal_file is None) != (args.cal_spl is None):
        print(f"{prog}: --cal-file and --cal-spl go together", file=err)
        return 2
    try:
        import matplotlib  # noqa: F401
    except ImportError as exc:
        print(f"{prog}: needs python3-matplotlib ({exc})", file=err)
        return 1
    output = args.output or f"{pathlib.Path(args.file).stem}-report.png"

    def fail(path, exc):
        print(f"{prog}: {path}: {exc}", file=err)
        return 1

    errors = (OSError, RuntimeError, ValueError, TypeError, ImportError, QuarneloError)
    try:
        channels, reason = _files.probe(args.file, "report")
        if reason:
            return fail(args.file, reason)
        with _files.Options("report", **_files.calibration_options(_files.calibration_of_arguments(args), "report"),
                            channel=_files.channel_option(args.channel, "report")) as o:
            described, rate, resampled = _files.reading_of(args.file, o)
        samples = _files.read(args.file, args.channel, _files.calibration_of_arguments(args))
        analysis = analyse(samples, field=args.field)
    except errors as exc:
        return fail(args.file, getattr(exc, "detail", None) or exc)
    try:
        figure(analysis, title=pathlib.Path(args.file).name).savefig(output, dpi=100)
    except errors as exc:
        return fail(output, exc)

    resampled_text = f", resampled to {SAMPLE_RATE} Hz" if resampled else ""
    before = [
        ("file", args.file),
        ("signal", f"{samples.size} samples at {SAMPLE_RATE} Hz (file at {rate} Hz{resampled_text}), "
                   f"channel {args.channel} of {channels}"),
        ("calibration", described),
    ]
    print(summary(analysis, before, [("figure", output)]), file=out)
    return 0
