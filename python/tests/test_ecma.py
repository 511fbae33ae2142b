"""ECMA-418-2 loudness against the standard's reference values, and the
metrics over the channels of a 2-D array with the binaural value of two
ears against the library's combination and reduction."""

import numpy as np
import pytest

import quarnelo
from conftest import am_tone, noise, tone


def _am_60db(seconds):
    x = am_tone(seconds)
    return x * 2e-5 * 10 ** (60 / 20) / np.sqrt(np.mean(x * x))


# (signal, single value, its tolerance, averaged specific loudness at
# 9 Bark (band 17) or None, its tolerance).
REFERENCES = {
    "1 kHz, 40 dB": (lambda: tone(1000, 40, 5.0), 1.000, 1e-4, 0.3477, 5e-5),
    "1 kHz AM 70 Hz, 60 dB overall": (lambda: _am_60db(5.0), 2.387, 5e-3, None, 0),
}


@pytest.mark.parametrize("case", sorted(REFERENCES))
def test_loudness_ecma_reference_values(case):
    make, value, tolerance, at_9_bark, tolerance_9 = REFERENCES[case]
    r = quarnelo.loudness_ecma(make())
    assert abs(r.value - value) <= tolerance, r.value
    if at_9_bark is not None:
        assert abs(r.averaged[17] - at_9_bark) <= tolerance_9, r.averaged[17]
    assert r.specific.shape == (r.time.size, 53) and r.loudness.shape == r.time.shape
    assert r.time[1] == 256 / 48000 and r.bark[17] == 9.0


def test_loudness_ecma_is_the_total_specific_loudness_of_the_tonal_analysis():
    x = noise(1.0)
    r, t = quarnelo.loudness_ecma(x), quarnelo.tonality_ecma(x)
    assert r.specific.tobytes() == t.total_loudness.tobytes()
    assert np.all(r.loudness <= r.max) and r.max == r.loudness.max()


def test_every_metric_takes_channels_and_two_ears_combine():
    left, right = am_tone(1.0), noise(1.0)
    both = np.stack([left, right], axis=1)
    for function, binaural in [(quarnelo.loudness_ecma, True), (quarnelo.roughness_ecma, True),
                               (quarnelo.tonality_ecma, False), (quarnelo.loudness, False),
                               (quarnelo.loudness_time, False), (quarnelo.roughness_dw, False),
                               (quarnelo.tonality_aures, False)]:
        result = function(both)
        assert len(result) == 2, function.__name__
        one = function(right)
        assert type(result[1]) is type(one)
        first = next(v for v in vars(one).values() if isinstance(v, np.ndarray))
        assert next(v for v in vars(result[1]).values() if isinstance(v, np.ndarray)).tobytes() == first.tobytes()
        assert (result.binaural is not None) == binaural, function.__name__
        assert function(both[:, :1]).binaural is None, "one channel has no binaural value"


@pytest.mark.parametrize("function", [quarnelo.loudness_ecma, quarnelo.roughness_ecma])
def test_binaural_of_identical_ears_is_the_one_ear_result(function):
    x = am_tone(1.0)
    result = function(np.stack([x, x], axis=1))
    for name, value in vars(result[0]).items():
        got = getattr(result.binaural, name)
        assert (got.tobytes() == value.tobytes()) if isinstance(value, np.ndarray) else got == value, name


def test_binaural_combines_the_band_values_not_the_totals():
    left, right = tone(1000, 60, 1.0), noise(1.0, 65)
    result = quarnelo.loudness_ecma(np.stack([left, right], axis=1))
    combined = np.sqrt((result[0].specific ** 2 + result[1].specific ** 2) / 2)
    assert np.allclose(result.binaural.specific, combined, rtol=1e-14, atol=0)
    # Combining the ears' totals instead would give another value.
    assert result.binaural.value != np.sqrt((result[0].value ** 2 + result[1].value ** 2) / 2)
