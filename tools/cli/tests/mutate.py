#!/usr/bin/env python3
"""Damaged audio files against the quarnelo tool.

Writes short files in every format and encoding libsndfile writes, plus
crafted ones (a FLAC announcing 2^36 - 1 samples, a WAV "at 1 Hz", a data
chunk claiming 4 GB, many chunks before the data, a damaged Ogg page, NaN
samples), damages copies of them (flipped bits, header fields set to
extremes, cuts, repeated and inserted bytes) and runs `quarnelo analyze` over
them in batches. Every run must end with status 0 or 1, print a JSON report
naming every file of its batch with results or an error, and name each
failed file on stderr; anything else (an abort, a signal, a hang, a lost
file) is counted as a failure and the script exits 1.

    mutate.py --tool build/tools/cli/quarnelo --files 3000
    mutate.py --seeds fuzz/corpus/cli_read     # the fuzz target's seeds

Needs python3-numpy and python3-soundfile.
"""

import argparse
import collections
import io
import json
import os
import random
import struct
import subprocess
import sys
import tempfile

import numpy as np
import soundfile as sf


def signal(seconds, channels, rate, seed):
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * rate)) / rate
    tone = 0.3 * (1 + np.sin(2 * np.pi * 70 * t)) * np.sin(2 * np.pi * 1000 * t)
    x = np.stack([tone * (0.8 ** c) + 0.02 * rng.standard_normal(t.size) for c in range(channels)], axis=1)
    return np.clip(x, -0.99, 0.99)


def encoded(data, rate, fmt, subtype):
    out = io.BytesIO()
    sf.write(out, data, rate, format=fmt, subtype=subtype)
    return out.getvalue()


def every_format(seconds, seed=1):
    """(name, bytes) of every format and encoding libsndfile writes."""
    files = []
    for fmt in sorted(sf.available_formats()):
        if fmt == "RAW":
            continue  # no header: libsndfile cannot open it without being told
        for i, subtype in enumerate(sorted(sf.available_subtypes(fmt))):
            channels = 2 if i % 3 == 1 else 1
            rate = 44100 if i % 4 == 2 else 48000
            try:
                data = encoded(signal(seconds, channels, rate, seed + i), rate, fmt, subtype)
            except (RuntimeError, ValueError, TypeError, sf.LibsndfileError):
                continue  # written by name only (SD2), or not at this rate
            if data:
                files.append((f"{fmt}_{subtype}.{fmt.lower()}", data))
    return files


