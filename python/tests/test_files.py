"""The file layer from Python against the command-line tool, on a corpus of
containers, rates (8 ... 96 kHz), channel counts and damaged files:
``analyze_file`` is the tool's JSON, and ``read`` followed by the metric
functions gives the tool's values, to the bit; damaged files fail with the
same reasons."""

import json
import math
import subprocess

import numpy as np
import pytest

import quarnelo
from conftest import tool_path, write_corpus

soundfile = pytest.importorskip("soundfile", reason="the corpus is written with python3-soundfile")

CAL = {"full_scale_spl": 100}


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    folder = tmp_path_factory.mktemp("files")
    paths = write_corpus(folder)
    done = subprocess.run([tool_path(), "analyze", "--format", "json", "-j", "2", "--full-scale-spl", "100",
                           *paths], capture_output=True, check=False)
    assert done.returncode == 1, done.stderr.decode(errors="replace")  # the damaged files fail
    return paths, json.loads(done.stdout)["files"]


def test_analyze_file_is_the_tools_json(corpus):
    paths, tool = corpus
    for path, expected in zip(paths, tool):
        got = quarnelo.analyze_file(path, calibration=CAL).to_dict()
        assert got == expected, path


def _values(tool_file, channel):
    return {m: {q: v["value"] for q, v in quantities.items()}
            for m, quantities in tool_file["results"][channel - 1]["metrics"].items()}


def test_read_and_the_metric_functions_give_the_tools_values(corpus):
    paths, tool = corpus
    checked = binaural = 0
    for path, f in zip(paths, tool):
        if "error" in f:
            continue
        for channel in range(1, f["channels"] + 1):
            if f["results"][channel - 1]["errors"]:
                continue
            x = quarnelo.read(path, channel, CAL)
            want = _values(f, channel)
            assert quarnelo.loudness(x).loudness == want["loudness"]["loudness"], path
            n = quarnelo.loudness_time(x)
            assert n.exceeded(5) == want["loudness-time"]["n5"], path
            assert quarnelo.sharpness(n).mean() == want["sharpness"]["mean_per_frame"], path
            r = quarnelo.roughness_dw(x).roughness
            assert (r.max(), quarnelo.exceeded(r, 0)) == (want["roughness-dw"]["max"],) * 2, path
            assert quarnelo.tonality_aures(x).tonality.max() == want["tonality-aures"]["max"], path
            assert quarnelo.roughness_ecma(x).roughness == want["roughness-ecma"]["roughness"], path
            assert quarnelo.tonality_ecma(x).summary()[0] == want["tonality-ecma"]["tonality"], path
            assert quarnelo.loudness_ecma(x).value == want["loudness-ecma"]["loudness"], path
            checked += 1
        if f["channels"] == 2 and not f["binaural"]["errors"]:
            # The two ears: the metric functions of both columns give the
            # tool's binaural values.
            x = quarnelo.read(path, None, CAL)
            want = {m: {q: v["value"] for q, v in quantities.items()}
                    for m, quantities in f["binaural"]["metrics"].items()}
            assert quarnelo.loudness_ecma(x).binaural.value == want["loudness-ecma"]["loudness"], path
            assert quarnelo.roughness_ecma(x).binaural.roughness == want["roughness-ecma"]["roughness"], path
            binaural += 1
    assert checked >= 10 and binaural >= 1


def test_resampling_arrays_is_the_tools_resampling(tmp_path):
    t = np.arange(int(0.6 * 44100)) / 44100
    x = 0.3 * np.sin(2 * np.pi * 1000 * t) * (1 + np.sin(2 * np.pi * 70 * t))
    path = tmp_path / "cd.wav"
    soundfile.write(str(path), x, 44100, subtype="DOUBLE")
    tool = quarnelo.analyze_file(path, metrics="loudness,roughness-dw")
    assert tool.resampled
    assert quarnelo.loudness(x, fs=44100, resample=True).loudness == tool[0]["loudness"].values["loudness"]
    r = quarnelo.roughness_dw(x, fs=44100, resample=True).roughness
    assert r.max() == tool[0]["roughness-dw"].values["max"]


def test_damaged_files_fail_alike_in_read_and_analysis(corpus):
    paths, tool = corpus
    failed = [(p, f["error"]) for p, f in zip(paths, tool) if "error" in f]
    assert len(failed) >= 3
    for path, reason in failed:
        assert quarnelo.analyze_file(path).error == reason, path
        with pytest.raises(quarnelo.QuarneloError) as caught:
            quarnelo.read(path)
        assert caught.value.detail == reason and str(caught.value).startswith("read: "), path


def test_read_gives_channels_as_columns(corpus, tmp_path):
    stereo = np.column_stack([np.linspace(-0.5, 0.5, 1000), np.linspace(0.25, -0.25, 1000)])
    path = tmp_path / "two.wav"
    soundfile.write(str(path), stereo, 48000, subtype="DOUBLE")
    both = quarnelo.read(path, calibration=2.0)
    assert both.shape == (1000, 2)
    np.testing.assert_array_equal(both, 2.0 * stereo)
    np.testing.assert_array_equal(quarnelo.read(path, 2, 2.0), 2.0 * stereo[:, 1])
    with pytest.raises(quarnelo.UnsupportedAudioError, match="channel 3 asked for"):
        quarnelo.read(path, 3)
    with pytest.raises(quarnelo.InvalidOptionError, match="pa-per-unit"):
        quarnelo.read(path, calibration=0.0)
    with pytest.raises(quarnelo.UnsupportedAudioError, match="resampling is off"):
        quarnelo.read(_at_rate(tmp_path, 44100), resample=False)


def _at_rate(folder, rate):
    path = folder / f"at_{rate}.wav"
    soundfile.write(str(path), np.zeros(100), rate, subtype="PCM_16")
    return path


def test_results_have_short_reprs(corpus):
    paths, _ = corpus
    a = quarnelo.analyze_file(paths[0], series=True)
    for shown in (a, a[0], a[0]["loudness-time"], a[0]["loudness-time"].series["specific_loudness"]):
        assert len(repr(shown)) < 200, repr(shown)
    assert len(repr(quarnelo.loudness_time(np.zeros(48000)))) < 200
