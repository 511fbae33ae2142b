"""The loudness meter against the one-shot analyses, bit for bit."""

import numpy as np
import pytest

import quarnelo


def _signal(n=20000):
    rng = np.random.default_rng(3)
    t = np.arange(n) / 48000
    x = 0.05 * (1 + np.sin(2 * np.pi * 70 * t)) * np.sin(2 * np.pi * 1000 * t)
    x += 0.01 * rng.standard_normal(n)
    x[n // 3: n // 2] = 0
    return x


@pytest.mark.parametrize("field", ["free", "diffuse"])
@pytest.mark.parametrize("sizes", [[1], [7], [95, 96, 97], [4096], [9973], [20000], [0, 13, 500]])
def test_frames_equal_loudness_time(field, sizes):
    x = _signal()
    whole = quarnelo.loudness_time(x, field=field)
    with quarnelo.LoudnessMeter(field=field) as meter:
        parts, at, k = [], 0, 0
        while at < x.size:
            n = min(sizes[k % len(sizes)], x.size - at)
            parts.append(meter.add(x[at:at + n]))
            at += n
            k += 1
        assert meter.samples == x.size
    loudness = np.concatenate([p.loudness for p in parts])
    specific = np.concatenate([p.specific for p in parts])
    time = np.concatenate([p.time for p in parts])
    assert np.array_equal(loudness, whole.loudness)
    assert np.array_equal(specific, whole.specific)
    assert np.array_equal(time, whole.time)


def test_stationary_and_blocks_without_patterns():
    x = _signal(10000)
    meter = quarnelo.LoudnessMeter(field="diffuse")
    with pytest.raises(quarnelo.InputTooShortError):
        meter.stationary()
    frames = meter.add(x[:3000].astype(np.float32).astype(np.float64), specific=False)
    assert frames.specific is None and frames.loudness.size == 32
    meter.add(x[3000:])
    both = np.concatenate([x[:3000].astype(np.float32).astype(np.float64), x[3000:]])
    expected = quarnelo.loudness(both, field="diffuse")
    got = meter.stationary()
    assert got.loudness == expected.loudness
    assert np.array_equal(got.specific, expected.specific)
    meter.close()
    with pytest.raises(ValueError):
        meter.add(x)


def test_refusals_leave_the_meter_usable():
    x = _signal(5000)
    with pytest.raises(quarnelo.InvalidSampleRateError):
        quarnelo.LoudnessMeter(fs=44100)
    with pytest.raises(quarnelo.InvalidSoundFieldError):
        quarnelo.LoudnessMeter(field="inside")
    meter = quarnelo.LoudnessMeter()
    first = meter.add(x[:1000])
    bad = x[1000:2000].copy()
    bad[500] = np.nan
    with pytest.raises(quarnelo.NonFiniteInputError):
        meter.add(bad)
    rest = meter.add(x[1000:])
    whole = quarnelo.loudness_time(x)
    assert np.array_equal(np.concatenate([first.loudness, rest.loudness]), whole.loudness)
