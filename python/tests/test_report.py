"""Plots, the report figure and summary, the calibration and the report
command, under the non-interactive Agg backend."""

import math
import os
import subprocess
import sys

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
soundfile = pytest.importorskip("soundfile")  # writes the test files

import quarnelo  # noqa: E402
import quarnelo.plot  # noqa: E402
from quarnelo import report  # noqa: E402
from quarnelo.__main__ import main  # noqa: E402
from conftest import PROJECT, RATE, am_tone, noise, tone  # noqa: E402

P0 = 20e-6


@pytest.fixture(autouse=True)
def _close_figures():
    yield
    import matplotlib.pyplot as plt

    plt.close("all")


@pytest.fixture(scope="module")
def analysed():
    x = am_tone(0.5) + noise(0.5, 45, 1)
    lt = quarnelo.loudness_time(x)
    return quarnelo.loudness(x), lt, quarnelo.sharpness(lt)


def test_plot_functions_draw_their_data(analysed):
    stationary, varying, sharp = analysed
    ax = quarnelo.plot.specific_loudness(stationary)
    np.testing.assert_array_equal(ax.lines[0].get_ydata(), stationary.specific)
    np.testing.assert_array_equal(ax.lines[0].get_xdata(), stationary.bark)
    ax = quarnelo.plot.loudness_time(varying)
    np.testing.assert_array_equal(ax.lines[0].get_ydata(), varying.loudness)
    np.testing.assert_array_equal(ax.lines[0].get_xdata(), varying.time)
    ax = quarnelo.plot.sharpness_time(sharp, color="r")
    np.testing.assert_array_equal(ax.lines[0].get_ydata(), sharp.sharpness)
    ax = quarnelo.plot.specific_loudness_time(varying)
    assert ax.collections[0].get_array().size == varying.specific.size
    assert ax.get_ylabel().startswith("Critical-band rate")
    rough = quarnelo.roughness_ecma(am_tone(0.5))
    ax = quarnelo.plot.specific_roughness_time(rough)
    np.testing.assert_array_equal(np.ravel(ax.collections[0].get_array()), rough.specific.T.ravel())
    assert f"R = {rough.roughness:.3g} asper" in ax.get_title()


def test_tonality_plot_draws_its_series():
    t = quarnelo.tonality_aures(tone(1000, 60, 0.5), field="diffuse")
    ax = quarnelo.plot.tonality(t, color="g")
    np.testing.assert_array_equal(ax.lines[0].get_ydata(), t.tonality)
    np.testing.assert_array_equal(ax.lines[0].get_xdata(), t.time)
    assert ax.get_title() == "Tonality (Aures, diffuse field)"


def test_tonality_plots_draw_their_data():
    r = quarnelo.tonality_ecma(tone(1000, 50, 0.5) + noise(0.5, 40, 5))
    ax = quarnelo.plot.specific_tonality(r)
    assert ax.collections[0].get_array().size == r.specific_tonality.size
    assert ax.get_title().startswith("Specific tonality (ECMA-418-2), T = ")
    ax = quarnelo.plot.tonality_ecma(r)
    np.testing.assert_array_equal(ax.lines[0].get_ydata(), r.tonality)
    np.testing.assert_array_equal(ax.lines[0].get_xdata(), r.time)


def test_fluctuation_plots_draw_their_data():
    f = quarnelo.fluctuation_ecma(np.tile(am_tone(0.5), 3), field="diffuse")
    ax = quarnelo.plot.specific_fluctuation_time(f)
    np.testing.assert_array_equal(np.ravel(ax.collections[0].get_array()), f.specific.T.ravel())
    assert f"F = {f.value:.3g} vacil_HMS" in ax.get_title()
    ax = quarnelo.plot.fluctuation_ecma(f)
    np.testing.assert_array_equal(ax.lines[0].get_ydata(), f.total)
    np.testing.assert_array_equal(ax.lines[0].get_xdata(), f.time)
    assert "diffuse field" in ax.get_title()


