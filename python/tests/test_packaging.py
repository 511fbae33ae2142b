"""The package as users get it: `pip install` offline from the source tree,
and the README's example run as it stands."""

import importlib.util
import os
import re
import shutil
import subprocess
import sys

import pytest

from conftest import PROJECT


def test_pip_install_offline(tmp_path):
    for module in ("pip", "setuptools", "wheel"):
        if importlib.util.find_spec(module) is None:
            pytest.skip(f"{module} is not installed (python3-{module})")
    # Build from a copy: an in-tree build leaves build/ and egg-info behind.
    source = tmp_path / "source"
    shutil.copytree(PROJECT / "python", source,
                    ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
    target = tmp_path / "site"
    subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps",
                    "--no-index", "--disable-pip-version-check", "--quiet", "--target",
                    str(target), str(source)], check=True, capture_output=True)
    installed = sorted(p.name for p in (target / "quarnelo").glob("*.py"))
    # Every module of the package is installed.
    assert installed == sorted(p.name for p in (PROJECT / "python" / "quarnelo").glob("*.py"))
    env = dict(os.environ, PYTHONPATH=str(target))
    result = subprocess.run(
        [sys.executable, "-c",
         "import quarnelo, numpy; print(quarnelo.__file__);"
         "print(quarnelo.loudness_from_levels(numpy.full(28, 60.0)).loudness)"],
        env=env, capture_output=True, text=True, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    where, value = result.stdout.split()
    assert where.startswith(str(target)) and float(value) > 0


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
# the description of python/pyproject.toml.
METHODS = {
    "loudness_from_levels": "ISO 532-1",
    "loudness": "ISO 532-1",
    "loudness_time": "ISO 532-1",
    "sharpness": "DIN 45692",
    "roughness_dw": "Daniel & Weber",
    "tonality_aures": "Aures",
    "tonality_ecma": "ECMA-418-2",
    "roughness_ecma": "ECMA-418-2",
}


def _metric_functions():
    import inspect

    import quarnelo

    helpers = {"bark_axis", "third_octave_centres_hz", "exceeded", "tonality_ecma_summary"}
    return sorted(name for name in quarnelo.__all__
                  if inspect.isfunction(getattr(quarnelo, name)) and name not in helpers)


def test_readme_and_pyproject_describe_every_metric():
    readme = (PROJECT / "python" / "README.md").read_text()
    pyproject = (PROJECT / "python" / "pyproject.toml").read_text()
    description = re.search(r'^description = "(.*)"$', pyproject, flags=re.M).group(1)
    for name in _metric_functions():
        assert name in METHODS, f"{name}: add its method to METHODS in this test"
        assert f"`{name}(" in readme, f"python/README.md does not list {name}"
        assert METHODS[name] in description, f"pyproject.toml's description does not name {METHODS[name]}"
