"""Results users keep: series files read back with xarray against
``to_xarray`` and the library called directly, a stretch of a file, the
statistics over frames, and the batch's series files and CSV against the
command-line tool's."""

import math
import subprocess

import numpy as np
import pytest

import quarnelo
from conftest import RATE, am_tone, tool_path, write_corpus

xr = pytest.importorskip("xarray", reason="series files are read with python3-xarray")
soundfile = pytest.importorskip("soundfile", reason="the files are written with python3-soundfile")
pytest.importorskip("netCDF4", reason="xarray reads NetCDF-4 with python3-netcdf4")

# Debian's distributed starts its event loops the way tornado 6.2 deprecates.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")

# The rounding of a series file: 16 significant bits.
ROUNDING = 2.0 ** -16


@pytest.fixture(scope="module")
def stereo(tmp_path_factory):
    """Two seconds of two channels at 48 kHz, and its samples."""
    folder = tmp_path_factory.mktemp("series")
    t = np.arange(2 * RATE) / RATE
    x = np.column_stack([am_tone(2.0) * 5, 0.05 * np.sin(2 * np.pi * 2500 * t) + 0.02 * np.sin(2 * np.pi * 300 * t)])
    path = folder / "take.wav"
    soundfile.write(str(path), x, RATE, subtype="DOUBLE")
    return str(path), x, folder


def test_series_file_is_to_xarray_and_the_librarys_own_values(stereo, clib, tmp_path):
    path, x, _ = stereo
    a = quarnelo.analyze_file(path, calibration=2.0, field="diffuse", series=True, series_dir=tmp_path)
    assert a.series_file == str(tmp_path / "take.nc") and a.series_error is None
    memory = a.to_xarray()
    with xr.open_dataset(a.series_file) as kept:
        assert set(kept.variables) == set(memory.variables)
        assert dict(kept.sizes) == dict(memory.sizes)
        assert kept.attrs == memory.attrs
        assert kept.attrs["calibration"] == "pa-per-unit 2" and kept.attrs["field"] == "diffuse"
        for name, v in memory.variables.items():
            k = kept.variables[name]
            assert k.dims == v.dims, name
            assert k.attrs.get("units") == v.attrs.get("units"), name
            if name in memory.coords:
                assert np.array_equal(k.values, v.values), name  # coordinates in doubles
            else:
                assert k.dtype == np.float32
                assert np.all(np.abs(k.values - v.values) <= ROUNDING * np.abs(v.values) + 1e-37), name
        assert kept["band_frequency"].dims == ("band",) and "band_frequency" in kept.coords
    # The values in memory are the library's own, to the bit.
    ch2 = 2.0 * x[:, 1]
    total, specific = clib.loudness_time(ch2, 1)
    np.testing.assert_array_equal(memory["loudness-time.specific_loudness"].sel(channel=2).values, specific)
    np.testing.assert_array_equal(memory["loudness-time.loudness"].sel(channel=2).values, total)
    np.testing.assert_array_equal(memory["roughness-ecma.specific_roughness"].sel(channel=2).values,
                                  clib.roughness_ecma(ch2, 1))
    np.testing.assert_array_equal(memory["tonality-ecma.specific_tonality"].sel(channel=2).values,
                                  clib.ecma_tonal(ch2, 1)[3])
    np.testing.assert_array_equal(memory["roughness-dw.time"].values, 0.1 + 0.1 * np.arange(19))


def test_a_stretch_is_the_file_cut_to_it(stereo, tmp_path):
    path, x, _ = stereo
    cut = tmp_path / "cut.wav"
    soundfile.write(str(cut), x[int(0.5 * RATE):int(1.75 * RATE)], RATE, subtype="DOUBLE")
    np.testing.assert_array_equal(quarnelo.read(path, start=0.5, end=1.75), quarnelo.read(str(cut)))
    metrics = "loudness-time,sharpness,roughness-dw,tonality-aures"
    part = quarnelo.analyze_file(path, metrics, start=0.5, end=1.75, series=True)
    whole = quarnelo.analyze_file(str(cut), metrics, series=True)
    assert (part.start_s, part.duration_s) == (0.5, 1.25)
    for p, w in zip(part.results, whole.results):
        for name in p.metrics:
            assert p[name].values == w[name].values, name
            for s in p[name].series:
                np.testing.assert_array_equal(p[name].series[s].values, w[name].series[s].values)
                np.testing.assert_allclose(p[name].series[s].axes[0][2], w[name].series[s].axes[0][2] + 0.5,
                                           rtol=0, atol=1e-12)