def test_plot_into_given_axes(analysed):
    from matplotlib.figure import Figure

    fig = Figure()
    ax = fig.subplots()
    assert quarnelo.plot.loudness_time(analysed[1], ax=ax) is ax


def test_analyse_summary_and_figure(tmp_path):
    x = tone(1000, 60, 0.6)
    a = report.analyse(x)
    assert a.loudness.loudness == quarnelo.loudness(x).loudness
    assert a.sharpness == quarnelo.sharpness(quarnelo.loudness(x))
    np.testing.assert_array_equal(a.sharpness_time.sharpness,
                                  quarnelo.sharpness(quarnelo.loudness_time(x)).sharpness)
    assert a.level == pytest.approx(60.0, abs=0.01) and a.duration == 0.6
    assert list(a.missing) == ["fluctuation_ecma"]  # it needs 1.37 s
    text = report.summary(a)
    np.testing.assert_array_equal(a.tonality_ecma.specific_tonality,
                                  quarnelo.tonality_ecma(x).specific_tonality)
    for label in ("level", "loudness", "loudness(t)", "sharpness", "sharpness(t)", "tonality"):
        assert any(line.split("  ")[0].strip() == label for line in text.splitlines()), label
    np.testing.assert_array_equal(a.tonality.tonality, quarnelo.tonality_aures(x).tonality)
    assert f"mean {a.tonality.tonality.mean():.3f} t.u." in text
    assert f"N = {a.loudness.loudness:.3f} sone" in text
    fig = report.figure(a, title="tone")
    fig.savefig(tmp_path / "r.png")
    assert (tmp_path / "r.png").stat().st_size > 10000
    titles = {ax.get_title() for ax in fig.axes if ax.get_visible()}
    assert {"Specific loudness (ISO 532-1, free field)", "Loudness over time (ISO 532-1, free field)",
            "Specific loudness over time", "Sharpness over time (DIN 45692)"} <= titles
    assert "Tonality (Aures, free field)" in titles
    assert any(t.startswith("Specific roughness (ECMA-418-2)") for t in titles)
    assert "R = " in text and "90th percentile from 0.32 s" in text
    assert any(t.startswith("Specific tonality (ECMA-418-2)") for t in titles)
    assert "T = " in text and "tu_HMS" in text


def test_a_short_signal_leaves_out_what_it_cannot_have():
    a = report.analyse(tone(1000, 60, 0.004))  # 192 samples
    assert a.loudness is None and a.sharpness is None
    assert a.loudness_time is not None and a.sharpness_time is not None
    assert "at least 256 samples" in a.missing["loudness"]
    assert "at least 9600 samples" in a.missing["roughness"]
    assert "at least 12000 samples" in a.missing["tonality"]
    assert "at least 15360 samples" in a.missing["roughness_ecma"]
    assert "at least 14592 samples" in a.missing["tonality_ecma"]
    assert a.missing["sharpness"] == a.missing["loudness"]
    assert "n/a (signal too short" in report.summary(a)
    report.figure(a)


def test_other_failures_are_not_hidden():
    with pytest.raises(quarnelo.NonFiniteInputError):
        report.analyse(np.full(1000, np.nan))


def _wav(path, samples, rate=RATE, subtype="PCM_24"):
    soundfile.write(str(path), samples, rate, subtype=subtype)
    return str(path)


def test_report_command(tmp_path, capsys):
    fs_spl = 100.0
    unit = math.sqrt(2) * P0 * 10 ** (fs_spl / 20)
    wav = _wav(tmp_path / "demo.wav", (am_tone(0.5) + noise(0.5, 45, 2)) / unit)
    out = tmp_path / "report.png"
    assert main(["report", wav, "--full-scale-spl", "100", "-o", str(out)]) == 0
    text = capsys.readouterr().out
    assert out.stat().st_size > 10000
    assert "full-scale-spl 100 dB" in text and "Leq = " in text and str(out) in text
    # the file as the tool reads it gives the same loudness
    stationary = quarnelo.loudness(quarnelo.read(wav, calibration={"full_scale_spl": 100}))
    assert f"N = {stationary.loudness:.3f} sone" in text


