"""Analyses in several threads at once give the results of serial calls
(the library keeps no shared state and ctypes releases the GIL)."""

from concurrent.futures import ThreadPoolExecutor

import numpy as np

import quarnelo
from conftest import am_tone, noise, tone


def _analyse(x):
    stationary = quarnelo.loudness(x)
    varying = quarnelo.loudness_time(x, field="diffuse")
    tonal = quarnelo.tonality_ecma(x)
    return (stationary.loudness, stationary.specific, varying.loudness, varying.specific,
            quarnelo.sharpness(varying).sharpness, tonal.specific_tonality, tonal.total_loudness)


def test_concurrent_calls_equal_serial_ones():
    signals = [tone(500 * (k + 1), 50 + 3 * k, 0.4) + noise(0.4, 40, k) for k in range(6)]
    signals += [am_tone(0.4), np.zeros(19200)]
    serial = [_analyse(x) for x in signals]
    with ThreadPoolExecutor(max_workers=4) as pool:
        # Each signal three times, interleaved, so calls overlap.
        futures = [pool.submit(_analyse, x) for _ in range(3) for x in signals]
        concurrent = [f.result() for f in futures]
    for i, got in enumerate(concurrent):
        want = serial[i % len(signals)]
        for g, w in zip(got, want):
            assert np.asarray(g).tobytes() == np.asarray(w).tobytes(), f"signal {i % len(signals)}"


def test_concurrent_tonality_equals_serial():
    signals = [tone(300 * (k + 1), 55 + 2 * k, 0.5) + noise(0.5, 35, k) for k in range(4)]
    serial = [quarnelo.tonality_aures(x).tonality for x in signals]
    with ThreadPoolExecutor(max_workers=4) as pool:
        futures = [pool.submit(quarnelo.tonality_aures, x) for _ in range(2) for x in signals]
        concurrent = [f.result().tonality for f in futures]
    for i, got in enumerate(concurrent):
        assert got.tobytes() == serial[i % len(signals)].tobytes(), f"signal {i % len(signals)}"
