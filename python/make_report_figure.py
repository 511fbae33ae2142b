"""Regenerate docs/report.png: the report of the demo sound.

The demo sound is 4 s of a 1 kHz tone, fully amplitude-modulated at 70 Hz,
at 60 dB SPL, over pink noise (20 Hz ... 20 kHz) at 50 dB SPL, written as a
24-bit WAV file whose full-scale sine is 100 dB SPL. The figure is what

    python3 -m quarnelo report demo.wav --full-scale-spl 100 -o docs/report.png

writes for it.

    python3 python/make_report_figure.py [-o PNG] [--sound WAV]
"""

import argparse
import pathlib
import sys
import tempfile

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

RATE = 48000
SECONDS = 4.0
FULL_SCALE_SPL = 100.0   # dB SPL of a full-scale sine in the file
TONE_SPL = 60.0          # dB SPL of the modulated tone
NOISE_SPL = 50.0         # dB SPL of the pink noise
P0 = 20e-6               # Pa


def pink_noise(count, rng):
    """Gaussian noise with a power density falling 3 dB per octave, 20 Hz to
    20 kHz, unit RMS."""
    spectrum = np.fft.rfft(rng.standard_normal(count))
    f = np.fft.rfftfreq(count, 1 / RATE)
    band = (f >= 20) & (f <= 20000)
    spectrum[~band] = 0
    spectrum[band] /= np.sqrt(f[band])
    noise = np.fft.irfft(spectrum, count)
    return noise / np.sqrt(np.mean(noise**2))


def demo_sound():
    """The demo sound in Pa."""
    n = int(SECONDS * RATE)
    t = np.arange(n) / RATE
    tone = (1 + np.sin(2 * np.pi * 70 * t)) * np.sin(2 * np.pi * 1000 * t)
    tone *= P0 * 10 ** (TONE_SPL / 20) / np.sqrt(np.mean(tone**2))
    noise = P0 * 10 ** (NOISE_SPL / 20) * pink_noise(n, np.random.default_rng(70))
    return tone + noise


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", default=str(HERE.parent / "docs" / "report.png"))
    parser.add_argument("--sound", help="also keep the demo sound in this WAV file")
    args = parser.parse_args()

    import soundfile

    from quarnelo.__main__ import main as quarnelo_main

    pa_per_unit = np.sqrt(2) * P0 * 10 ** (FULL_SCALE_SPL / 20)
    with tempfile.TemporaryDirectory() as tmp:
        wav = args.sound or str(pathlib.Path(tmp) / "demo.wav")
        soundfile.write(wav, demo_sound() / pa_per_unit, RATE, subtype="PCM_24")
        return quarnelo_main(["report", wav, "--full-scale-spl", f"{FULL_SCALE_SPL:g}",
                              "-o", args.output])


if __name__ == "__main__":
    sys.exit(main())
