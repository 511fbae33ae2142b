"""Results of the package against the C library called directly, to the
bit, for every input form the package accepts."""

import math

import numpy as np
import pytest

import quarnelo
from quarnelo import _inputs
from conftest import RATE, SIGNALS, am_tone, noise, tone

FIELDS = {"free": 0, "diffuse": 1}

LEVEL_TABLES = {
    "flat_60dB": np.full(28, 60.0),
    "ramp": np.linspace(20.0, 90.0, 28),
    "tone_1k_40dB": np.where(np.arange(28) == 16, 40.0, -20.0),
    "limit_120dB_low_bands": np.where(np.arange(28) <= 10, 120.0, 30.0),
}


def same(a, b):
    """Bit-identical arrays (NaN never expected)."""
    a, b = np.asarray(a), np.asarray(b)
    assert a.shape == b.shape
    assert a.tobytes() == b.tobytes(), f"max difference {np.max(np.abs(a - b))}"


@pytest.mark.parametrize("field", FIELDS)
@pytest.mark.parametrize("levels", sorted(LEVEL_TABLES))
def test_loudness_from_levels_equals_library(clib, levels, field):
    got = quarnelo.loudness_from_levels(LEVEL_TABLES[levels], field=field)
    total, specific = clib.loudness_from_levels(LEVEL_TABLES[levels], FIELDS[field])
    assert got.loudness == total
    same(got.specific, specific)
    assert got.field == field and got.bark is quarnelo.bark_axis()


@pytest.mark.parametrize("field", FIELDS)
def test_loudness_equals_library(clib, signal, field):
    got = quarnelo.loudness(signal, field=field)
    total, specific = clib.loudness_stationary(signal, FIELDS[field])
    assert got.loudness == total
    same(got.specific, specific)


@pytest.mark.parametrize("field", FIELDS)
def test_loudness_time_equals_library(clib, signal, field):
    got = quarnelo.loudness_time(signal, field=field)
    total, specific = clib.loudness_time(signal, FIELDS[field])
    same(got.loudness, total)
    same(got.specific, specific)
    same(got.time, np.arange(total.size) * 96 / RATE)


@pytest.mark.parametrize("seconds", [0.2, 0.25, 0.4])
def test_roughness_equals_library(clib, seconds):
    x = am_tone(seconds)
    got = quarnelo.roughness_dw(x)
    same(got.roughness, clib.roughness_dw(x))
    same(got.time, (np.arange(got.roughness.size) + 1) / 10)


@pytest.mark.parametrize("field", FIELDS)
@pytest.mark.parametrize("seconds", [0.25, 0.3745, 0.5])
def test_tonality_equals_library(clib, seconds, field):
    x = tone(700, 60, seconds) + noise(seconds, 45, 3)
    got = quarnelo.tonality_aures(x, field=field)
    same(got.tonality, clib.tonality_aures(x, FIELDS[field]))
    # Frame k covers samples 6000 k ... 6000 k + 11999; its centre is at
    # 0.125 (k + 1) s.
    same(got.time, (np.arange(got.tonality.size) + 1) * 0.125)
    assert got.field == field
    assert got.tonality.size == (x.size - 12000) // 6000 + 1


def test_tonality_of_a_tone_and_of_noise():
    assert np.all(np.abs(quarnelo.tonality_aures(tone(1000, 60, 0.5)).tonality - 1) < 0.01)
    assert np.all(quarnelo.tonality_aures(noise(0.5)).tonality < 0.1)



def test_fluctuation_ecma_calibration_and_silence():
    # 1 kHz at 60 dB SPL, fully modulated at 4 Hz, 10 s: 1 vacil within 1 %,
    # about 0.395 vacil/Bark at 9 Bark; silence gives 0.
    t = np.arange(10 * RATE) / RATE
    peak = 0.02 * math.sqrt(2) / math.sqrt(1.5)
    x = peak * (1 + np.sin(2 * np.pi * 4 * t)) * np.sin(2 * np.pi * 1000 * t)
    got = quarnelo.fluctuation_ecma(x)
    assert got.value == pytest.approx(1.0, rel=0.01)
    assert got.specific.shape == (501, 53) and got.averaged.shape == (53,)
    assert got.averaged[17] == pytest.approx(0.395, abs=0.01) and got.bark[17] == 9.0
    np.testing.assert_allclose(got.total, 0.5 * got.specific.sum(axis=1), rtol=1e-12)
    np.testing.assert_allclose(got.averaged, got.specific[36:].mean(axis=0), rtol=1e-12)
    same(got.time, np.arange(501) / 50)
    assert got.max >= got.value and got.field == "free"
    quiet = quarnelo.fluctuation_ecma(np.zeros(70000), field="diffuse")
    assert quiet.value == 0 and not quiet.specific.any() and quiet.field == "diffuse"