def test_report_with_calibrator_and_channel(tmp_path, capsys):
    stereo = np.stack([np.zeros(24000), tone(1000, 94, 0.5) / 4], axis=1)
    wav = _wav(tmp_path / "two.wav", stereo, subtype="FLOAT")
    cal = _wav(tmp_path / "cal.wav", tone(1000, 94, 1.0) / 4, subtype="FLOAT")
    out = tmp_path / "r.png"
    assert main(["report", wav, "--channel", "2", "--cal-file", cal, "--cal-spl", "94",
                 "-o", str(out)]) == 0
    text = capsys.readouterr().out
    assert "channel 2 of 2" in text and "Leq = 94.0 dB SPL" in text


def test_report_resamples_other_rates(tmp_path, capsys):
    t = np.arange(22050) / 44100
    wav = _wav(tmp_path / "cd.wav", 0.1 * np.sin(2 * np.pi * 1000 * t), rate=44100)
    assert main(["report", wav, "-o", str(tmp_path / "r.png")]) == 0
    text = capsys.readouterr().out
    assert "file at 44100 Hz, resampled to 48000 Hz" in text and "pa-per-unit 1" in text


def test_report_default_output_name(tmp_path, monkeypatch, capsys):
    wav = _wav(tmp_path / "take 3.wav", tone(1000, 60, 0.3), subtype="FLOAT")
    monkeypatch.chdir(tmp_path)
    assert main(["report", wav]) == 0
    assert (tmp_path / "take 3-report.png").exists()


@pytest.mark.parametrize("args, status, message", [
    (["--pa-per-unit", "1", "--full-scale-spl", "94"], 2, "one calibration"),
    (["--cal-file", "x.wav"], 2, "go together"),
    (["--cal-spl", "94"], 2, "go together"),
    (["--pa-per-unit", "-2"], 1, "--pa-per-unit must lie between"),
    (["--channel", "3"], 1, "has 1 channel(s), channel 3 asked for"),
    (["--field", "open"], 2, "invalid choice"),
])
def test_report_usage_and_failures(tmp_path, capsys, args, status, message):
    wav = _wav(tmp_path / "a.wav", tone(1000, 60, 0.1), subtype="FLOAT")
    try:
        code = main(["report", wav, "-o", str(tmp_path / "r.png")] + args)
    except SystemExit as exc:  # argparse's own usage errors
        code = exc.code
    assert code == status
    err = capsys.readouterr().err
    assert message in err
    if status == 1:
        assert err.startswith(f"quarnelo report: {wav}: ")


def test_report_of_a_missing_file_names_it(tmp_path, capsys):
    missing = str(tmp_path / "missing.wav")
    assert main(["report", missing, "-o", str(tmp_path / "r.png")]) == 1
    assert capsys.readouterr().err.startswith(f"quarnelo report: {missing}: ")


def test_report_of_a_non_finite_file_fails(tmp_path, capsys):
    x = tone(1000, 60, 0.1)
    x[10] = np.nan
    wav = _wav(tmp_path / "nan.wav", x, subtype="FLOAT")
    assert main(["report", wav, "-o", str(tmp_path / "r.png")]) == 1
    assert "sample 10 is NaN or infinite" in capsys.readouterr().err
    assert not (tmp_path / "r.png").exists()


def test_module_entry_point():
    env = dict(os.environ, PYTHONPATH=str(PROJECT / "python"))
    result = subprocess.run([sys.executable, "-m", "quarnelo", "report", "--help"], env=env,
                            capture_output=True, text=True)
    assert result.returncode == 0
    assert "--full-scale-spl" in result.stdout and "--cal-file" in result.stdout
    result = subprocess.run([sys.executable, "-m", "quarnelo"], env=env,
                            capture_output=True, text=True)
    assert result.returncode == 2 and "COMMAND" in result.stderr
