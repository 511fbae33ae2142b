"""Statistics over frames, as the package quotes them.

The command-line tool computes the same quantities (the file layer, files/statistics.h);
both are held to one table of cases, tests/data/statistics_cases.json: N5
and N10, means and maxima over frames, and the single values of the
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

import math

import numpy as np

SILENT_FLOOR_SONE = 1e-3


def floored(values, loudness):
    """``values`` with the frames whose ``loudness`` is below the silent
    floor set to 0, as a new float64 array."""
    out = np.array(values, dtype=np.float64)
    out[np.asarray(loudness, dtype=np.float64) < SILENT_FLOOR_SONE] = 0.0
    return out


def _series(values, function):
    """A 1-D float64 series of frame values, or the package's error."""
    from . import _errors, _inputs

    x = _inputs.real_array(values, "values", function)
    if x.ndim != 1:
        raise _inputs.error(_errors.INVALID_ARGUMENT, function,
                            f"values: expected a 1-D series of frame values, got shape {x.shape}")
    return np.ascontiguousarray(x, dtype=np.float64)


def exceeded(values, percent):
    """The value exceeded during ``percent`` % of the frames, by nearest
    rank (the file layer's rule, ``qnf_exceeded``); 0 for no values.

    ``percent`` is a number from 0 to 100, or a sequence of them: then the
    result is an array, one value per percentage (``exceeded(n, [5, 10])``
    gives N5 and N10)."""
    import ctypes
    import numbers

    from . import _errors
    from ._files import flib
    from ._inputs import error
    from ._library import _doubles

    function = "exceeded"
    x = _series(values, function)
    several = not isinstance(percent, (numbers.Real, np.integer, np.floating)) or isinstance(percent, bool)
    if several:
        if isinstance(percent, (str, bytes, bool)):
            raise TypeError(f"{function}: percent is a number from 0 to 100 or a sequence of them, "
                            f"not {percent!r}")
        try:
            wanted = [float(p) for p in percent]
        except (TypeError, ValueError):
            raise TypeError(f"{function}: percent is a number from 0 to 100 or a sequence of them, "
                            f"not {percent!r}") from None
    else:
        wanted = [float(percent)]
    found = []
    result = ctypes.c_double()
    for p in wanted:
        if not 0 <= p <= 100:
            raise error(_errors.INVALID_ARGUMENT, function, f"percent must lie in 0 ... 100, got {p}")
        status = flib.qnf_exceeded(x.ctypes.data_as(_doubles), x.size, p, ctypes.byref(result))
        if status != _errors.SUCCESS:
            raise error(status, function, "the values hold NaN" if status == _errors.NON_FINITE_INPUT else None)
        found.append(result.value)
    return np.array(found) if several else found[0]


def mean(values):
    """Arithmetic mean, summed in frame order like the tool; 0 for no
    values."""
    values = np.asarray(values, dtype=np.float64).ravel()
    if values.size == 0:
        return 0.0
    # cumsum adds in order (numpy's sum adds pairwise).
    return float(np.cumsum(values)[-1]) / values.size


def max_of(values):
    """Largest value; 0 for no values."""
    values = np.asarray(values, dtype=np.float64)
    return float(values.max()) if values.size else 0.0


# The frames of ECMA-418-2 roughness before 0.3 s (50 frames per second)
# still rise from the silent start and do not count for its single value.
ECMA_ROUGHNESS_SETTLING_FRAMES = 15


def ecma_roughness_value(total):
    """The single value of ECMA-418-2 roughness: the 90th percentile, by
    nearest rank (:func:`exceeded` with 10 %), of the total roughness of the
    frames at or after 0.3 s; 0 when there are none."""
    return exceeded(np.asarray(total, dtype=np.float64)[ECMA_ROUGHNESS_SETTLING_FRAMES:], 10)


def tonality_ecma_summary(tonality, hop_seconds=256 / 48000):
    """The single values of ECMA-418-2 tonality from the time-dependent
    tonality T(l), one value per frame, frame l at ``l * hop_seconds``.

    Returns ``(value, maximum, frame)``: the mean of T(l) over the frames at
    or after 0.3 s whose T(l) exceeds 0.02 (0 when none does), the largest
    T(l) at or after 0.3 s (0 when there is none), and the first frame that
    has it. The first 0.3 s are left out because the model's smoothing
    starts from rest. The command-line tool's ``tonality-ecma`` follows the
    same rule.
    """
    t = _series(tonality, "tonality_ecma_summary")
    frames = np.arange(t.size)
    late = frames * hop_seconds >= 0.3
    if not late.any():
        return 0.0, 0.0, 0
    first = int(np.argmax(late))
    frame = first + int(np.argmax(t[late]))
    counted = t[late & (t > 0.02)].tolist()
    # Summed in frame order from 0, as the tool sums.
    value = sum(counted) / len(counted) if counted else 0.0
    return value, float(t[frame]), frame