@pytest.mark.parametrize("field", FIELDS)
@pytest.mark.parametrize("seconds", [0.32, 0.5, 1.0])
def test_roughness_ecma_equals_library(clib, seconds, field):
    x = am_tone(seconds)
    got = quarnelo.roughness_ecma(x, field=field)
    specific = clib.roughness_ecma(x, FIELDS[field])
    same(got.specific, specific)
    frames = specific.shape[0]
    same(got.time, np.arange(frames) / 50)
    assert got.time[-1] <= x.size / RATE
    # Total: 0.5 Bark times the band sum, summed in band order.
    total = [0.5 * sum(float(v) for v in row) for row in specific]
    same(got.total, total)
    # Single value: the 90th percentile from frame 16 on, interpolated
    # between the order statistics around it.
    settled = sorted(total[16:])
    h = 0.9 * (len(settled) - 1)
    i = math.floor(h)
    upper = settled[min(i + 1, len(settled) - 1)]
    assert got.roughness == pytest.approx(settled[i] + (h - i) * (upper - settled[i]), rel=1e-14)
    assert got.mean == pytest.approx(np.mean(total), rel=1e-12)
    assert got.max == max(total)
    assert got.bark[0] == 0.5 and got.bark[-1] == 26.5 and got.bark.size == 53
    assert got.centre_hz[16] == pytest.approx(937.6503522908124, rel=1e-12)
    assert got.field == field
    assert np.all(got.specific[0] == 0)


def test_roughness_ecma_of_a_rough_tone_is_about_one_asper():
    t = np.arange(96000) / RATE
    carrier = 0.02 * np.sqrt(2) / np.sqrt(1.5)  # 60 dB overall
    x = carrier * (1 + np.sin(2 * np.pi * 70 * t)) * np.sin(2 * np.pi * 1000 * t)
    assert quarnelo.roughness_ecma(x).roughness == pytest.approx(1.0, abs=0.01)


def test_sharpness_equals_library_for_every_form(clib):
    lt = quarnelo.loudness_time(am_tone())
    frames = lt.specific[::25]
    expected = np.array([clib.sharpness(p) for p in frames])
    assert quarnelo.sharpness(frames[3]) == expected[3]
    assert quarnelo.sharpness(list(frames[3])) == expected[3]
    same(quarnelo.sharpness(frames), expected)
    series = quarnelo.sharpness(lt)
    assert isinstance(series, quarnelo.SharpnessTime)
    same(series.sharpness[::25], expected)
    assert series.time is lt.time
    stationary = quarnelo.loudness(am_tone())
    assert quarnelo.sharpness(stationary) == clib.sharpness(stationary.specific)


# Every way a caller may hold a signal, and the float64 array it stands for.
def _input_forms():
    base = tone(1000, 65, 0.3) + SIGNALS["noise_55dB"]()[:14400]
    wide = np.repeat(base, 3)
    f32 = base.astype(np.float32)
    pcm = np.round(base * 1000).astype(np.int16)
    readonly = base.copy()
    readonly.setflags(write=False)
    strided = np.zeros(2 * base.size)
    strided[::2] = base
    return {
        "float32": (f32, f32.astype(np.float64)),
        "int16": (pcm, pcm.astype(np.float64)),
        "non_contiguous_view": (wide[::3], base),
        "strided_inside_2d_column": (np.stack([base, -base], axis=1)[:, 0], base),
        "every_second_of_a_buffer": (strided[::2], base),
        "read_only": (readonly, base),
        "list": (base.tolist(), base),
        "reversed": (base[::-1], base[::-1].copy()),
    }


INPUT_FORMS = _input_forms()


@pytest.mark.parametrize("form", sorted(INPUT_FORMS))
def test_input_forms_give_the_results_of_float64(clib, form):
    given, as_float64 = INPUT_FORMS[form]
    total, specific = clib.loudness_stationary(as_float64, 0)
    got = quarnelo.loudness(given)
    assert got.loudness == total
    same(got.specific, specific)
    total_t, _ = clib.loudness_time(as_float64, 0)
    same(quarnelo.loudness_time(given).loudness, total_t)


def test_contiguous_float64_is_not_copied():
    x = tone()
    assert _inputs.signal(x, RATE, False, "test") is x
    readonly = tone()
    readonly.setflags(write=False)
    assert _inputs.signal(readonly, RATE, False, "test") is readonly
    assert _inputs.signal(x[::2], RATE, False, "test").flags.c_contiguous


