"""Statistics over frames, as the package quotes them.

Every one is computed by the file layer (libquarnelo_files), the very code
the command-line tool quotes them with, or for the ECMA-418-2 roughness by
libquarnelo itself; tests/data/statistics_cases.json holds them: N5 and
N10, means, maxima and minima over frames, and the single values of the
ECMA-418-2 tonality and roughness.

Percentiles are by nearest rank: with the F frame values sorted ascending,
the value exceeded during ``p`` % of the frames is the one at rank
``ceil((100 - p) * F / 100)`` (computed in that order in doubles), kept
within 1 ... F; no interpolation, so it is always one of the values.

A frame whose total loudness is below :data:`SILENT_FLOOR_SONE` counts as
silent in every statistic over frames: its loudness and its sharpness count
as 0. 0.001 sone is about 4 phon, the threshold of hearing; what the
temporal decay leaves after a sound ends (down to 1e-19 sone and less) lies
far below it, and any sound worth measuring far above.
"""

import ctypes
import numbers

import numpy as np

SILENT_FLOOR_SONE = 1e-3

# ECMA-418-2 roughness: its single value leaves out frames 0 ... 15 (0.32 s,
# 50 frames per second), which still rise from the silent start.
ECMA_ROUGHNESS_FIRST_FRAME = 16
_QN_ECMA_ROUGHNESS = 4  # qn_ecma_metric of quarnelo.h


def _series(values, function, what="values"):
    """A 1-D float64 series of frame values, or the package's error."""
    from . import _errors, _inputs

    x = _inputs.real_array(values, what, function)
    if x.ndim != 1:
        raise _inputs.error(_errors.INVALID_ARGUMENT, function,
                            f"{what}: expected a 1-D series of frame values, got shape {x.shape}")
    return np.ascontiguousarray(x, dtype=np.float64)


def _percents(percent, function):
    """``(percentages, whether several were given)``."""
    several = not isinstance(percent, (numbers.Real, np.integer, np.floating)) or isinstance(percent, bool)
    if not several:
        return [float(percent)], False
    message = f"{function}: percent is a number from 0 to 100 or a sequence of them, not {percent!r}"
    if isinstance(percent, (str, bytes, bool)):
        raise TypeError(message)
    try:
        return [float(p) for p in percent], True
    except (TypeError, ValueError):
        raise TypeError(message) from None


def frame_statistics(values, loudness=None, percents=(), function="frame_statistics"):
    """``(mean, maximum, minimum, percentiles)`` of frame values as the
    analyses quote them (``qnf_frame_statistics``): the mean summed in frame
    order, and an array of the values exceeded during each of ``percents``
    % of the frames. With ``loudness`` (sone per frame) a silent frame
    counts as 0. All 0 for no values."""
    from . import _errors
    from ._files import flib
    from ._inputs import error
    from ._library import _doubles

    x = _series(values, function)
    n = None
    if loudness is not None:
        n = _series(loudness, function, "loudness")
        if n.size != x.size:
            raise error(_errors.INVALID_ARGUMENT, function,
                        f"loudness: one value per frame, {x.size}, not {n.size}")
    wanted = np.ascontiguousarray(percents, dtype=np.float64).ravel()
    bad = wanted[~((wanted >= 0) & (wanted <= 100))]
    if bad.size:
        raise error(_errors.INVALID_ARGUMENT, function, f"percent must lie in 0 ... 100, got {bad[0]}")
    out = np.empty(3 + wanted.size)
    status = flib.qnf_frame_statistics(x.ctypes.data_as(_doubles), None if n is None else n.ctypes.data_as(_doubles),
                                       x.size, wanted.ctypes.data_as(_doubles), wanted.size,
                                       out.ctypes.data_as(_doubles), out.size)
    if status != _errors.SUCCESS:
        raise error(status, function, "the values hold NaN" if status == _errors.NON_FINITE_INPUT else None)
    return float(out[0]), float(out[1]), float(out[2]), out[3:]


def exceeded(values, percent):
    """The value exceeded during ``percent`` % of the frames, by nearest
    rank (the file layer's rule, ``qnf_exceeded``); 0 for no values.

    ``percent`` is a number from 0 to 100, or a sequence of them: then the
    result is an array, one value per percentage (``exceeded(n, [5, 10])``
    gives N5 and N10)."""
    function = "exceeded"
    wanted, several = _percents(percent, function)
    found = frame_statistics(values, None, wanted, function)[3]
    return found if several else float(found[0])


def exceeded_of_loudness(loudness, percent, function):
    """:func:`exceeded` of a loudness series, its silent frames counting as
    0 sone."""
    wanted, several = _percents(percent, function)
    found = frame_statistics(loudness, loudness, wanted, function)[3]
    return found if several else float(found[0])


def mean(values, loudness=None):
    """Arithmetic mean, summed in frame order like the tool; 0 for no
    values. With ``loudness``, silent frames count as 0."""
    return frame_statistics(np.ravel(values), loudness, (), "mean")[0]


def max_of(values, loudness=None):
    """Largest value; 0 for no values. With ``loudness``, silent frames
    count as 0."""
    return frame_statistics(np.ravel(values), loudness, (), "max")[1]


def ecma_roughness_value(total):
    """The single value of ECMA-418-2 roughness from the total roughness of
    each frame: the standard's 90th percentile of the frames from 0.32 s
    (frame 16) on, by linear interpolation, as libquarnelo computes it
    (``qn_ecma_single_value``). Needs more than 16 frames."""
    from . import _errors
    from ._inputs import error
    from ._library import check, doubles, lib

    function = "ecma_roughness_value"
    x = _series(total, function, "total")
    value = np.empty(1)
    status = lib.qn_ecma_single_value(_QN_ECMA_ROUGHNESS, doubles(x), x.size, doubles(value))
    if status == _errors.INPUT_TOO_SHORT:
        raise error(status, function, f"{x.size} frames; the single value needs more than "
                                      f"{ECMA_ROUGHNESS_FIRST_FRAME}")
    check(status, function)
    return float(value[0])


def tonality_ecma_summary(tonality, hop_seconds=256 / 48000):
    """The single values of ECMA-418-2 tonality from the time-dependent
    tonality T(l), one value per frame, frame l at ``l * hop_seconds``.

    Returns ``(value, maximum, frame)``: the mean of T(l) over the frames at
    or after 0.3 s whose T(l) exceeds 0.02 (0 when none does), the largest
    T(l) at or after 0.3 s (0 when there is none), and the first frame that
    has it. The first 0.3 s are left out because the model's smoothing
    starts from rest. The command-line tool's ``tonality-ecma`` follows the
    same rule, the file layer's ``qnf_tonality_ecma_summary``.
    """
    from . import _errors
    from ._files import flib
    from ._inputs import error
    from ._library import _doubles

    function = "tonality_ecma_summary"
    t = _series(tonality, function, "tonality")
    value, maximum, frame = ctypes.c_double(), ctypes.c_double(), ctypes.c_uint64()
    status = flib.qnf_tonality_ecma_summary(t.ctypes.data_as(_doubles), t.size, float(hop_seconds),
                                            ctypes.byref(value), ctypes.byref(maximum), ctypes.byref(frame))
    if status != _errors.SUCCESS:
        detail = {_errors.INVALID_ARGUMENT: f"hop_seconds must be above 0, not {hop_seconds!r}",
                  _errors.NON_FINITE_INPUT: "the values hold NaN or infinity"}.get(status)
        raise error(status, function, detail)
    return value.value, maximum.value, int(frame.value)
