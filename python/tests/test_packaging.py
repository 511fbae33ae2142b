"""The package as users read about it: the README's example run as it
stands, and every metric function described (the wheel and `pip install .`
are tested in test_wheel.py)."""

import re

import pytest

from conftest import PROJECT


def test_readme_example_runs(tmp_path, monkeypatch, capsys):
    pytest.importorskip("matplotlib")
    text = (PROJECT / "README.md").read_text()
    m = re.search(r"<!-- example:python -->\s*```python\n(.*?)\n```\s*<!-- /example:python -->",
                  text, flags=re.S)
    assert m, "README.md has no Python example between <!-- example:python --> markers"
    monkeypatch.chdir(tmp_path)
    exec(compile(m.group(1), "README.md example", "exec"), {"__name__": "readme"})
    out = capsys.readouterr().out
    assert "sone" in out and "acum" in out


# The method each metric function computes, as the package's description
# names it. A new metric function belongs here, in python/README.md and in
# the description of pyproject.toml.
METHODS = {
    "loudness_from_levels": "ISO 532-1",
    "loudness": "ISO 532-1",
    "loudness_time": "ISO 532-1",
    "sharpness": "DIN 45692",
    "roughness_dw": "Daniel & Weber",
    "tonality_aures": "Aures",
    "tonality_ecma": "ECMA-418-2",
    "roughness_ecma": "ECMA-418-2",
    "loudness_ecma": "ECMA-418-2",
    "sound_levels": "IEC 61672-1",
    "third_octave_levels": "third-octave",
    "loudness_level": "loudness level",
    "fluctuation_ecma": "ECMA-418-2",
}


def _metric_functions():
    import inspect

    import quarnelo

    helpers = {"bark_axis", "third_octave_centres_hz", "exceeded", "tonality_ecma_summary", "read",
               "analyze_file", "analyze_signal"}
    return sorted(name for name in quarnelo.__all__
                  if inspect.isfunction(getattr(quarnelo, name)) and name not in helpers)


def test_readme_and_pyproject_describe_every_metric():
    readme = (PROJECT / "python" / "README.md").read_text()
    pyproject = (PROJECT / "pyproject.toml").read_text()
    description = re.search(r'^description = "(.*)"$', pyproject, flags=re.M).group(1)
    for name in _metric_functions():
        assert name in METHODS, f"{name}: add its method to METHODS in this test"
        assert f"`{name}(" in readme, f"python/README.md does not list {name}"
        assert METHODS[name] in description, f"pyproject.toml's description does not name {METHODS[name]}"
