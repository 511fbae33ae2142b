"""Statistics over frames against the table of cases the command-line tool
is held to as well (tests/data/statistics_cases.json)."""

import json

import numpy as np
import pytest

import quarnelo
from quarnelo import _statistics
from conftest import PROJECT, RATE, tone

CASES = json.loads((PROJECT / "tests" / "data" / "statistics_cases.json").read_text())


def _loudness_time(loudness):
    n = np.asarray(loudness, dtype=np.float64)
    return quarnelo.LoudnessTime(n, np.zeros((n.size, 240)), np.arange(n.size) * 96 / RATE,
                                 quarnelo.bark_axis(), "free")


def test_silent_floor_is_the_tables_floor():
    assert quarnelo.SILENT_FLOOR_SONE == CASES["silent_floor_sone"]


@pytest.mark.parametrize("case", CASES["exceeded"], ids=lambda c: c["name"])
def test_exceeded_by_nearest_rank(case):
    for percent, expected in case["percent"].items():
        assert _statistics.exceeded(case["values"], float(percent)) == expected, percent


def test_exceeded_is_public_and_the_same():
    assert quarnelo.exceeded is _statistics.exceeded


@pytest.mark.parametrize("case", CASES["tonality_ecma"]["cases"], ids=lambda c: c["name"])
def test_ecma_tonality_single_values(case):
    value, maximum, frame = quarnelo.tonality_ecma_summary(case["tonality"], case["hop_seconds"])
    assert value == pytest.approx(case["value"], abs=1e-15)
    assert maximum == case["max"] and frame == case["frame"]


@pytest.mark.parametrize("case", CASES["roughness_ecma"]["cases"], ids=lambda c: c["name"])
def test_ecma_roughness_single_value(case):
    if case["value"] is None:
        with pytest.raises(quarnelo.InputTooShortError):
            _statistics.ecma_roughness_value(case["total"])
    else:
        assert _statistics.ecma_roughness_value(case["total"]) == pytest.approx(case["value"], rel=1e-12)


@pytest.mark.parametrize("case", CASES["frames"], ids=lambda c: c["name"])
def test_statistics_over_frames_with_silent_frames(case):
    expected = case["expected"]
    lt = _loudness_time(case["loudness"])
    assert lt.exceeded(5) == expected["n5"]
    assert lt.exceeded(10) == expected["n10"]
    mean, maximum, minimum, _ = _statistics.frame_statistics(lt.loudness, lt.loudness)
    assert (maximum, minimum) == (expected["max"], expected["min"])
    assert mean == pytest.approx(expected["mean"], rel=1e-12, abs=0)
    sharp = quarnelo.SharpnessTime(np.asarray(case["sharpness"]), lt.time, lt.loudness)
    assert sharp.mean() == pytest.approx(expected["sharpness_mean"], rel=1e-12, abs=0)
    assert (sharp.max(), sharp.min()) == (expected["sharpness_max"], expected["sharpness_min"])


def test_exceeded_refuses_percent_outside_0_to_100():
    lt = _loudness_time([1.0, 2.0])
    assert lt.exceeded(0) == 2.0 and lt.exceeded(100) == 1.0
    for bad in (-1, 101, float("nan")):
        with pytest.raises(ValueError):
            lt.exceeded(bad)


def test_sharpness_after_a_burst_counts_the_silence_as_silent():
    # 0.3 s of a 1 kHz tone at 70 dB, then 1.7 s of silence: the decay
    # leaves patterns of vanishing loudness whose shape still has a
    # sharpness; below the floor they count as 0.
    x = np.concatenate([tone(1000, 70, 0.3), np.zeros(int(1.7 * RATE))])
    lt = quarnelo.loudness_time(x)
    sharp = quarnelo.sharpness(lt)
    faint = (lt.loudness > 0) & (lt.loudness < quarnelo.SILENT_FLOOR_SONE)
    assert faint.sum() > lt.loudness.size // 4
    assert sharp.sharpness[faint].mean() > 0.1, "faint patterns do have a sharpness"
    audible = lt.loudness >= quarnelo.SILENT_FLOOR_SONE
    assert sharp.mean() == pytest.approx(sharp.sharpness[audible].sum() / lt.loudness.size, rel=1e-12)
    assert sharp.mean() < 0.9 * sharp.sharpness.mean()
    assert sharp.max() == sharp.sharpness[audible].max()
