"""Figures of quarnelo's results (needs matplotlib).

Every function draws one result into a matplotlib Axes and returns it; with
``ax=None`` it makes a new figure through pyplot. Keyword arguments go to the
underlying matplotlib call.

>>> import quarnelo, quarnelo.plot
>>> ax = quarnelo.plot.loudness_time(quarnelo.loudness_time(signal))  # doctest: +SKIP
"""

import numpy as np

try:
    import matplotlib  # noqa: F401  (fail here, with a clear message)
except ImportError:  # pragma: no cover - depends on the machine
    raise ImportError("quarnelo.plot needs matplotlib (Debian package python3-matplotlib)") from None


def _axes(ax):
    if ax is None:
        import matplotlib.pyplot as plt

        _, ax = plt.subplots()
    return ax


def specific_loudness(result, ax=None, **kwargs):
    """Specific loudness N' over critical-band rate of a stationary
    :class:`quarnelo.Loudness`."""
    ax = _axes(ax)
    kwargs.setdefault("label", f"N = {result.loudness:.3g} sone")
    ax.plot(result.bark, result.specific, **kwargs)
    ax.set_xlim(0, 24)
    ax.set_ylim(bottom=0)
    ax.set_xlabel("Critical-band rate / Bark")
    ax.set_ylabel("Specific loudness / sone/Bark")
    ax.set_title(f"Specific loudness (ISO 532-1, {result.field} field)")
    ax.legend(loc="upper right")
    ax.grid(True, alpha=0.3)
    return ax


def loudness_time(result, ax=None, **kwargs):
    """Total loudness N(t) of a :class:`quarnelo.LoudnessTime`, with its N5."""
    ax = _axes(ax)
    ax.plot(result.time, result.loudness, **kwargs)
    n5 = result.exceeded(5)
    ax.axhline(n5, color="0.4", linestyle="--", linewidth=0.8, label=f"N5 = {n5:.3g} sone")
    _time_axis(ax, result.time)
    ax.set_ylim(bottom=0)
    ax.set_ylabel("Loudness / sone")
    ax.set_title(f"Loudness over time (ISO 532-1, {result.field} field)")
    ax.legend(loc="lower right")
    return ax


def specific_loudness_time(result, ax=None, **kwargs):
    """Specific loudness over time and critical-band rate of a
    :class:`quarnelo.LoudnessTime`, as an image."""
    ax = _image(ax, result.time, result.bark, result.specific, "sone/Bark", "viridis", **kwargs)
    ax.set_title("Specific loudness over time")
    return ax


_SHARPNESS_TITLES = {"din": "DIN 45692", "bismarck": "von Bismarck", "fastl": "Fastl", "aures": "Aures"}


def sharpness_time(result, ax=None, **kwargs):
    """Sharpness S(t) of a :class:`quarnelo.SharpnessTime`, titled with its
    weighting."""
    weighting = _SHARPNESS_TITLES.get(result.weighting, "DIN 45692")
    return _series(ax, result.time, result.sharpness, "Sharpness / acum",
                   f"Sharpness over time ({weighting})", **kwargs)


def roughness(result, ax=None, **kwargs):
    """Roughness R(t) of a :class:`quarnelo.Roughness`."""
    return _series(ax, result.time, result.roughness, "Roughness / asper",
                   "Roughness (Daniel & Weber)", **kwargs)


def tonality(result, ax=None, **kwargs):
    """Tonality T(t) of a :class:`quarnelo.Tonality`."""
    return _series(ax, result.time, result.tonality, "Tonality / t.u.",
                   f"Tonality (Aures, {result.field} field)", **kwargs)


def specific_roughness_time(result, ax=None, **kwargs):
    """Specific roughness over time and critical-band rate of a
    :class:`quarnelo.RoughnessEcma`, as an image, with the single value in
    the title."""
    ax = _image(ax, result.time, result.bark, result.specific, "asper/Bark", "magma", **kwargs)
    ax.set_title(f"Specific roughness (ECMA-418-2), R = {result.roughness:.3g} asper")
    return ax


def specific_fluctuation_time(result, ax=None, **kwargs):
    """Specific fluctuation strength over time and critical-band rate of a
    :class:`quarnelo.FluctuationEcma`, as an image, with the single value in
    the title."""
    ax = _image(ax, result.time, result.bark, result.specific, "vacil_HMS/Bark", "magma", **kwargs)
    ax.set_title(f"Specific fluctuation strength (ECMA-418-2), F = {result.value:.3g} vacil_HMS")
    return ax


def fluctuation_ecma(result, ax=None, **kwargs):
    """The time-dependent fluctuation strength F(l) of a
    :class:`quarnelo.FluctuationEcma`, with its single value (the 90th
    percentile from 0.72 s on)."""
    ax = _series(ax, result.time, result.total, "Fluctuation strength / vacil_HMS",
                 f"Fluctuation strength over time (ECMA-418-2, {result.field} field)", **kwargs)
    ax.axhline(result.value, color="0.4", linestyle="--", linewidth=0.8, label=f"F = {result.value:.3g} vacil_HMS")
    ax.axvspan(0, 0.72, color="0.9", zorder=0, label="before 0.72 s, not counted")
    ax.legend(loc="lower right")
    return ax


