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
