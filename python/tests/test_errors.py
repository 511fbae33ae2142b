"""Every failure raises the right exception, with the library's status and
message; nothing fails silently."""

import types

import numpy as np
import pytest

import quarnelo
from quarnelo import _library, _metrics
from conftest import RATE, tone

Q = quarnelo
OK = tone(1000, 60, 0.1)
LEVELS = np.full(28, 60.0)
PATTERN = Q.loudness(OK).specific


def _with(array, index, value):
    out = np.array(array, dtype=np.float64)
    out[index] = value
    return out


# (case, call, exception class, status)
CASES = [
    # signals
    ("too_short_255", lambda: Q.loudness(OK[:255]), Q.InputTooShortError, 6),
    ("empty_stationary", lambda: Q.loudness([]), Q.InputTooShortError, 6),
    ("empty_time", lambda: Q.loudness_time(np.zeros(0)), Q.InputTooShortError, 6),
    ("nan_stationary", lambda: Q.loudness(_with(OK, 100, np.nan)), Q.NonFiniteInputError, 5),
    ("inf_time", lambda: Q.loudness_time(_with(OK, -1, np.inf)), Q.NonFiniteInputError, 5),
    ("nan_after_short_check", lambda: Q.loudness(_with(OK[:100], 0, np.nan)),
     Q.NonFiniteInputError, 5),
    ("over_120dB_at_100Hz", lambda: Q.loudness(tone(100, 130, 0.1)), Q.InvalidArgumentError, 2),
    ("three_dimensional", lambda: Q.loudness(np.zeros((4800, 2, 2))), Q.InvalidArgumentError, 2),
    ("scalar", lambda: Q.loudness_time(1.0), Q.InvalidArgumentError, 2),
    ("roughness_ecma_too_short", lambda: Q.roughness_ecma(np.zeros(15359)), Q.InputTooShortError, 6),
    ("roughness_ecma_inf", lambda: Q.roughness_ecma(_with(np.zeros(15360), 15359, np.inf)),
     Q.NonFiniteInputError, 5),
    ("roughness_ecma_rate", lambda: Q.roughness_ecma(np.zeros(15360), 44100),
     Q.InvalidSampleRateError, 3),
    ("roughness_ecma_field", lambda: Q.roughness_ecma(np.zeros(15360), field="outdoors"),
     Q.InvalidSoundFieldError, 4),
    ("fluctuation_ecma_too_short", lambda: Q.fluctuation_ecma(np.zeros(65536)), Q.InputTooShortError, 6),
    ("fluctuation_ecma_field", lambda: Q.fluctuation_ecma(np.zeros(65537), field="outdoors"),
     Q.InvalidSoundFieldError, 4),
    ("roughness_too_short", lambda: Q.roughness_dw(np.zeros(9599)), Q.InputTooShortError, 6),
    ("roughness_nan", lambda: Q.roughness_dw(_with(np.zeros(9600), 9599, np.nan)),
     Q.NonFiniteInputError, 5),
    ("roughness_rate", lambda: Q.roughness_dw(np.zeros(9600), 44100), Q.InvalidSampleRateError, 3),
    ("tonality_too_short", lambda: Q.tonality_aures(np.zeros(11999)), Q.InputTooShortError, 6),
    ("tonality_nan", lambda: Q.tonality_aures(_with(np.zeros(12000), 11999, np.nan)),
     Q.NonFiniteInputError, 5),
    ("tonality_rate", lambda: Q.tonality_aures(np.zeros(12000), 44100), Q.InvalidSampleRateError, 3),
    ("tonality_field", lambda: Q.tonality_aures(np.zeros(12000), field="near"),
     Q.InvalidSoundFieldError, 4),
    # sample rates
    ("rate_44100", lambda: Q.loudness(OK, 44100), Q.InvalidSampleRateError, 3),
    ("rate_44100_time", lambda: Q.loudness_time(OK, fs=44100), Q.InvalidSampleRateError, 3),
    ("rate_fraction", lambda: Q.loudness(OK, 48000.5, resample=True), Q.InvalidSampleRateError, 3),
    ("rate_zero", lambda: Q.loudness(OK, 0, resample=True), Q.InvalidSampleRateError, 3),
    ("rate_negative", lambda: Q.loudness(OK, -48000, resample=True), Q.InvalidSampleRateError, 3),
    ("rate_nan", lambda: Q.loudness(OK, float("nan")), Q.InvalidSampleRateError, 3),
    ("rate_bool", lambda: Q.loudness(OK, True), Q.InvalidSampleRateError, 3),
    ("rate_text", lambda: Q.loudness(OK, "48000"), Q.InvalidSampleRateError, 3),
    # 48000 + 2**32 would wrap to 48000 in a 32-bit argument
    ("rate_wrapping_to_48k", lambda: Q.loudness(OK, RATE + 2**32), Q.InvalidSampleRateError, 3),
    # sound fields
    ("field_unknown", lambda: Q.loudness(OK, field="open"), Q.InvalidSoundFieldError, 4),
    ("field_number", lambda: Q.loudness_time(OK, field=1), Q.InvalidSoundFieldError, 4),
    ("field_levels", lambda: Q.loudness_from_levels(LEVELS, field="Free"),
     Q.InvalidSoundFieldError, 4),
    ("field_unhashable", lambda: Q.loudness(OK, field=["free"]), Q.InvalidSoundFieldError, 4),
    # band levels
    ("levels_27", lambda: Q.loudness_from_levels(LEVELS[:27]), Q.InvalidArgumentError, 2),
    ("levels_2d", lambda: Q.loudness_from_levels(LEVELS.reshape(4, 7)), Q.InvalidArgumentError, 2),
    ("levels_nan", lambda: Q.loudness_from_levels(_with(LEVELS, 20, np.nan)),
     Q.NonFiniteInputError, 5),
    ("levels_121dB_at_250Hz", lambda: Q.loudness_from_levels(_with(LEVELS, 10, 121.0)),
     Q.InvalidArgumentError, 2),
    # sharpness
    ("pattern_239", lambda: Q.sharpness(PATTERN[:239]), Q.InvalidArgumentError, 2),
    ("pattern_3d", lambda: Q.sharpness(np.zeros((2, 2, 240))), Q.InvalidArgumentError, 2),
    ("pattern_negative", lambda: Q.sharpness(_with(PATTERN, 5, -1e-9)), Q.InvalidArgumentError, 2),
    ("pattern_inf", lambda: Q.sharpness(_with(PATTERN, 239, np.inf)), Q.NonFiniteInputError, 5),
    ("patterns_one_bad_row",
     lambda: Q.sharpness(np.stack([PATTERN, _with(PATTERN, 0, np.nan)])), Q.NonFiniteInputError, 5),
]


