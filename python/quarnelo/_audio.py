"""Reading sound files and resampling them to 48 kHz as the command-line
tool does, so that both give the same samples and refuse the same files.

libsndfile and libsoxr are called through ctypes with the tool's calls and
settings: the file opened by name through /proc, blocks of 65536 samples
read as doubles (integer formats scaled to +-1 full scale, float formats as
stored), the tool's checks of rate, length and truncation with its texts,
and libsoxr's one-shot resampler at its very-high quality.
"""

import ctypes
import ctypes.util
import os
import stat
import threading
from dataclasses import dataclass

import numpy as np

from . import _truncation
from ._inputs import SAMPLE_RATE

# Sample rates the tool reads, Hz. Below and above lie no recordings of
# sound, only damaged headers.
MIN_SAMPLE_RATE = 1000
MAX_SAMPLE_RATE = 768000

_SFM_READ = 0x10
_SF_FORMAT_TYPEMASK = 0x0FFF0000
_SF_COUNT_MAX = (1 << 63) - 1


class AudioError(Exception):
    """A file that cannot be analysed, with the tool's reason."""


class _SfInfo(ctypes.Structure):
    _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]


class _SoxrIoSpec(ctypes.Structure):
    _fields_ = [("itype", ctypes.c_int), ("otype", ctypes.c_int), ("scale", ctypes.c_double),
                ("e", ctypes.c_void_p), ("flags", ctypes.c_ulong)]


class _SoxrQualitySpec(ctypes.Structure):
    _fields_ = [("precision", ctypes.c_double), ("phase_response", ctypes.c_double),
                ("passband_end", ctypes.c_double), ("stopband_begin", ctypes.c_double),
                ("e", ctypes.c_void_p), ("flags", ctypes.c_ulong)]


_SOXR_FLOAT64_I = 1
_SOXR_VHQ = 6  # SOXR_28_BITQ


def _load(names, what, package):
    for name in names:
        if name:
            try:
                return ctypes.CDLL(name)
            except OSError:
                continue
    raise ImportError(f"quarnelo: {what} not found (Debian package {package})")


_libraries = {}
_libraries_lock = threading.Lock()


def _sndfile():
    with _libraries_lock:
        lib = _libraries.get("sndfile")
        if lib is None:
            lib = _load(("libsndfile.so.1", ctypes.util.find_library("sndfile")), "libsndfile", "libsndfile1")
            lib.sf_open.restype = ctypes.c_void_p
            lib.sf_open.argtypes = (ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(_SfInfo))
            lib.sf_open_fd.restype = ctypes.c_void_p
            lib.sf_open_fd.argtypes = (ctypes.c_int, ctypes.c_int, ctypes.POINTER(_SfInfo), ctypes.c_int)
            lib.sf_readf_double.restype = ctypes.c_int64
            lib.sf_readf_double.argtypes = (ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64)
            lib.sf_error.restype = ctypes.c_int
            lib.sf_error.argtypes = (ctypes.c_void_p,)
            lib.sf_strerror.restype = ctypes.c_char_p
            lib.sf_strerror.argtypes = (ctypes.c_void_p,)
            lib.sf_close.restype = ctypes.c_int
            lib.sf_close.argtypes = (ctypes.c_void_p,)
            _libraries["sndfile"] = lib
        return lib


def _soxr():
    with _libraries_lock:
        lib = _libraries.get("soxr")
        if lib is None:
            lib = _load(("libsoxr.so.0", ctypes.util.find_library("soxr")), "libsoxr", "libsoxr0")
            lib.soxr_io_spec.restype = _SoxrIoSpec
            lib.soxr_io_spec.argtypes = (ctypes.c_int, ctypes.c_int)
            lib.soxr_quality_spec.restype = _SoxrQualitySpec
            lib.soxr_quality_spec.argtypes = (ctypes.c_ulong, ctypes.c_ulong)
            size_p = ctypes.POINTER(ctypes.c_size_t)
            lib.soxr_oneshot.restype = ctypes.c_char_p
            lib.soxr_oneshot.argtypes = (
                ctypes.c_double, ctypes.c_double, ctypes.c_uint, ctypes.c_void_p, ctypes.c_size_t, size_p,
                ctypes.c_void_p, ctypes.c_size_t, size_p, ctypes.POINTER(_SoxrIoSpec),
                ctypes.POINTER(_SoxrQualitySpec), ctypes.c_void_p)
            _libraries["soxr"] = lib
        return lib


