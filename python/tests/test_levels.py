"""Sound levels, third-octave band levels, the loudness level and the
sharpness weightings from Python: reference values of the standards, the
file layer's values to the bit, and the level of silence."""

import math

import numpy as np
import pytest

import quarnelo

FS = 48000


def sine(hz, rms, seconds=2.0):
    t = np.arange(int(seconds * FS)) / FS
    return rms * math.sqrt(2) * np.sin(2 * np.pi * hz * t)


# IEC 61672-1's A and C weightings at a few nominal frequencies, dB; a
# binding that mixed up the levels' order would miss them by far more than
# the class 1 tolerance.
@pytest.mark.parametrize("hz, a, c", [(1000, 0.0, 0.0), (100, -19.1, -0.3), (10000, -2.5, -4.4)])
def test_a_sine_reads_its_weighting_in_each_level(hz, a, c):
    r = quarnelo.sound_levels(sine(hz, 1.0))
    assert r.LZeq == pytest.approx(93.98, abs=0.01)
    assert r.LAeq - r.LZeq == pytest.approx(a, abs=0.15)
    assert r.LCeq - r.LZeq == pytest.approx(c, abs=0.15)
    # A steady sine: LAF settles at LAeq; the C peak is at least the
    # sine's 3 dB above LCeq (more where the filter's onset overshoots).
    assert r.LAFmax == pytest.approx(r.LAeq, abs=0.1)
    assert r.LAFmin == pytest.approx(r.LAeq, abs=0.1)
    assert 2.9 < r.LCpeak - r.LCeq < 4


def test_series_times_and_percentiles_are_the_file_layers():
    x = sine(1000, 0.2) * np.repeat([1.0, 0.1, 1.0, 0.3], FS // 2)
    r = quarnelo.sound_levels(x)
    assert r.LAF.shape == r.LAS.shape == r.time.shape == ((x.size - 1) // 480,)
    assert r.time[0] == 0.01 and r.time[-1] == pytest.approx(r.time.size * 0.01)
    spl = quarnelo.analyze_signal(x, metrics="spl")[0]["spl"].values
    for name in ("LZeq", "LAeq", "LCeq", "LAFmax", "LASmax", "LAFmin", "LCpeak"):
        assert getattr(r, name) == spl[name], name
    for p in (5, 10, 50, 90, 95):
        assert r.exceeded(p) == spl[f"LAF{p}"], p
    assert list(r.exceeded([5, 95])) == [spl["LAF5"], spl["LAF95"]]


def test_silence_reads_minus_infinity_never_nan():
    r = quarnelo.sound_levels(np.zeros(FS))
    assert [r.LZeq, r.LAeq, r.LCeq, r.LAFmax, r.LASmax, r.LAFmin, r.LCpeak] == [-math.inf] * 7
    assert np.all(r.LAF == -math.inf) and r.exceeded(50) == -math.inf
    analysis = quarnelo.analyze_signal(np.zeros(FS), metrics="spl")
    assert analysis[0]["spl"].values["LAeq"] == -math.inf
    # The tool's JSON has no infinity: null, as to_dict gives it.
    assert analysis.to_dict()["results"][0]["metrics"]["spl"]["LAeq"] == {"value": None, "unit": "dB"}


def test_band_levels_are_the_loudness_levels_and_the_file_layers():
    rng = np.random.default_rng(4)
    x = sine(1000, 0.1) + 0.01 * rng.standard_normal(2 * FS)
    b = quarnelo.third_octave_levels(x, step=0.25)
    assert b.series.shape == (8, 28) and b.step == 0.25
    np.testing.assert_array_equal(b.time, 0.125 + 0.25 * np.arange(8))
    np.testing.assert_array_equal(b.centre_hz, quarnelo.third_octave_centres_hz())
    assert np.argmax(b.levels) == 16  # the 1 kHz band
    # The very levels of the stationary loudness, and of the file layer.
    assert quarnelo.loudness_from_levels(b.levels).loudness == quarnelo.loudness(x).loudness
    levels = quarnelo.analyze_signal(x, metrics="levels", series=True, band_step=0.25)[0]["levels"]
    assert [levels.values[f"L{hz:g}Hz"] for hz in b.centre_hz] == list(b.levels)
    np.testing.assert_array_equal(levels.series["band_levels"].values, b.series)
    np.testing.assert_array_equal(levels.series["band_levels"].axes[0][2], b.time)


@pytest.mark.parametrize("call", [
    lambda: quarnelo.third_octave_levels(np.zeros(FS), step=0),
    lambda: quarnelo.third_octave_levels(np.zeros(FS), step=math.nan),
    lambda: quarnelo.third_octave_levels(np.zeros(100)),
    lambda: quarnelo.loudness_level(-1.0),
    lambda: quarnelo.loudness_level([1.0, math.nan]),
    lambda: quarnelo.sharpness(np.ones(240), weighting="zwicker"),
])
def test_refusals(call):
    with pytest.raises(quarnelo.QuarneloError):
        call()


def test_loudness_level_of_scalars_and_arrays():
    assert quarnelo.loudness_level(1) == 40.0
    assert quarnelo.loudness_level(2.0) == pytest.approx(50.0, abs=0.001)
    assert quarnelo.loudness_level(0) == pytest.approx(2.797, abs=0.001)
    levels = quarnelo.loudness_level(np.array([[1.0, 2.0], [4.0, 0.5]]))
    assert levels.shape == (2, 2) and levels[1, 0] == pytest.approx(60.0, abs=0.001)
    # Beside every ISO 532-1 loudness of the file layer.
    x = sine(1000, 0.02)
    values = quarnelo.analyze_signal(x, metrics="loudness,loudness-time")[0]
    assert values["loudness"].values["loudness_level"] == quarnelo.loudness_level(values["loudness"].values["loudness"])
    n = values["loudness-time"].values
    assert n["n5_level"] == quarnelo.loudness_level(n["n5"]) and n["n5_level"] > 60


def test_sharpness_weightings_are_the_file_layers():
    x = sine(4000, 0.05) + sine(500, 0.05)
    pattern = quarnelo.loudness(x)
    assert quarnelo.sharpness(pattern) == quarnelo.sharpness(pattern, "din")
    found = {}
    for w in ("din", "bismarck", "fastl", "aures"):
        s = quarnelo.sharpness(pattern, weighting=w)
        assert s == quarnelo.analyze_signal(x, metrics="sharpness", sharpness_weighting=w)[0]["sharpness"].values[
            "sharpness"], w
        found[w] = s
    assert len(set(found.values())) == 4
    frames = quarnelo.sharpness(quarnelo.loudness_time(x), weighting="fastl")
    assert frames.weighting == "fastl"


def test_plots_of_levels_draw_silence_too():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    import quarnelo.plot

    ax = Figure().subplots()
    quarnelo.plot.sound_levels(quarnelo.sound_levels(np.zeros(FS)), ax=ax)
    quarnelo.plot.sound_levels(quarnelo.sound_levels(sine(1000, 1.0)), ax=ax)
    quarnelo.plot.third_octave_levels(quarnelo.third_octave_levels(sine(1000, 1.0)), ax=ax)
    assert ax.get_title() == "Third-octave band levels"
