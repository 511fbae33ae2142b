"""Shared fixtures: test signals and an independent path into the C library.

`clib` reaches libquarnelo through ctypes declarations written here, from
the header, with buffers made by ctypes itself, so that comparing the
package with it checks the package's own wrapping (argument order, sizes,
conversions) rather than restating it.
"""

import ctypes
import os
import pathlib

import numpy as np
import pytest

try:
    import matplotlib

    matplotlib.use("Agg")
except ImportError:  # the plot tests skip themselves
    pass

import quarnelo

PROJECT = pathlib.Path(__file__).resolve().parents[2]
HEADER = PROJECT / "include" / "quarnelo.h"
RATE = 48000

_d = ctypes.c_void_p
_u64 = ctypes.c_uint64
_i32 = ctypes.c_int32


class Direct:
    """libquarnelo called through ctypes with nothing of the package."""

    def __init__(self, path):
        self.lib = lib = ctypes.CDLL(path)
        self.path = path
        for name, argtypes, restype in [
            ("qn_status_string", [_i32], ctypes.c_char_p),
            ("qn_loudness_from_levels", [_d, _u64, _i32, _d, _d, _u64], _i32),
            ("qn_loudness_stationary", [_d, _u64, _i32, _i32, _d, _d, _u64], _i32),
            ("qn_loudness_time", [_d, _u64, _i32, _i32, _d, _u64, _d, _u64, _d], _i32),
            ("qn_sharpness_din", [_d, _u64, _d], _i32),
            ("qn_roughness_dw", [_d, _u64, _i32, _d, _u64, _d], _i32),
            ("qn_tonality_aures", [_d, _u64, _i32, _i32, _d, _u64, _d], _i32),
            ("qn_roughness_ecma", [_d, _u64, _i32, _i32, _d, _u64, _d], _i32),
            ("qn_ecma_tonal_analysis", [_d, _u64, _i32, _i32, _d, _u64, _d], _i32),
        ]:
            f = getattr(lib, name)
            f.argtypes, f.restype = argtypes, restype

    @staticmethod
    def _buffer(values):
        data = np.asarray(values, dtype=np.float64).tobytes()
        return (ctypes.c_double * (len(data) // 8)).from_buffer_copy(data)

    @staticmethod
    def _ok(status):
        assert status == 0, f"direct call failed with status {status}"

    def status_string(self, status):
        return self.lib.qn_status_string(status).decode()

    def loudness_from_levels(self, levels, field):
        lv = self._buffer(levels)
        total = ctypes.c_double()
        spec = (ctypes.c_double * 240)()
        self._ok(self.lib.qn_loudness_from_levels(ctypes.addressof(lv), len(lv), field,
                                                  ctypes.addressof(total), ctypes.addressof(spec), 240))
        return total.value, np.array(spec[:])

    def loudness_stationary(self, samples, field):
        x = self._buffer(samples)
        total = ctypes.c_double()
        spec = (ctypes.c_double * 240)()
        self._ok(self.lib.qn_loudness_stationary(ctypes.addressof(x), len(x), RATE, field,
                                                 ctypes.addressof(total), ctypes.addressof(spec), 240))
        return total.value, np.array(spec[:])

    def loudness_time(self, samples, field):
        x = self._buffer(samples)
        frames = (len(x) - 1) // 96 + 1
        total = (ctypes.c_double * frames)()
        spec = (ctypes.c_double * (frames * 240))()
        count = ctypes.c_uint64()
        self._ok(self.lib.qn_loudness_time(ctypes.addressof(x), len(x), RATE, field,
                                           ctypes.addressof(total), frames, ctypes.addressof(spec),
                                           frames * 240, ctypes.addressof(count)))
        assert count.value == frames
        return np.array(total[:]), np.array(spec[:]).reshape(frames, 240)

    def roughness_dw(self, samples):
        x = self._buffer(samples)
        frames = (len(x) - 9600) // 4800 + 1
        out = (ctypes.c_double * frames)()
        count = ctypes.c_uint64()
        self._ok(self.lib.qn_roughness_dw(ctypes.addressof(x), len(x), RATE, ctypes.addressof(out),
                                          frames, ctypes.addressof(count)))
        assert count.value == frames
        return np.array(out[:])

    def tonality_aures(self, samples, field):
        x = self._buffer(samples)
        frames = (len(x) - 12000) // 6000 + 1
        out = (ctypes.c_double * frames)()
        count = ctypes.c_uint64()
        self._ok(self.lib.qn_tonality_aures(ctypes.addressof(x), len(x), RATE, field, ctypes.addressof(out),
                                            frames, ctypes.addressof(count)))
        assert count.value == frames
        return np.array(out[:])

    def roughness_ecma(self, samples, field):
        x = self._buffer(samples)
        frames = len(x) // 960 + 1
        out = (ctypes.c_double * (frames * 53))()
        count = ctypes.c_uint64()
        self._ok(self.lib.qn_roughness_ecma(ctypes.addressof(x), len(x), RATE, field,
                                            ctypes.addressof(out), frames * 53, ctypes.addressof(count)))
        assert count.value == frames
        return np.array(out[:]).reshape(frames, 53)

    def ecma_tonal(self, samples, field):
        """The five arrays, each (frames, 53)."""
        x = self._buffer(samples)
        frames = (len(x) + 255) // 256 + 1
        out = (ctypes.c_double * (265 * frames))()
        count = ctypes.c_uint64()
        self._ok(self.lib.qn_ecma_tonal_analysis(ctypes.addressof(x), len(x), RATE, field,
                                                 ctypes.addressof(out), 265 * frames,
                                                 ctypes.addressof(count)))
        assert count.value == frames
        return np.array(out[:]).reshape(5, frames, 53)

    def sharpness(self, pattern):
        p = self._buffer(pattern)
        s = ctypes.c_double()
        self._ok(self.lib.qn_sharpness_din(ctypes.addressof(p), len(p), ctypes.addressof(s)))
        return s.value


@pytest.fixture(scope="session")
def clib():
    return Direct(os.environ.get("QUARNELO_LIBRARY") or quarnelo.library_path)


def tone(freq=1000.0, spl=60.0, seconds=0.5, phase=0.0):
    t = np.arange(int(seconds * RATE)) / RATE
    return 20e-6 * 10 ** (spl / 20) * np.sqrt(2) * np.sin(2 * np.pi * freq * t + phase)


def am_tone(seconds=0.5):
    t = np.arange(int(seconds * RATE)) / RATE
    return 0.02 * (1 + np.sin(2 * np.pi * 70 * t)) * np.sin(2 * np.pi * 1000 * t)


def noise(seconds=0.5, spl=55.0, seed=7):
    x = np.random.default_rng(seed).standard_normal(int(seconds * RATE))
    return 20e-6 * 10 ** (spl / 20) * x


# Signals the comparisons run over: a tone, a modulated tone, noise, a
# tone with noise and an odd length, a click.
SIGNALS = {
    "tone_1k_60dB": lambda: tone(),
    "am_tone_70Hz": lambda: am_tone(),
    "noise_55dB": lambda: noise(),
    "tone_4k_plus_noise_odd_length": lambda: (tone(4000, 70, 0.3) + noise(0.3, 40, 3))[:14399],
    "click": lambda: np.concatenate([np.zeros(3000), [2.0], np.zeros(5000)]),
}


@pytest.fixture(params=sorted(SIGNALS))
def signal(request):
    return SIGNALS[request.param]()


# --- Files, and the command-line tool -------------------------------------


def tool_path():
    """The command-line tool of this build (QUARNELO_CLI, or the checkout's
    build tree); the test is skipped without one."""
    tool = os.environ.get("QUARNELO_CLI") or str(PROJECT / "build" / "tools" / "cli" / "quarnelo")
    if not os.access(tool, os.X_OK):
        pytest.skip(f"the command-line tool is not built ({tool})")
    return tool


def corpus_tone(rate, seconds, freq, amplitude, channels=1, seed=0):
    """A 70 Hz modulated tone over a little noise, (samples, channels)."""
    n = int(rate * seconds)
    t = np.arange(n) / rate
    noise = np.random.default_rng(seed).standard_normal((n, channels))
    x = amplitude * np.sin(2 * np.pi * freq * t)[:, None] * (1 + 0.5 * np.sin(2 * np.pi * 70 * t))[:, None]
    return x * np.linspace(1, 0.5, channels)[None, :] + 0.01 * noise


def write_corpus(folder):
    """About twenty files: the good ones in several containers, rates and
    channel counts, files too short for some metrics, a silent one, one
    too loud for the stationary loudness, NaN samples in one channel, and
    damaged files. Returns the paths in the order to analyse them."""
    files = []

    import soundfile

    def write(name, x, rate, subtype=None, format=None):
        path = folder / name
        soundfile.write(str(path), x, rate, subtype=subtype, format=format)
        files.append(path)
        return path

    write("tone_mono_16.wav", corpus_tone(48000, 0.6, 1000, 0.3), 48000, "PCM_16")
    write("am_stereo_24.wav", corpus_tone(48000, 0.5, 1000, 0.5, 2, 1), 48000, "PCM_24")
    write("noise_44k1.flac", corpus_tone(44100, 0.5, 3000, 0.05, 1, 2), 44100, "PCM_16")
    write("stereo_32k.aiff", corpus_tone(32000, 0.45, 500, 0.4, 2, 3), 32000, "PCM_16")
    write("float_48k.wav", corpus_tone(48000, 0.4, 2000, 0.1, 1, 4), 48000, "FLOAT")
    write("double_96k.wav", corpus_tone(96000, 0.4, 4000, 0.2, 1, 5), 96000, "DOUBLE")
    write("vorbis_48k.ogg", corpus_tone(48000, 0.5, 1500, 0.3, 1, 6), 48000, "VORBIS")
    write("mono_22k05.caf", corpus_tone(22050, 0.5, 800, 0.3, 1, 7), 22050, "PCM_16")
    write("three_channels.au", corpus_tone(48000, 0.4, 1000, 0.3, 3, 8), 48000, "PCM_32")
    write("mono_8k.wav", corpus_tone(8000, 0.5, 700, 0.3, 1, 15), 8000, "PCM_16")
    write("mono_16k.w64", corpus_tone(16000, 0.5, 300, 0.3, 1, 9), 16000, "PCM_16")
    write("five_channels.flac", corpus_tone(48000, 0.35, 600, 0.2, 5, 10), 48000, "PCM_24")
    write("rf64_48k.rf64", corpus_tone(48000, 0.4, 1200, 0.3, 1, 11), 48000, "PCM_16", "RF64")
    write("nist_48k.nist", corpus_tone(48000, 0.35, 900, 0.3, 1, 12), 48000, "PCM_16", "NIST")
    write("short_0.1s.wav", corpus_tone(48000, 0.1, 1000, 0.3), 48000, "PCM_16")
    write("short_300_samples.wav", corpus_tone(48000, 300 / 48000, 1000, 0.3), 48000, "PCM_16")
    write("silent.wav", np.zeros(20000), 48000, "PCM_16")
    # 130 dB at 100 Hz: beyond the tables of the stationary loudness.
    write("too_loud_100Hz.wav", 89.0 * np.sin(2 * np.pi * 100 * np.arange(24000) / 48000), 48000, "FLOAT")
    nan = corpus_tone(48000, 0.4, 1000, 0.1, 2, 13)
    nan[5000, 1] = np.nan
    write("nan_in_channel_2.wav", nan, 48000, "FLOAT")
    garbage = folder / "garbage.wav"
    garbage.write_bytes(np.random.default_rng(14).bytes(5000))
    files.append(garbage)
    cut = write("truncated.wav", corpus_tone(48000, 0.5, 1000, 0.3), 48000, "PCM_16")
    cut.write_bytes(cut.read_bytes()[:30000])
    files.append(folder / "missing.wav")
    return [str(f) for f in files]
