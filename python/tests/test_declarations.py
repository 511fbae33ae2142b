"""The package's declarations against the public header, and the numbers
both must agree on (version, statuses, fixed sizes)."""

import ctypes
import re
import tomllib

import pytest

import quarnelo
from quarnelo import _errors, _files, _library
from conftest import HEADER, PROJECT

FILES_HEADER = PROJECT / "include" / "quarnelo_files.h"

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
    "qn_ecma_metric": ctypes.c_int32,
    "qn_ecma_accumulator *": ctypes.c_void_p,
    "const qn_ecma_accumulator *": ctypes.c_void_p,
    "qn_ecma_accumulator **": ctypes.POINTER(ctypes.c_void_p),
    "qn_ecma_stream *": ctypes.c_void_p,
    "const qn_ecma_stream *": ctypes.c_void_p,
    "qn_ecma_stream **": ctypes.POINTER(ctypes.c_void_p),
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


def header_functions(header=HEADER, api="QN_API", prefix="qn_"):
    """name -> (result type, [argument types]) of every exported function."""
    text = re.sub(r"/\*.*?\*/", " ", header.read_text(), flags=re.S)
    found = {}
    for m in re.finditer(r"(?m)^" + api + r"\s+(?:QN_NODISCARD\s+)?([^;(]*?)\b(" + prefix + r"\w+)\s*\(([^)]*)\)\s*;",
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
FILES_FUNCTIONS = header_functions(FILES_HEADER, "QNF_API", "qnf_")
FILES_DECLARED = {name: (restype, argtypes) for name, restype, argtypes in _files.DECLARATIONS}

# The file layer's own types, as the package declares them.
FILES_TYPES = {
    "qnf_status": ctypes.c_int32,
    "const char *const *": ctypes.POINTER(ctypes.c_char_p),
    "char *": ctypes.c_char_p,
    "const char **": ctypes.POINTER(ctypes.c_char_p),
    "double": ctypes.c_double,
    "double *": ctypes.POINTER(ctypes.c_double),
    "const double **": ctypes.POINTER(ctypes.POINTER(ctypes.c_double)),
    "void *": ctypes.c_void_p,
    "qnf_event_fn": _files._event_fn,
    "qnf_metric_info *": ctypes.POINTER(_files.MetricInfo),
    "qnf_format *": ctypes.POINTER(_files.Format),
}


def _files_type(c_type):
    if c_type in FILES_TYPES:
        return FILES_TYPES[c_type]
    if re.fullmatch(r"(const )?qnf_\w+ \*", c_type) or c_type == "qnf_options *":
        return ctypes.c_void_p  # a handle or a node of the results
    if re.fullmatch(r"qnf_\w+ \*\*", c_type):
        return ctypes.POINTER(ctypes.c_void_p)
    return C_TO_CTYPES[c_type]


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


def test_file_layer_declarations_match_its_header():
    assert set(FILES_FUNCTIONS) == set(FILES_DECLARED), set(FILES_FUNCTIONS) ^ set(FILES_DECLARED)
    # In the header's order, as the table says.
    assert [name for name, _, _ in _files.DECLARATIONS] == list(FILES_FUNCTIONS)
    for name, (result, args) in FILES_FUNCTIONS.items():
        restype, argtypes = FILES_DECLARED[name]
        assert restype == _files_type(result), f"{name}: result {result}, declared {restype}"
        assert list(argtypes) == [_files_type(a) for a in args], f"{name}: header {args}, declared {argtypes}"


def _define(name):
    return re.search(rf"#define {name} (\S+)", HEADER.read_text()).group(1)


def test_versions_agree():
    project = tomllib.loads((PROJECT / "pyproject.toml").read_text())
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
