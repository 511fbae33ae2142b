"""`pip install .`: the Python package with its two libraries inside it.

The libraries (libquarnelo and libquarnelo_files, the file layer) are built
from this checkout with CMake and put beside the package's modules, where
the package looks first, so that ``import quarnelo`` needs no environment
variable and no build tree. Offline with Debian's packages:

    pip install --no-build-isolation .

The package's metadata is in pyproject.toml; this file only adds the build
of the libraries.
"""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building a wheel needs python3-wheel; installing does not
    bdist_wheel = None

ROOT = pathlib.Path(__file__).resolve().parent
LIBRARIES = ("libquarnelo.so.1", "libquarnelo_files.so.1")


class build_with_libraries(build_py):
    """Builds the libraries with CMake, installs them into a scratch prefix
    (their RUNPATH is $ORIGIN there) and copies them into the package."""

    def run(self):
        super().run()
        tree = pathlib.Path(self.build_lib).resolve().parent / "cmake"
        stage = tree / "stage"
        configure = ["cmake", "-S", str(ROOT), "-B", str(tree), "-DCMAKE_BUILD_TYPE=Release",
                     "-DQUARNELO_BUILD_TESTS=OFF", "-DQUARNELO_BUILD_CLI=OFF", "-DQUARNELO_BUILD_PYTHON=OFF",
                     "-DQUARNELO_BUILD_EXAMPLES=OFF", "-DQUARNELO_BUILD_STATIC=OFF",
                     f"-DCMAKE_INSTALL_PREFIX={stage}", "-DCMAKE_INSTALL_LIBDIR=lib"]
        jobs = os.environ.get("QUARNELO_BUILD_JOBS", str(os.cpu_count() or 2))
        for command in (configure,
                        ["cmake", "--build", str(tree), "-j", jobs, "--target", "quarnelo", "quarnelo_files"],
                        ["cmake", "--install", str(tree)]):
            subprocess.run(command, check=True, stdout=sys.stderr)
        package = pathlib.Path(self.build_lib) / "quarnelo"
        for name in LIBRARIES:
            shutil.copy2(stage / "lib" / name, package / name, follow_symlinks=True)


class platform_distribution(Distribution):
    """The package holds shared libraries: its wheel is for this platform."""

    def has_ext_modules(self):
        return True


commands = {"build_py": build_with_libraries}
if bdist_wheel is not None:
    class platform_wheel(bdist_wheel):
        # ctypes, not Python's C API: any Python 3 on this platform.
        def get_tag(self):
            _, _, plat = super().get_tag()
            return "py3", "none", plat

    commands["bdist_wheel"] = platform_wheel

setup(cmdclass=commands, distclass=platform_distribution,
      options={"build": {"build_base": "build-python"}, "egg_info": {"egg_base": "build-python"}})
