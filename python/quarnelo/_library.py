"""Finding, loading and declaring libquarnelo.

The library is a plain C shared object reached through ctypes, so this one
package serves every Python 3 and every build of the library with ABI 1.
ctypes releases the GIL for the duration of each foreign call, so analyses
running in several threads run in parallel.
"""

import ctypes
import ctypes.util
import os
import pathlib

from . import _errors

ABI_VERSION = 1
SONAME = "libquarnelo.so.1"

# Argument and result types, named after the C types of quarnelo.h.
_status = ctypes.c_int32          # qn_status
_field = ctypes.c_int32           # qn_sound_field
_int32 = ctypes.c_int32
_uint64 = ctypes.c_uint64
_doubles = ctypes.POINTER(ctypes.c_double)   # double * and const double *
_uint64_out = ctypes.POINTER(ctypes.c_uint64)
_text = ctypes.c_char_p           # const char *
_meter = ctypes.c_void_p          # qn_loudness_meter * and const qn_loudness_meter *
_meter_out = ctypes.POINTER(ctypes.c_void_p)  # qn_loudness_meter **
_metric = ctypes.c_int32          # qn_ecma_metric
_accumulator = ctypes.c_void_p    # qn_ecma_accumulator * and const qn_ecma_accumulator *
_accumulator_out = ctypes.POINTER(ctypes.c_void_p)  # qn_ecma_accumulator **
_stream = ctypes.c_void_p         # qn_ecma_stream * and const qn_ecma_stream *
_stream_out = ctypes.POINTER(ctypes.c_void_p)  # qn_ecma_stream **
_band_meter = ctypes.c_void_p     # qn_band_level_meter * and const qn_band_level_meter *
_band_meter_out = ctypes.POINTER(ctypes.c_void_p)  # qn_band_level_meter **
_level_meter = ctypes.c_void_p    # qn_sound_level_meter * and const qn_sound_level_meter *
_level_meter_out = ctypes.POINTER(ctypes.c_void_p)  # qn_sound_level_meter **
_weighting = ctypes.c_int32       # qn_sharpness_weighting