@pytest.mark.parametrize("call, cls, status", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_failures_raise_their_exception(clib, call, cls, status):
    with pytest.raises(cls) as info:
        call()
    error = info.value
    assert type(error) is cls
    assert isinstance(error, Q.QuarneloError) and isinstance(error, ValueError)
    assert error.status == status
    assert error.message == clib.status_string(status)
    assert error.message in str(error) and f"status {status}" in str(error)


def test_a_very_loud_low_tone_has_no_tonality(clib):
    # The loudness model ends at 120 dB in the third-octave bands up to
    # 250 Hz, so a frame with a tonal component beyond that cannot be rated.
    with pytest.raises(Q.NumericalFailureError) as info:
        Q.tonality_aures(tone(100, 130, 0.25))
    assert info.value.status == 10 and info.value.message == clib.status_string(10)
    assert isinstance(info.value, ArithmeticError)
    assert "120 dB" in str(info.value)


def test_messages_say_what_was_wrong():
    with pytest.raises(Q.InvalidSampleRateError, match="44100 Hz.*resample=True"):
        Q.loudness(OK, 44100)
    with pytest.raises(Q.InputTooShortError, match=r"loudness: .*255 samples .*needs at least 256"):
        Q.loudness(OK[:255])
    with pytest.raises(Q.InputTooShortError, match=r"^roughness_dw: .*roughness-dw needs at least 9600 \(0.2 s\)"):
        Q.roughness_dw(np.zeros(1000))
    with pytest.raises(Q.InvalidArgumentError, match=r"shape \(4800, 2, 2\)"):
        Q.loudness(np.zeros((4800, 2, 2)))
    with pytest.raises(Q.NonFiniteInputError, match="pattern 1") as info:
        Q.sharpness(np.stack([PATTERN, _with(PATTERN, 0, np.nan)]))
    assert info.value.function == "sharpness"
    with pytest.raises(Q.InvalidSoundFieldError, match="'free' or 'diffuse'"):
        Q.loudness(OK, field="open")


@pytest.mark.parametrize("bad", [OK.astype(np.complex128), np.array(["1.0"] * 300),
                                 np.array([None] * 300), np.ones(300, dtype=bool)])
def test_non_real_signals_are_refused(bad):
    with pytest.raises(TypeError, match="real numbers"):
        Q.loudness(bad)


def test_every_status_has_its_class_and_message(clib):
    classes = {1: Q.QuarneloError, 2: Q.InvalidArgumentError, 3: Q.InvalidSampleRateError,
               4: Q.InvalidSoundFieldError, 5: Q.NonFiniteInputError, 6: Q.InputTooShortError,
               7: Q.QuarneloError, 8: Q.QuarneloError, 9: Q.AllocationError,
               10: Q.NumericalFailureError, 11: Q.InvalidOptionError, 12: Q.UnreadableFileError,
               13: Q.TruncatedFileError, 14: Q.UnsupportedAudioError, 15: Q.MemoryLimitError}
    for status in list(range(1, 16)) + [16, -1, 2**31 - 1]:
        error = _library.error(status, "qn_test")
        assert type(error) is classes.get(status, Q.QuarneloError), status
        assert error.status == status
        if status <= 10 or status >= 16 or status < 0:
            assert error.message == clib.status_string(status)
    assert clib.status_string(11) == "unknown status"
    assert issubclass(Q.AllocationError, MemoryError)
    assert issubclass(Q.NumericalFailureError, ArithmeticError)
    _library.check(0, "qn_test")  # success raises nothing


class _FakeFramed:
    """Stands in for a framed C metric, to hold the generic driver of
    one-value-per-frame metrics to the C contract."""

    def __init__(self, frames, written, status=0):
        self.frames, self.written, self.status = frames, written, status

    def count(self, sample_count, rate, frames):
        frames._obj.value = self.frames
        return 0

    def analyse(self, samples, sample_count, rate, out, capacity, frames):
        assert capacity == self.frames and rate == RATE and sample_count == 4800
        if self.status:
            return self.status
        for k in range(self.written):
            out[k] = samples[4800 * k // max(self.written, 1)] + k
        frames._obj.value = self.written
        return 0


@pytest.mark.parametrize("frames, written, status, error", [
    (3, 3, 0, None),
    (3, 2, 0, Q.NumericalFailureError),
    (3, 3, 6, Q.InputTooShortError),
])
def test_framed_series_driver(monkeypatch, frames, written, status, error):
    fake = _FakeFramed(frames, written, status)
    monkeypatch.setattr(_metrics, "lib", types.SimpleNamespace(
        qn_fake_frame_count=fake.count, qn_fake=fake.analyse))
    x = np.arange(4800, dtype=np.float64)
    if error is None:
        values = _metrics._framed_series("qn_fake_frame_count", "qn_fake", x, function="fake", metric="roughness-dw")
        assert values.tolist() == [0.0, 1601.0, 3202.0]
    else:
        with pytest.raises(error):
            _metrics._framed_series("qn_fake_frame_count", "qn_fake", x, function="fake", metric="roughness-dw")


# Hostile arguments to every public function: the package's own errors, or
# TypeError / ValueError naming the function, never an internal one.
_SIGNAL = np.sin(np.arange(20000) * 0.1) * 0.1
_HOSTILE = {"2-D": np.zeros((2, 2)), "0-D": np.array(1.0), "empty": np.array([]), "NaN": np.full(20000, np.nan),
            "strided": _SIGNAL[::2], "int16": (_SIGNAL * 1000).astype(np.int16), "text": "abc", "None": None,
            "object": object(), "complex": _SIGNAL.astype(complex), "3-D": np.zeros((2, 2, 2)), "dict": {}}
_PUBLIC = {
    "loudness": lambda x: Q.loudness(x), "loudness_time": lambda x: Q.loudness_time(x),
    "roughness_dw": lambda x: Q.roughness_dw(x), "tonality_aures": lambda x: Q.tonality_aures(x),
    "tonality_ecma": lambda x: Q.tonality_ecma(x), "roughness_ecma": lambda x: Q.roughness_ecma(x),
    "fluctuation_ecma": lambda x: Q.fluctuation_ecma(x),
    "loudness_from_levels": lambda x: Q.loudness_from_levels(x), "sharpness": lambda x: Q.sharpness(x),
    "exceeded": lambda x: Q.exceeded(x, 5), "tonality_ecma_summary": lambda x: Q.tonality_ecma_summary(x),
    "analyze_signal": lambda x: Q.analyze_signal(x, metrics="loudness"), "read": lambda x: Q.read(x),
    "analyze_file": lambda x: Q.analyze_file(x), "add": lambda x: Q.LoudnessMeter().add(x),
}


def _refused_properly(name, call):
    try:
        call()
    except Q.QuarneloError:
        return
    except (TypeError, ValueError) as exc:
        assert str(exc).startswith(f"{name}:") or f"{name}: " in str(exc), f"{name}: {exc!r}"


@pytest.mark.parametrize("name", sorted(_PUBLIC))
def test_hostile_arguments_get_the_packages_errors(name):
    for key, value in _HOSTILE.items():
        _refused_properly(name, lambda: _PUBLIC[name](value))


@pytest.mark.parametrize("name, call", [
    ("exceeded", lambda: Q.exceeded(_SIGNAL, "5")), ("exceeded", lambda: Q.exceeded(_SIGNAL, np.nan)),
    ("exceeded", lambda: Q.exceeded(_SIGNAL, [5, None])), ("loudness", lambda: Q.loudness(_SIGNAL, fs="48k")),
    ("loudness", lambda: Q.loudness(_SIGNAL, field=3)), ("analyze_file", lambda: Q.analyze_file("x.wav", metrics=5)),
    ("analyze_file", lambda: Q.analyze_file("x.wav", jobs=0)), ("read", lambda: Q.read("x.wav", channel="1")),
    ("analyze_file", lambda: Q.analyze_file("x.wav", calibration="loud")),
    ("batch.analyze", lambda: __import__("quarnelo.batch").batch.analyze(["x.wav"], metrics=["nope"], client="x")),
])
def test_hostile_keyword_values(name, call):
    with pytest.raises((Q.QuarneloError, TypeError, ValueError)) as caught:
        call()
    assert isinstance(caught.value, Q.QuarneloError) or str(caught.value).startswith(f"{name}:"), caught.value


def test_exceeded_takes_a_number_or_a_sequence_of_them():
    v = np.arange(1.0, 101.0)
    assert Q.exceeded(v, 5) == 95.0
    np.testing.assert_array_equal(Q.exceeded(v, [5, 10, 50]), [95.0, 90.0, 50.0])
    with pytest.raises(Q.InvalidArgumentError, match="exceeded: .*1-D"):
        Q.exceeded(np.zeros((2, 2)), 5)