# libsndfile keeps the reason a file would not open in one slot for the
# whole process: opening one file at a time keeps each reason with its file.
_open_lock = threading.Lock()


def _decoded(text):
    return text.decode("utf-8", "replace") if text else ""


def _kind_of(mode):
    if stat.S_ISDIR(mode):
        return "is a directory"
    if stat.S_ISFIFO(mode):
        return "is a FIFO (named pipe), not a regular file; give '-' to read standard input"
    if stat.S_ISCHR(mode):
        return "is a character device, not a regular file"
    if stat.S_ISBLK(mode):
        return "is a block device, not a regular file"
    if stat.S_ISSOCK(mode):
        return "is a socket, not a regular file"
    return "is not a regular file"


@dataclass(frozen=True)
class Format:
    """What a file's header declares: rate in Hz, channels, frames (0 when
    the length is not declared)."""

    sample_rate: int
    channels: int
    frames: int


class SoundFile:
    """An open sound file that passed the tool's checks; a context manager.

    Raises :class:`AudioError` with the tool's reason: a path that is no
    regular file or cannot be opened, what libsndfile cannot read, a rate
    outside 1 kHz ... 768 kHz, a file without samples, or a header that
    declares more audio data than the file holds.
    """

    def __init__(self, path):
        self._fd = -1
        self._sound = None
        self._lib = _sndfile()
        try:
            self._fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | os.O_NOCTTY)
        except OSError as exc:
            raise AudioError(f"cannot read: {os.strerror(exc.errno)}") from None
        try:
            self._open()
        except BaseException:
            self.close()
            raise

    def _open(self):
        # Without O_NONBLOCK, opening a FIFO waits for a writer, perhaps for
        # ever; with it the kind of file can be examined first.
        try:
            st = os.fstat(self._fd)
        except OSError as exc:
            raise AudioError(f"cannot examine the file: {os.strerror(exc.errno)}") from None
        if not stat.S_ISREG(st.st_mode):
            raise AudioError(_kind_of(st.st_mode))
        self.size = st.st_size
        info = _SfInfo()
        with _open_lock:
            # By name where /proc gives one: libsndfile recognises some
            # formats (MPEG audio without a tag) only when it opens a name.
            name = f"/proc/self/fd/{self._fd}"
            if os.access(name, os.R_OK):
                self._sound = self._lib.sf_open(name.encode(), _SFM_READ, ctypes.byref(info))
            else:
                fd = os.dup(self._fd)
                os.lseek(fd, 0, os.SEEK_SET)
                self._sound = self._lib.sf_open_fd(fd, _SFM_READ, ctypes.byref(info), 1)
                if not self._sound:
                    os.close(fd)
            if not self._sound:
                raise AudioError(f"cannot read audio: {_decoded(self._lib.sf_strerror(None))}")
        if info.channels <= 0 or info.samplerate <= 0:
            raise AudioError("not a usable audio file (no channels or no sample rate)")
        if not MIN_SAMPLE_RATE <= info.samplerate <= MAX_SAMPLE_RATE:
            raise AudioError(f"sample rate {info.samplerate} Hz is outside the {MIN_SAMPLE_RATE} ... "
                             f"{MAX_SAMPLE_RATE} Hz the tool reads")
        if info.frames <= 0:
            raise AudioError("the file holds no samples")
        end = _truncation.declared_data_end(self._read_at, self.size, info.format & _SF_FORMAT_TYPEMASK)
        if end is not None and end > self.size:
            raise AudioError(f"truncated: its header declares audio data up to byte {end}, "
                             f"the file ends at byte {self.size}")
        known = info.frames != _SF_COUNT_MAX
        self.format = Format(info.samplerate, info.channels, info.frames if known else 0)

    def _read_at(self, offset, n):
        if offset > self.size or n > self.size - offset:
            return None
        data = b""
        while len(data) < n:
            try:
                got = os.pread(self._fd, n - len(data), offset + len(data))
            except InterruptedError:
                continue
            except OSError:
                return None
            if not got:
                return None
            data += got
        return data

    def read(self, channels):
        """Every frame of the given channels (counted from 0; others are
        read and dropped), as float64 arrays; a channel beyond the file's
        gives nothing. Refuses a file that ends before the frames its header
        declares, or holds none."""
        fmt = self.format
        width = fmt.channels
        block = max(1, 65536 // width)
        interleaved = np.empty(block * width)
        wanted = [c for c in channels if 0 <= c < width]
        out = {c: np.empty(fmt.frames) for c in wanted}
        extra = {c: [] for c in wanted}  # frames beyond the declared length
        total = 0
        try:
            while True:
                got = self._lib.sf_readf_double(self._sound, interleaved.ctypes.data, block)
                if got <= 0:
                    break
                for c in wanted:
                    samples = interleaved[c:got * width:width]
                    inside = max(0, min(got, fmt.frames - total))
                    out[c][total:total + inside] = samples[:inside]
                    if inside < got:
                        extra[c].append(samples[inside:].copy())
                total += got
        except MemoryError:
            raise AudioError("out of memory while reading") from None
        if self._lib.sf_error(self._sound) != 0:
            raise AudioError(f"read error: {_decoded(self._lib.sf_strerror(self._sound))}")
        if total == 0:
            raise AudioError("the file holds no samples")
        if total < fmt.frames:
            raise AudioError(f"truncated: {total} of the {fmt.frames} frames its header declares could be read")
        self.frames = total
        return [np.concatenate([out[c]] + extra[c]) if extra[c] else out[c] for c in wanted]

    def close(self):
        if self._sound:
            self._lib.sf_close(self._sound)
            self._sound = None
        if self._fd >= 0:
            os.close(self._fd)
            self._fd = -1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def resampled_length(frames, rate):
    """The samples :func:`resample_to_48k` makes of `frames` at `rate`."""
    if rate == SAMPLE_RATE:
        return frames
    return int(frames * (SAMPLE_RATE / rate) + 1.0)


def resample_to_48k(x, rate):
    """One channel resampled to 48 kHz by libsoxr at its very-high quality
    (the tool's samples exactly); `x` itself at 48 kHz."""
    if rate == SAMPLE_RATE:
        return x
    lib = _soxr()
    x = np.ascontiguousarray(x, dtype=np.float64)
    try:
        out = np.empty(resampled_length(x.size, rate))
    except MemoryError:
        raise AudioError("out of memory while resampling") from None
    done = ctypes.c_size_t()
    io = lib.soxr_io_spec(_SOXR_FLOAT64_I, _SOXR_FLOAT64_I)
    quality = lib.soxr_quality_spec(_SOXR_VHQ, 0)
    failure = lib.soxr_oneshot(float(rate), float(SAMPLE_RATE), 1, x.ctypes.data, x.size, None,
                               out.ctypes.data, out.size, ctypes.byref(done), ctypes.byref(io),
                               ctypes.byref(quality), None)
    if failure is not None:
        raise AudioError(f"resampling failed: {_decoded(failure)}")
    return out[:done.value]


__all__ = ["AudioError", "Format", "SoundFile", "resample_to_48k", "resampled_length"]
