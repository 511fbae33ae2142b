"""`pip install .` as a user runs it, offline: a wheel built from the
checkout holds both libraries, installs into a fresh virtual environment
(with Debian's numpy through the system site packages) and analyses a file
from a directory outside the checkout, with no environment variable."""

import importlib.util
import os
import shutil
import subprocess
import sys
import venv

import pytest

from conftest import PROJECT


def _copy_of_checkout(target):
    # What a clean clone holds: the files git tracks, when it can say.
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=PROJECT, capture_output=True)
    if listed.returncode != 0:
        shutil.copytree(PROJECT, target, ignore=shutil.ignore_patterns("build*", ".git", "__pycache__"))
        return
    for name in listed.stdout.decode().split("\0"):
        if name and (PROJECT / name).is_file():
            (target / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(PROJECT / name, target / name)


def test_wheel_installs_into_a_fresh_environment(tmp_path):
    for module in ("pip", "setuptools", "wheel"):
        if importlib.util.find_spec(module) is None:
            pytest.skip(f"{module} is not installed (python3-{module})")
    source = tmp_path / "checkout"
    _copy_of_checkout(source)
    wheels = tmp_path / "wheels"
    env = {k: v for k, v in os.environ.items()
           if k not in ("QUARNELO_LIBRARY", "QUARNELO_FILES_LIBRARY", "PYTHONPATH", "LD_LIBRARY_PATH")}
    env["QUARNELO_BUILD_JOBS"] = "2"
    subprocess.run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "--no-index",
                    "--disable-pip-version-check", "--quiet", "-w", str(wheels), str(source)],
                   check=True, capture_output=True, env=env)
    (wheel,) = wheels.glob("quarnelo-*.whl")
    assert wheel.name.endswith("-py3-none-linux_x86_64.whl"), wheel.name

    environment = tmp_path / "venv"
    venv.create(environment, system_site_packages=True, with_pip=False)
    python = str(environment / "bin" / "python")
    # The environment sees Debian's pip through the system site packages.
    subprocess.run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--disable-pip-version-check",
                    "--quiet", str(wheel)], check=True, capture_output=True, env=env)
    outside = tmp_path / "elsewhere"
    outside.mkdir()
    script = """
import math, os, wave, struct, sys
import numpy as np
import quarnelo
here = os.path.dirname(quarnelo.__file__)
assert quarnelo.library_path.startswith(here) and quarnelo._files.path.startswith(here), quarnelo.library_path
with wave.open("tone.wav", "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
    t = np.arange(44100) / 44100
    w.writeframes((0.5 * 32767 * np.sin(2 * math.pi * 1000 * t)).astype("<i2").tobytes())
a = quarnelo.analyze_file("tone.wav", metrics="loudness", calibration={"full_scale_spl": 90})
x = quarnelo.read("tone.wav", calibration={"full_scale_spl": 90})
assert a.error is None and a.resampled, a
assert quarnelo.loudness(x).loudness == a[0]["loudness"].values["loudness"]
print(here)
"""
    done = subprocess.run([python, "-c", script], cwd=outside, env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip().startswith(str(environment))

