"""The loudness meter: time-varying loudness block by block."""

import ctypes
from dataclasses import dataclass

import numpy as np

from . import _inputs
from ._library import check, doubles, lib
from ._metrics import BARK_POINTS, LOUDNESS_TIME_HOP, SAMPLE_RATE, Loudness, _BARK


@dataclass(frozen=True, eq=False)
class MeterFrames:
    """The frames one block completed.

    Attributes
    ----------
    loudness : numpy.ndarray, shape (frames,)
        Temporally weighted total loudness in sone.
    specific : numpy.ndarray, shape (frames, 240), or None
        Instantaneous specific loudness in sone/Bark (None when not asked for).
    time : numpy.ndarray, shape (frames,)
        Time of each frame in s from the first sample ever added: frame f
        belongs to sample 96 f.
    """

    loudness: np.ndarray
    specific: np.ndarray
    time: np.ndarray


class LoudnessMeter:
    """Time-varying loudness (ISO 532-1) of a signal that arrives in blocks.

    Each :meth:`add` returns the 2 ms frames its block completes; the frames
    of all blocks together are those :func:`quarnelo.loudness_time` gives for
    the whole signal, bit for bit, whatever the block sizes.
    :meth:`stationary` gives the stationary loudness of everything added so
    far. The meter holds only the method's running state (a few kilobytes),
    so a recording of any length can be measured a block at a time.

    A meter may be used from one thread at a time; distinct meters run in
    parallel (the library releases the GIL). Use it as a context manager or
    call :meth:`close` to release it at once.

    >>> meter = quarnelo.LoudnessMeter(field="free")      # doctest: +SKIP
    >>> for block in blocks:                             # doctest: +SKIP
    ...     frames = meter.add(block)
    ...     display(frames.loudness)
    """

    def __init__(self, field="free", fs=SAMPLE_RATE):
        name = "LoudnessMeter"
        code = _inputs.sound_field(field, name)
        rate = _inputs.sample_rate(fs, name)
        handle = ctypes.c_void_p()
        check(lib.qn_loudness_meter_create(rate, code, ctypes.byref(handle)), "qn_loudness_meter_create")
        self._handle = handle
        self._samples = 0
        self.field = field

    @property
    def samples(self):
        """Samples added so far."""
        return self._samples

    def _live(self):
        if self._handle is None:
            raise ValueError("LoudnessMeter: the meter is closed")
        return self._handle

    def add(self, block, *, specific=True):
        """Add a block of sound pressure in Pa (any length, 0 included) and
        return the frames it completes as :class:`MeterFrames`.

        A block with a NaN or infinite sample is refused whole
        (:class:`NonFiniteInputError`) and the meter stays as it was.
        """
        handle = self._live()
        x = _inputs.vector(block, "block", None, "LoudnessMeter.add")
        frames = ctypes.c_uint64()
        check(lib.qn_loudness_meter_frame_count(handle, x.size, ctypes.byref(frames)),
              "qn_loudness_meter_frame_count")
        count = frames.value
        loudness = np.empty(count)
        pattern = np.empty((count, BARK_POINTS)) if specific else None
        status = lib.qn_loudness_meter_add(
            handle, doubles(x), x.size, doubles(loudness), loudness.size,
            doubles(pattern) if specific else None, pattern.size if specific else 0,
            ctypes.byref(frames))
        check(status, "qn_loudness_meter_add")
        first = (self._samples + LOUDNESS_TIME_HOP - 1) // LOUDNESS_TIME_HOP
        self._samples += x.size
        time = (first + np.arange(count)) * LOUDNESS_TIME_HOP / SAMPLE_RATE
        return MeterFrames(loudness, pattern, time)

    def stationary(self):
        """Stationary loudness (ISO 532-1) of everything added so far, as
        :func:`quarnelo.loudness` gives it for the concatenated signal
        (at least 256 samples)."""
        handle = self._live()
        total = ctypes.c_double()
        pattern = np.empty(BARK_POINTS)
        check(lib.qn_loudness_meter_stationary(handle, ctypes.byref(total), doubles(pattern), pattern.size),
              "qn_loudness_meter_stationary")
        return Loudness(total.value, pattern, _BARK, self.field)

    def close(self):
        """Release the meter; further calls raise ValueError."""
        if self._handle is not None:
            lib.qn_loudness_meter_destroy(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        handle = getattr(self, "_handle", None)
        if handle is not None:
            lib.qn_loudness_meter_destroy(handle)
            self._handle = None