def test_statistics_of_every_metric_with_percentiles_and_a_settling_time(stereo):
    path, _, _ = stereo
    a = quarnelo.analyze_file(path, "loudness-time,roughness-dw", channel=1, percentiles=[50, 90], skip=0.25,
                              series=True)
    for metric, symbol in (("loudness-time", "n"), ("roughness-dw", "r")):
        m = a[0][metric]
        s = next(iter(m.series.values()))
        counted = s.values[s.axes[0][2] - a.start_s >= 0.25]
        loudness = counted if metric == "loudness-time" else None
        mean, maximum, minimum, (p50, p90) = quarnelo._statistics.frame_statistics(counted, loudness, [50, 90])
        assert (m.values["mean"], m.values["max"], m.values["min"]) == (mean, maximum, minimum), metric
        assert (m.values[f"{symbol}50"], m.values[f"{symbol}90"]) == (p50, p90), metric
    assert quarnelo.exceeded([3.0, 1.0, 2.0], [0, 50, 100]).tolist() == [3.0, 2.0, 1.0]
    from quarnelo import batch

    assert batch.columns(["roughness-dw"], [5]) == ["roughness-dw.mean", "roughness-dw.max",
                                                            "roughness-dw.min", "roughness-dw.r5"]


def test_batch_writes_the_tools_series_files_and_csv(tmp_path):
    pd = pytest.importorskip("pandas")
    distributed = pytest.importorskip("distributed")
    from quarnelo import batch

    folder = tmp_path / "corpus"
    folder.mkdir()
    paths = [p for p in write_corpus(folder) if p.endswith(("tone_mono_16.wav", "am_stereo_24.wav",
                                                             "short_0.1s.wav", "garbage.wav"))]
    (folder / "again").mkdir()
    again = folder / "again" / "tone_mono_16.wav"
    again.write_bytes((folder / "tone_mono_16.wav").read_bytes())
    paths.append(str(again))
    options = ["--metrics", "loudness-time,roughness-dw", "--percentiles", "50", "--full-scale-spl", "100"]
    by_tool, by_batch = tmp_path / "tool", tmp_path / "batch"
    by_tool.mkdir()
    by_batch.mkdir()
    done = subprocess.run([tool_path(), "analyze", "--format", "csv", "--output", str(tmp_path / "tool.csv"),
                           "--series-dir", str(by_tool), *options, *paths], capture_output=True, check=False)
    assert done.returncode == 1, done.stderr  # the damaged and the short file
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        frame = batch.analyze(paths, "loudness-time,roughness-dw", {"full_scale_spl": 100}, client=client,
                              percentiles=[50], series_dir=by_batch)
    names = sorted(p.name for p in by_tool.iterdir())
    assert names == ["am_stereo_24.nc", "short_0.1s.nc", "tone_mono_16.nc", "tone_mono_16_2.nc"]
    assert sorted(p.name for p in by_batch.iterdir()) == names
    for name in names:
        with xr.open_dataset(by_tool / name) as t, xr.open_dataset(by_batch / name) as b:
            assert t.identical(b), name

    with open(tmp_path / "batch.csv", "w", newline="") as stream:
        batch.write_results(frame, stream, "csv")
    tool_csv, batch_csv = (pd.read_csv(tmp_path / f"{n}.csv", float_precision="round_trip", dtype={"error": object})
                           for n in ("tool", "batch"))
    assert list(tool_csv.columns) == list(batch_csv.columns)
    assert list(tool_csv.columns[5:-1]) == batch.columns(["loudness-time", "roughness-dw"], [50])
    for column in tool_csv.columns:
        for t, b in zip(tool_csv[column], batch_csv[column]):
            assert t == b or (isinstance(t, float) and math.isnan(t) and math.isnan(b)), column
    assert tool_csv["error"].iloc[3].startswith("roughness-dw: too short")
    assert tool_csv["error"].iloc[4].startswith("cannot read audio")