# Every function of quarnelo.h, in the header's order: name, result type,
# argument types. A test compares this table with the header itself.
DECLARATIONS = (
    # Identification
    ("qn_abi_version", _int32, ()),
    ("qn_version_string", _text, ()),
    ("qn_status_string", _text, (_status,)),
    # Axes
    ("qn_third_octave_centres_hz", _doubles, ()),
    ("qn_bark_axis", _doubles, ()),
    # Loudness (ISO 532-1)
    ("qn_loudness_from_levels", _status,
     (_doubles, _uint64, _field, _doubles, _doubles, _uint64)),
    ("qn_loudness_stationary", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _doubles, _uint64)),
    ("qn_loudness_time_frame_count", _status, (_uint64, _int32, _uint64_out)),
    ("qn_loudness_time", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _doubles, _uint64, _uint64_out)),
    # Loudness meter
    ("qn_loudness_meter_create", _status, (_int32, _field, _meter_out)),
    ("qn_loudness_meter_destroy", None, (_meter,)),
    ("qn_loudness_meter_frame_count", _status, (_meter, _uint64, _uint64_out)),
    ("qn_loudness_meter_add", _status,
     (_meter, _doubles, _uint64, _doubles, _uint64, _doubles, _uint64, _uint64_out)),
    ("qn_loudness_meter_stationary", _status, (_meter, _doubles, _doubles, _uint64)),
    # Loudness level (ISO 532-1)
    ("qn_loudness_level", _status, (ctypes.c_double, _doubles)),
    # Third-octave band levels
    ("qn_band_level_point_count", _status, (_uint64, _int32, _uint64, _uint64_out)),
    ("qn_band_levels", _status,
     (_doubles, _uint64, _int32, _uint64, _doubles, _uint64, _doubles, _uint64, _uint64_out)),
    ("qn_band_level_meter_create", _status, (_int32, _uint64, _band_meter_out)),
    ("qn_band_level_meter_destroy", None, (_band_meter,)),
    ("qn_band_level_meter_point_count", _status, (_band_meter, _uint64, _uint64_out)),
    ("qn_band_level_meter_add", _status,
     (_band_meter, _doubles, _uint64, _doubles, _uint64, _uint64_out)),
    ("qn_band_level_meter_levels", _status, (_band_meter, _doubles, _uint64)),
    # Sharpness (DIN 45692 and other weightings)
    ("qn_sharpness_din", _status, (_doubles, _uint64, _doubles)),
    ("qn_sharpness", _status, (_doubles, _uint64, _weighting, _doubles)),
    # Sound levels (IEC 61672-1)
    ("qn_sound_level_point_count", _status, (_uint64, _int32, _uint64_out)),
    ("qn_sound_levels", _status,
     (_doubles, _uint64, _int32, _doubles, _uint64, _doubles, _uint64, _doubles, _uint64, _uint64_out)),
    ("qn_sound_level_meter_create", _status, (_int32, _level_meter_out)),
    ("qn_sound_level_meter_destroy", None, (_level_meter,)),
    ("qn_sound_level_meter_point_count", _status, (_level_meter, _uint64, _uint64_out)),
    ("qn_sound_level_meter_add", _status,
     (_level_meter, _doubles, _uint64, _doubles, _uint64, _doubles, _uint64, _uint64_out)),
    ("qn_sound_level_meter_levels", _status, (_level_meter, _doubles, _uint64)),
    # Roughness (Daniel & Weber)
    ("qn_roughness_frame_count", _status, (_uint64, _int32, _uint64_out)),
    ("qn_roughness_dw", _status, (_doubles, _uint64, _int32, _doubles, _uint64, _uint64_out)),
    # Tonality (Aures)
    ("qn_tonality_frame_count", _status, (_uint64, _int32, _uint64_out)),
    ("qn_tonality_aures", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _uint64_out)),
    # Tonality (ECMA-418-2)
    ("qn_ecma_tonal_frame_count", _status, (_uint64, _int32, _uint64_out)),
    ("qn_ecma_tonal_analysis", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _uint64_out)),
    # Roughness (ECMA-418-2)
    ("qn_ecma_roughness_frame_count", _status, (_uint64, _int32, _uint64_out)),
    ("qn_roughness_ecma", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _uint64_out)),
    # Loudness (ECMA-418-2)
    ("qn_loudness_ecma", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _doubles, _uint64, _doubles, _doubles,
      _uint64, _uint64_out)),
    # Single values and averages over time (ECMA-418-2)
    ("qn_ecma_aggregate", _status,
     (_metric, _doubles, _uint64, _doubles, _uint64, _doubles, _uint64, _doubles)),
    ("qn_ecma_single_value", _status, (_metric, _doubles, _uint64, _doubles)),
    ("qn_ecma_accumulator_create", _status, (_metric, _accumulator_out)),
    ("qn_ecma_accumulator_destroy", None, (_accumulator,)),
    ("qn_ecma_accumulator_add", _status, (_accumulator, _doubles, _uint64, _doubles, _uint64)),
    ("qn_ecma_accumulator_result", _status, (_accumulator, _doubles, _uint64, _doubles)),
    # Two ears (ECMA-418-2)
    ("qn_ecma_binaural", _status, (_doubles, _doubles, _uint64, _doubles, _uint64)),
    # ECMA-418-2: several metrics in one pass, and streams
    ("qn_ecma_analysis", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _doubles, _uint64, _doubles, _uint64)),
    ("qn_ecma_analysis_with_fluctuation", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _doubles, _uint64, _doubles, _uint64,
      _doubles, _uint64)),
    ("qn_ecma_stream_create", _status, (_int32, _field, _metric, _stream_out)),
    ("qn_ecma_stream_destroy", None, (_stream,)),
    ("qn_ecma_stream_add", _status, (_stream, _doubles, _uint64)),
    ("qn_ecma_stream_finish", _status, (_stream,)),
    ("qn_ecma_stream_frame_count", _status, (_stream, _metric, _uint64_out)),
    ("qn_ecma_stream_read", _status, (_stream, _metric, _doubles, _uint64, _uint64_out)),
    # Fluctuation strength (ECMA-418-2)
    ("qn_ecma_fluctuation_frame_count", _status, (_uint64, _int32, _uint64_out)),
    ("qn_fluctuation_ecma", _status,
     (_doubles, _uint64, _int32, _field, _doubles, _uint64, _uint64_out)),
)


def _package_dir():
    return pathlib.Path(__file__).resolve().parent


FILES_SONAME = "libquarnelo_files.so.1"


def candidates(environ=None, package_dir=None):
    """The places searched for the library, in order, as (label, path) pairs.

    1. the file named by the ``QUARNELO_LIBRARY`` environment variable;
    2. ``libquarnelo.so.1`` beside the package (where an install puts it);
    3. the build tree of a source checkout (``build/src`` of the project);
    4. the system's library path, as the dynamic loader searches it.

    A path of None stands for the dynamic loader's own search.
    """
    environ = os.environ if environ is None else environ
    package_dir = _package_dir() if package_dir is None else pathlib.Path(package_dir)
    found = []
    override = environ.get("QUARNELO_LIBRARY")
    if override:
        found.append(("QUARNELO_LIBRARY", override))
    found.append(("beside the package", str(package_dir / SONAME)))
    found.append(("the build tree", str(package_dir.parent.parent / "build" / "src" / SONAME)))
    found.append(("the system's library path", None))
    return found