def test_input_is_never_modified():
    x = am_tone()
    before = x.copy()
    quarnelo.loudness(x)
    quarnelo.loudness_time(x)
    assert x.tobytes() == before.tobytes()


def test_resample_at_48k_changes_nothing(clib):
    x = am_tone()
    assert quarnelo.loudness(x, resample=True).loudness == clib.loudness_stationary(x, 0)[0]


def test_axes():
    bark = quarnelo.bark_axis()
    centres = quarnelo.third_octave_centres_hz()
    assert bark.shape == (240,) and centres.shape == (28,)
    np.testing.assert_allclose(bark, (np.arange(240) + 1) / 10, rtol=0, atol=1e-12)
    assert centres[0] == 25 and centres[16] == 1000 and centres[-1] == 12500
    assert np.all(np.diff(centres) > 0)
    assert bark is quarnelo.bark_axis() and centres is quarnelo.third_octave_centres_hz()
    for axis in (bark, centres):
        with pytest.raises(ValueError):
            axis[0] = 0.0


def test_results_are_wired_to_their_axes():
    # A 1 kHz tone excites the critical band around 8.5 Bark; its loudness
    # at 40 dB is close to 1 sone (the definition of the sone).
    r = quarnelo.loudness_from_levels(LEVEL_TABLES["tone_1k_40dB"])
    assert 8.0 <= r.bark[np.argmax(r.specific)] <= 9.5
    assert 0.9 < r.loudness < 1.1
    lt = quarnelo.loudness_time(tone(1000, 60, 0.5))
    assert lt.specific.shape == (lt.time.size, 240)
    assert lt.time.size == (24000 - 1) // 96 + 1
    assert 8.0 <= lt.bark[np.argmax(lt.specific[-1])] <= 9.5


def test_exceeded_is_a_frame_value_from_the_top():
    lt = quarnelo.loudness_time(am_tone())
    assert lt.exceeded(0) == lt.loudness.max()
    assert lt.exceeded(100) == 0.0, "the first frame is silent"
    assert lt.exceeded(5) in lt.loudness
    assert lt.exceeded(5) >= lt.exceeded(10)
    with pytest.raises(ValueError):
        lt.exceeded(101)


@pytest.mark.parametrize("field", FIELDS)
def test_tonality_ecma_equals_library(clib, field):
    x = tone(2500, 55, 0.5) + noise(0.5, 45, 2)
    got = quarnelo.tonality_ecma(x, field=field)
    arrays = clib.ecma_tonal(x, FIELDS[field])
    for i, name in enumerate(("tonal_loudness", "noise_loudness", "frequency",
                              "specific_tonality", "total_loudness")):
        same(getattr(got, name), arrays[i])
    frames = (x.size + 255) // 256 + 1
    assert got.specific_tonality.shape == (frames, 53)
    same(got.time, np.arange(frames) * 256 / RATE)
    same(got.tonality, arrays[3].max(axis=1))
    assert got.field == field


def test_tonality_ecma_axes_and_strongest_component():
    r = quarnelo.tonality_ecma(tone(1000, 40, 1.0))
    assert r.bark[0] == 0.5 and r.bark[52] == 26.5
    assert r.centre_hz[17] == pytest.approx(1027.024708619026, rel=1e-14)
    assert not r.centre_hz.flags.writeable
    value, maximum, frame = r.summary()
    # The method's calibration: 1 kHz at 40 dB SPL has tonality 1.
    assert value == pytest.approx(1.0, abs=0.01) and maximum == pytest.approx(1.0, abs=0.01)
    assert frame * 256 / RATE >= 0.3
    band, frequency = r.strongest()
    assert band == 17 and frequency == pytest.approx(999.0234375)
    silent = quarnelo.tonality_ecma(np.zeros(20000))
    assert silent.summary() == (0.0, 0.0, 57) and silent.strongest() == (None, 0.0)


def test_tonality_ecma_refuses_short_signals_and_other_rates():
    with pytest.raises(quarnelo.InputTooShortError, match="at least 14592"):
        quarnelo.tonality_ecma(np.zeros(14591))
    with pytest.raises(quarnelo.InvalidSampleRateError):
        quarnelo.tonality_ecma(np.zeros(20000), fs=44100)
    with pytest.raises(quarnelo.InvalidSoundFieldError):
        quarnelo.tonality_ecma(np.zeros(20000), field="reverberant")
    resampled = quarnelo.tonality_ecma(tone(1000, 60, 0.5)[::2], fs=24000, resample=True)
    assert resampled.time.size == (24000 + 255) // 256 + 1