def specific_tonality(result, ax=None, **kwargs):
    """Specific tonality over time and critical-band rate of a
    :class:`quarnelo.TonalityEcma`, as an image, titled with the single
    value of :meth:`quarnelo.TonalityEcma.summary`."""
    ax = _image(ax, result.time, result.bark, result.specific_tonality, "tu_HMS/Bark", "magma",
                **kwargs)
    ax.set_ylim(0, 27)
    value, _, _ = result.summary()
    ax.set_title(f"Specific tonality (ECMA-418-2), T = {value:.3g} tu_HMS")
    return ax


def tonality_ecma(result, ax=None, **kwargs):
    """The time-dependent tonality T(l) of a :class:`quarnelo.TonalityEcma`
    (the largest specific tonality of each frame), with its single value."""
    ax = _series(ax, result.time, result.tonality, "Tonality / tu_HMS",
                 f"Tonality over time (ECMA-418-2, {result.field} field)", **kwargs)
    value, _, _ = result.summary()
    ax.axhline(value, color="0.4", linestyle="--", linewidth=0.8, label=f"T = {value:.3g} tu_HMS")
    ax.axvspan(0, 0.3, color="0.9", zorder=0, label="before 0.3 s, not averaged")
    ax.legend(loc="lower right")
    return ax


def loudness_ecma(result, ax=None, **kwargs):
    """The time-dependent loudness N(l) of a :class:`quarnelo.LoudnessEcma`,
    with its single value N (the power mean from 0.304 s on)."""
    ax = _series(ax, result.time, result.loudness, "Loudness / sone_HMS",
                 f"Loudness over time (ECMA-418-2, {result.field} field)", **kwargs)
    ax.axhline(result.value, color="0.4", linestyle="--", linewidth=0.8, label=f"N = {result.value:.3g} sone_HMS")
    ax.axvspan(0, 0.304, color="0.9", zorder=0, label="before 0.304 s, not averaged")
    ax.legend(loc="lower right")
    return ax


def sound_levels(result, ax=None, **kwargs):
    """LAF(t) and LAS(t) of a :class:`quarnelo.SoundLevels`, with its LAeq
    (the points of silence, -inf dB, are left out)."""
    ax = _axes(ax)
    finite = lambda v: np.where(np.isfinite(v), v, np.nan)  # noqa: E731
    kwargs.setdefault("label", "LAF")
    ax.plot(result.time, finite(result.LAF), **kwargs)
    ax.plot(result.time, finite(result.LAS), color="0.45", linewidth=0.9, label="LAS")
    if np.isfinite(result.LAeq):
        ax.axhline(result.LAeq, color="0.4", linestyle="--", linewidth=0.8, label=f"LAeq = {result.LAeq:.1f} dB")
    _time_axis(ax, result.time)
    ax.set_ylabel("Level / dB re 20 µPa")
    ax.set_title("Sound levels (IEC 61672-1)")
    ax.legend(loc="lower right")
    return ax


def third_octave_levels(result, ax=None, **kwargs):
    """The band spectrum of a :class:`quarnelo.ThirdOctaveLevels`: the
    level of each third-octave band over the whole signal, as bars."""
    ax = _axes(ax)
    bands = np.arange(result.levels.size)
    floor = 10 * np.floor(min(result.levels.min(), 0) / 10)
    kwargs.setdefault("color", "C0")
    ax.bar(bands, result.levels - floor, bottom=floor, width=0.8, **kwargs)
    # Every third band is an octave: 31.5, 63, 125 ... Hz.
    ticks = bands[1::3]
    ax.set_xticks(ticks)
    ax.set_xticklabels([f"{hz:g}" if hz < 1000 else f"{hz / 1000:g}k" for hz in result.centre_hz[ticks]])
    ax.set_xlim(-0.6, result.levels.size - 0.4)
    ax.set_ylim(bottom=floor)
    ax.set_xlabel("Third-octave band / Hz")
    ax.set_ylabel("Level / dB re 20 µPa")
    ax.set_title("Third-octave band levels")
    ax.grid(True, axis="y", alpha=0.3)
    return ax


def _image(ax, time, rate, values, unit, cmap, **kwargs):
    """Values (frames, bands) over time and critical-band rate, as an image
    with a colour bar: the figure of every specific quantity over time."""
    ax = _axes(ax)
    kwargs.setdefault("cmap", cmap)
    kwargs.setdefault("shading", "auto")
    kwargs.setdefault("rasterized", True)
    mesh = ax.pcolormesh(time, rate, values.T, **kwargs)
    ax.figure.colorbar(mesh, ax=ax, label=unit)
    _time_axis(ax, time, grid=False)
    ax.set_ylabel("Critical-band rate / Bark")
    return ax


def _series(ax, time, values, ylabel, title, **kwargs):
    """One value per frame over time: the figure of every framed metric."""
    ax = _axes(ax)
    ax.plot(time, values, **kwargs)
    _time_axis(ax, time)
    ax.set_ylim(bottom=0)
    ax.set_ylabel(ylabel)
    ax.set_title(title)
    return ax


def _time_axis(ax, time, grid=True):
    if len(time) > 1:
        ax.set_xlim(time[0], time[-1])
    ax.set_xlabel("Time / s")
    if grid:
        ax.grid(True, alpha=0.3)


def unavailable(ax, title, reason):
    """An empty panel that says why a metric is missing."""
    ax.set_title(title)
    ax.text(0.5, 0.5, reason, ha="center", va="center", transform=ax.transAxes, wrap=True)
    ax.set_xticks(np.array([]))
    ax.set_yticks(np.array([]))
    return ax
