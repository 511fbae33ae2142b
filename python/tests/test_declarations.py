"""The package's declarations against the public header, and the numbers
both must agree on (version, statuses, fixed sizes)."""

import ctypes
import re
import tomllib

import pytest

import quarnelo
from quarnelo import _errors, _library
from conftest import HEADER, PROJECT

# C types of the header and the ctypes type each must be declared with.
C_TO_CTYPES = {
    "void": None,
    "int32_t": ctypes.c_int32,
    "qn_status": ctypes.c_int32,
    "qn_sound_field": ctypes.c_int32,
    "uint64_t": ctypes.c_uint64,
    "const char *": ctypes.c_char_p,
    "const double *": ctypes.POINTER(ctypes.c_double),
    "double *": ctypes.POINTER(ctypes.c_double),
    "uint64_t *": ctypes.POINTER(ctypes.c_uint64),
    "qn_loudness_meter *": ctypes.c_void_p,
    "const qn_loudness_meter *": ctypes.c_void_p,
    "qn_loudness_meter **": ctypes.POINTER(ctypes.c_void_p),
    "qn_band_level_meter *": ctypes.c_void_p,
    "const qn_band_level_meter *": ctypes.c_void_p,
    "qn_band_level_meter **": ctypes.POINTER(ctypes.c_void_p),
    "qn_sound_level_meter *": ctypes.c_void_p,
    "const qn_sound_level_meter *": ctypes.c_void_p,
    "qn_sound_level_meter **": ctypes.POINTER(ctypes.c_void_p),
    "qn_sharpness_weighting": ctypes.c_int32,
    "double": ctypes.c_double,
}


def _normal(c_type):
    # "double*", "double *" and "double * *" all become "double *", "double **".
    spaced = re.sub(r"\s*\*\s*", " *", " ".join(c_type.split())).strip()
    return spaced.replace("* *", "**")


def header_functions():
    """name -> (result type, [argument types]) of every QN_API function."""
    text = re.sub(r"/\*.*?\*/", " ", HEADER.read_text(), flags=re.S)
    found = {}
    for m in re.finditer(r"QN_API\s+(?:QN_NODISCARD\s+)?([^;(]*?)\b(qn_\w+)\s*\(([^)]*)\)\s*;",
                         text, flags=re.S):
        result, name, params = m.groups()
        args = []
        if params.strip() != "void":
            for param in params.split(","):
                typed = re.match(r"^(.*?)(\w+)$", " ".join(param.split()))
                args.append(_normal(typed.group(1)))
        found[name] = (_normal(result), args)
    return found


HEADER_FUNCTIONS = header_functions()
DECLARED = {name: (restype, argtypes) for name, restype, argtypes in _library.DECLARATIONS}


def test_header_parsed():
    # Guards the parser: the header has at least the functions of ABI 1.0.
    assert {"qn_abi_version", "qn_loudness_time", "qn_sharpness_din"} <= set(HEADER_FUNCTIONS)


def test_every_header_function_is_declared():
    missing = sorted(set(HEADER_FUNCTIONS) - set(DECLARED))
    assert not missing, f"quarnelo.h functions the package does not declare: {missing}"


def test_every_declaration_is_in_the_header():
    extra = sorted(set(DECLARED) - set(HEADER_FUNCTIONS))
    assert not extra, f"declared but not in quarnelo.h: {extra}"


@pytest.mark.parametrize("name", sorted(DECLARED))
def test_declaration_matches_header(name):
    result, args = HEADER_FUNCTIONS[name]
    restype, argtypes = DECLARED[name]
    assert restype == C_TO_CTYPES[result], f"{name}: result {result}, declared {restype}"
    expected = [C_TO_CTYPES[a] for a in args]
    assert list(argtypes) == expected, f"{name}: header {args}, declared {argtypes}"
    loaded = getattr(_library.lib, name)
    assert loaded.restype == restype and list(loaded.argtypes) == expected


def _define(name):
    return re.search(rf"#define {name} (\S+)", HEADER.read_text()).group(1)


def test_versions_agree():
    project = tomllib.loads((PROJECT / "python" / "pyproject.toml").read_text())
    header = _define("QN_VERSION_STRING").strip('"')
    assert project["project"]["version"] == header
    assert quarnelo.__version__ == header
    assert quarnelo.__libquarnelo_version__ == header
    assert _library.ABI_VERSION == int(_define("QN_ABI_VERSION"))


@pytest.mark.parametrize("python_name, c_name", [
    ("SAMPLE_RATE", "QN_SAMPLE_RATE"),
    ("BARK_POINTS", "QN_BARK_POINTS"),
    ("THIRD_OCTAVE_BANDS", "QN_THIRD_OCTAVE_BANDS"),
])
def test_sizes_agree(python_name, c_name):
    assert getattr(quarnelo, python_name) == int(_define(c_name))


def test_status_values_agree():
    text = HEADER.read_text()
    values = {m.group(1): int(m.group(2)) for m in re.finditer(r"QN_STATUS_(\w+) = (\d+)", text)}
    assert len(values) == 11
    for name, value in values.items():
        assert getattr(_errors, name) == value, name