def load(environ=None, package_dir=None, system=True):
    """Load the library from the first place that has it.

    Returns ``(handle, path)``. A ``QUARNELO_LIBRARY`` that cannot be loaded
    is an error of its own: the caller asked for that file. When no place has
    the library, the ImportError lists every place and why it failed.
    """
    tried = []
    for label, path in candidates(environ, package_dir):
        if label == "QUARNELO_LIBRARY":
            try:
                return ctypes.CDLL(path), path
            except OSError as exc:
                raise ImportError(
                    f"quarnelo: QUARNELO_LIBRARY is {path!r}, which cannot be loaded: {exc}"
                ) from None
        if path is not None:
            if not os.path.exists(path):
                tried.append(f"{label}: {path} (no such file)")
                continue
            try:
                return ctypes.CDLL(path), path
            except OSError as exc:
                tried.append(f"{label}: {path} ({exc})")
                continue
        if not system:
            continue
        names = [SONAME]
        found = ctypes.util.find_library("quarnelo")
        if found and found not in names:
            names.append(found)
        for name in names:
            try:
                return ctypes.CDLL(name), name
            except OSError as exc:
                tried.append(f"{label}: {name} ({exc})")
    places = "\n  ".join(["QUARNELO_LIBRARY: not set"] + tried)
    raise ImportError(
        f"quarnelo: {SONAME} not found. Looked in:\n  {places}\n"
        "Build the library (make in the project) or set QUARNELO_LIBRARY to its path."
    )


def declare(handle, path):
    """Check the ABI of a loaded library and set every function's types."""
    try:
        abi = handle.qn_abi_version
    except AttributeError:
        raise ImportError(f"quarnelo: {path} is not libquarnelo (no qn_abi_version)") from None
    abi.restype = _int32
    abi.argtypes = ()
    version = abi()
    if version != ABI_VERSION:
        raise ImportError(
            f"quarnelo: {path} has ABI version {version}; this package needs {ABI_VERSION}"
        )
    for name, restype, argtypes in DECLARATIONS:
        try:
            function = getattr(handle, name)
        except AttributeError:
            raise ImportError(
                f"quarnelo: {path} lacks {name}; the library is older than this package"
            ) from None
        function.restype = restype
        function.argtypes = argtypes
    return handle


lib, path = load()
declare(lib, path)


def files_candidates(environ=None, package_dir=None, core_path=None):
    """The places searched for libquarnelo_files, the file layer, in order:

    1. the file named by ``QUARNELO_FILES_LIBRARY``;
    2. beside the core library that was loaded (when it was found by path);
    3. beside the package;
    4. the build tree of a source checkout (``build/files``);
    5. the system's library path.
    """
    environ = os.environ if environ is None else environ
    package_dir = _package_dir() if package_dir is None else pathlib.Path(package_dir)
    core_path = path if core_path is None else core_path
    found = []
    override = environ.get("QUARNELO_FILES_LIBRARY")
    if override:
        found.append(("QUARNELO_FILES_LIBRARY", override))
    if core_path and os.sep in core_path:
        found.append(("beside libquarnelo", str(pathlib.Path(core_path).resolve().parent / FILES_SONAME)))
    found.append(("beside the package", str(package_dir / FILES_SONAME)))
    found.append(("the build tree", str(package_dir.parent.parent / "build" / "files" / FILES_SONAME)))
    found.append(("the system's library path", None))
    return found


def load_files(environ=None, package_dir=None, core_path=None):
    """Load libquarnelo_files from the first place that has it; returns
    ``(handle, path)``, or raises ImportError listing where it looked."""
    tried = []
    for label, where in files_candidates(environ, package_dir, core_path):
        name = where if where is not None else FILES_SONAME
        if where is not None and label != "QUARNELO_FILES_LIBRARY" and not os.path.exists(where):
            tried.append(f"{label}: {where} (no such file)")
            continue
        try:
            return ctypes.CDLL(name), name
        except OSError as exc:
            if label == "QUARNELO_FILES_LIBRARY":
                raise ImportError(
                    f"quarnelo: QUARNELO_FILES_LIBRARY is {where!r}, which cannot be loaded: {exc}"
                ) from None
            tried.append(f"{label}: {name} ({exc})")
    places = "\n  ".join(tried)
    raise ImportError(
        f"quarnelo: {FILES_SONAME} not found. Looked in:\n  {places}\n"
        "Build the project (make) or install the package with pip."
    )


def status_string(status):
    """The library's message for a status ("unknown status" outside 0 ... 10)."""
    return lib.qn_status_string(int(status)).decode("ascii")


def error(status, function=None, detail=None):
    """The exception for a status, carrying the library's message."""
    return _errors.error_class(status)(status, status_string(status), function, detail)


def check(status, function, detail=None):
    """Raise the exception of a status that is not success."""
    if status != _errors.SUCCESS:
        raise error(status, function, detail)


def doubles(array):
    """A ``double *`` to the data of a C-contiguous float64 array."""
    # The library reads as many doubles as the count passed beside the
    # pointer; a buffer of another layout would let it read past the end.
    if array.dtype != "float64" or not array.flags.c_contiguous:
        raise TypeError("internal: a C-contiguous float64 array is required")
    return array.ctypes.data_as(_doubles)
