"""Finding and checking the library: the search order, the messages when
it fails, and the refusal of a library with another ABI."""

import os
import shutil
import subprocess
import sys

import pytest

import quarnelo
from quarnelo import _library
from conftest import PROJECT

LIB = os.path.realpath(quarnelo.library_path)


def test_search_order(tmp_path):
    pkg = tmp_path / "python" / "quarnelo"
    places = _library.candidates({"QUARNELO_LIBRARY": "/x/libquarnelo.so.1"}, pkg)
    assert [label for label, _ in places] == [
        "QUARNELO_LIBRARY", "beside the package", "the build tree", "the system's library path"]
    assert places[0][1] == "/x/libquarnelo.so.1"
    assert places[1][1] == str(pkg / "libquarnelo.so.1")
    assert places[2][1] == str(tmp_path / "build" / "src" / "libquarnelo.so.1")
    assert places[3][1] is None
    assert [label for label, _ in _library.candidates({}, tmp_path)][0] == "beside the package"


def test_beside_the_package_comes_before_the_build_tree(tmp_path):
    pkg = tmp_path / "site" / "quarnelo"
    build = tmp_path / "build" / "src"
    pkg.mkdir(parents=True)
    build.mkdir(parents=True)
    (build / "libquarnelo.so.1").symlink_to(LIB)
    _, path = _library.load({}, pkg, system=False)
    assert path == str(build / "libquarnelo.so.1")
    (pkg / "libquarnelo.so.1").symlink_to(LIB)
    _, path = _library.load({}, pkg, system=False)
    assert path == str(pkg / "libquarnelo.so.1")


def test_environment_comes_first(tmp_path):
    (tmp_path / "libquarnelo.so.1").symlink_to(LIB)
    other = tmp_path / "elsewhere.so"
    other.symlink_to(LIB)
    handle, path = _library.load({"QUARNELO_LIBRARY": str(other)}, tmp_path, system=False)
    assert path == str(other)
    assert _library.declare(handle, path).qn_abi_version() == 1


def test_unloadable_override_is_an_error_of_its_own(tmp_path):
    (tmp_path / "libquarnelo.so.1").symlink_to(LIB)  # would be found, but not used
    missing = tmp_path / "nowhere" / "libquarnelo.so.1"
    with pytest.raises(ImportError, match="QUARNELO_LIBRARY is .*nowhere"):
        _library.load({"QUARNELO_LIBRARY": str(missing)}, tmp_path, system=False)


def test_not_found_lists_every_place(tmp_path):
    pkg = tmp_path / "site" / "quarnelo"
    pkg.mkdir(parents=True)
    with pytest.raises(ImportError) as info:
        _library.load({}, pkg, system=False)
    text = str(info.value)
    assert "libquarnelo.so.1 not found" in text
    assert "QUARNELO_LIBRARY: not set" in text
    assert str(pkg / "libquarnelo.so.1") in text
    assert str(tmp_path / "build" / "src" / "libquarnelo.so.1") in text


def test_a_file_that_is_no_library_is_reported(tmp_path):
    (tmp_path / "libquarnelo.so.1").write_text("not a shared object")
    with pytest.raises(ImportError, match="beside the package: .*libquarnelo.so.1 \\("):
        _library.load({}, tmp_path, system=False)


def _stub(tmp_path, source):
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        pytest.skip("no C compiler to build a stub library")
    c = tmp_path / "stub.c"
    c.write_text(source)
    so = tmp_path / "libstub.so"
    subprocess.run([cc, "-shared", "-fPIC", "-o", str(so), str(c)], check=True)
    return so


def _import_with(library):
    env = dict(os.environ, QUARNELO_LIBRARY=str(library), PYTHONPATH=str(PROJECT / "python"))
    return subprocess.run([sys.executable, "-c", "import quarnelo"], env=env,
                          capture_output=True, text=True)


@pytest.mark.parametrize("source, message", [
    ("int qn_abi_version(void) { return 2; }", "has ABI version 2; this package needs 1"),
    ("int qn_abi_version(void) { return 1; }", "lacks qn_version_string"),
    ("int some_other_library(void) { return 1; }", "is not libquarnelo"),
])
def test_import_refuses_a_wrong_library(tmp_path, source, message):
    result = _import_with(_stub(tmp_path, source))
    assert result.returncode != 0
    assert "ImportError" in result.stderr and message in result.stderr, result.stderr