def le32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def crafted():
    """The damaged files the tool once lost a batch to, and their kin."""
    files = []
    wav = encoded(signal(0.05, 1, 48000, 3), 48000, "WAV", "PCM_16")
    flac = bytearray(encoded(signal(0.05, 1, 48000, 4), 48000, "FLAC", "PCM_16"))
    flac[21] |= 0x0F
    flac[22:26] = b"\xff\xff\xff\xff"
    files.append(("flac_2_36_samples.flac", bytes(flac)))
    files.append(("wav_at_1hz.wav", wav[:24] + le32(1) + le32(2) + wav[32:]))
    files.append(("wav_at_0hz.wav", wav[:24] + le32(0) + le32(0) + wav[32:]))
    files.append(("wav_data_4g.wav", wav[:40] + le32(0xFFFFFFF0) + wav[44:]))
    files.append(("wav_cut.wav", wav[: len(wav) * 3 // 5]))
    junk = b"".join(b"junk" + le32(8) + b"12345678" for _ in range(400))
    chunky = bytearray(wav[:36] + junk + wav[36:])
    chunky[4:8] = le32(len(chunky) - 8)
    files.append(("wav_many_chunks_cut.wav", bytes(chunky[: len(chunky) * 3 // 5])))
    ogg = bytearray(encoded(signal(0.2, 1, 48000, 5), 48000, "OGG", "VORBIS"))
    ogg[ogg.rfind(b"OggS") + 13] ^= 0x40
    files.append(("ogg_damaged_granule.ogg", bytes(ogg)))
    nan = signal(0.05, 1, 48000, 6)
    nan[100, 0] = np.nan
    files.append(("float_nan.wav", encoded(nan, 48000, "WAV", "FLOAT")))
    files.append(("silent.wav", encoded(np.zeros((2400, 1)), 48000, "WAV", "PCM_16")))
    clipped = np.clip(1.5 * np.sin(2 * np.pi * 1000 * np.arange(2400) / 48000), -1, 1)
    files.append(("clipped.wav", encoded(clipped[:, None], 48000, "WAV", "PCM_16")))
    files.append(("aiff_cut.aiff", encoded(signal(0.05, 1, 48000, 7), 48000, "AIFF", "PCM_16")[:2000]))
    files.append(("roughness_length.wav", encoded(signal(0.25, 1, 48000, 8), 48000, "WAV", "PCM_16")))
    sds = bytearray(encoded(signal(0.05, 1, 48000, 9), 48000, "SDS", "PCM_16"))
    sds[21] ^= 0x55  # its decoder prints to standard output
    files.append(("sds_chatty.sds", bytes(sds)))
    files.append(("empty.wav", encoded(np.zeros((0, 1)), 48000, "WAV", "PCM_16")))
    files.append(("not_audio.wav", b"this is not audio\n"))
    return files


EXTREMES = [0, 1, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFF, 0x10000]


def mutate(data, rng):
    """A damaged copy: one to three of the usual kinds of damage."""
    d = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        kind = rng.randrange(6)
        if not d:
            d = bytearray(rng.randbytes(rng.randint(1, 64)))
            continue
        if kind == 0:  # flipped bits
            for _ in range(rng.randint(1, 8)):
                d[rng.randrange(len(d))] ^= 1 << rng.randrange(8)
        elif kind == 1:  # a header field set to an extreme
            at = rng.randrange(min(len(d), 128))
            d[at:at + 4] = struct.pack("<I" if rng.random() < 0.5 else ">I", rng.choice(EXTREMES))
        elif kind == 2:  # cut
            d = d[: rng.randrange(len(d))]
        elif kind == 3:  # a slice repeated
            a = rng.randrange(len(d))
            b = min(len(d), a + rng.randint(1, 256))
            d[b:b] = d[a:b] * rng.randint(1, 4)
        elif kind == 4:  # random bytes inserted
            at = rng.randrange(len(d) + 1)
            d[at:at] = rng.randbytes(rng.randint(1, 32))
        else:  # a region zeroed
            a = rng.randrange(len(d))
            d[a:a + rng.randint(1, 64)] = bytes(min(len(d) - a, 64))
    return bytes(d)


def run_batch(tool, paths, timeout):
    """Runs the tool over one batch; returns (outcome, reasons)."""
    command = [tool, "analyze", "--format", "json", "-j", "2", "--max-memory", "2G"] + paths
    try:
        done = subprocess.run(command, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return "hang", []
    if done.returncode not in (0, 1):
        return f"exit status {done.returncode}", []
    try:
        report = json.loads(done.stdout)
    except ValueError:
        return "no JSON report", []
    files = report.get("files", [])
    if [f.get("file") for f in files] != [os.fsdecode(p) for p in paths]:
        return "files lost from the report", []
    err = done.stderr
    reasons = []
    for path, f in zip(paths, files):
        failed = "error" in f or any(c["errors"] for c in f.get("results", []))
        if failed and b"quarnelo: " + os.fsencode(path) + b": " not in err:
            return "a failed file not named on stderr", []
        reasons.append(f.get("error", "analysed" if not failed else "a metric failed"))
    if (done.returncode == 1) != any(r != "analysed" for r in reasons):
        return "exit status does not match the report", []
    return "ok", reasons


def category(reason):
    for key in ("truncated", "cannot read audio", "sample rate", "no samples", "needs about",
                "read error", "analysed", "a metric failed", "holds more audio", "length is not declared"):
        if key in reason:
            return key
    return reason.split(":")[0]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", help="the quarnelo program")
    parser.add_argument("--files", type=int, default=3000, help="damaged files to run (default 3000)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--batch", type=int, default=50, help="files per run of the tool")
    parser.add_argument("--timeout", type=float, default=300, help="seconds a run may take")
    parser.add_argument("--seeds", metavar="DIR", help="write the fuzz target's seed files to DIR and stop")
    args = parser.parse_args(argv)

    if args.seeds:
        os.makedirs(args.seeds, exist_ok=True)
        for name, data in every_format(0.01) + crafted():
            if name == "roughness_length.wav":
                continue  # the fuzz target computes the stationary loudness only
            with open(os.path.join(args.seeds, name), "wb") as f:
                f.write(data)
        return 0
    if not args.tool:
        parser.error("--tool is needed")

    rng = random.Random(args.seed)
    originals = every_format(0.25) + crafted()
    outcomes = collections.Counter()
    reasons = collections.Counter()
    formats = collections.Counter()
    with tempfile.TemporaryDirectory(prefix="quarnelo-mutate-") as tmp:
        made = 0
        while made < args.files:
            paths = []
            for i in range(min(args.batch, args.files - made)):
                name, data = rng.choice(originals)
                formats[name.split("_")[0]] += 1
                path = os.path.join(tmp, f"{made + i:05d}_{name}")
                with open(path, "wb") as f:
                    f.write(mutate(data, rng))
                paths.append(path)
            outcome, batch_reasons = run_batch(args.tool, paths, args.timeout)
            outcomes[outcome] += 1
            if outcome != "ok":
                print(f"batch of {paths[0]} ... : {outcome}", file=sys.stderr)
            for r in batch_reasons:
                reasons[category(r)] += 1
            for p in paths:
                os.remove(p)
            made += len(paths)
    print(f"{args.files} damaged files of {len(formats)} formats in {sum(outcomes.values())} runs")
    for outcome, n in sorted(outcomes.items()):
        print(f"  runs {outcome}: {n}")
    for reason, n in reasons.most_common():
        print(f"  files {reason}: {n}")
    return 0 if set(outcomes) == {"ok"} else 1


if __name__ == "__main__":
    sys.exit(main())
