"""The speed page: a fixed selection of the benchmarks (bench/), run once on
the machine that builds the manual.

``.. speed-report::`` runs ``quarnelo_bench`` on the cases of ``SELECTION``
(each in a process of its own, one run of at least ``MIN_TIME`` seconds; no
repetitions, so the figures carry the noise of a shared machine) and shows the processor, the
load, and for each function its time per call, how many times faster than
real time it is and the memory it held. ``make bench`` runs every benchmark
with repetitions, for figures to quote.
"""

import json
import os
import platform
import subprocess

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.util.docutils import SphinxDirective

from quarnelo_docs import _failure

# The benchmark, the function it times and on what. Signals are 1 kHz
# tones, fully modulated at 70 Hz, over pink noise.
SELECTION = [
    ("BM_LoudnessFromLevels/0", "qn_loudness_from_levels", "28 band levels, free field"),
    ("BM_SharpnessDin", "qn_sharpness_din", "one 240-value pattern"),
    ("BM_LoudnessStationary60s", "qn_loudness_stationary", "60 s"),
    ("BM_LoudnessTime60s", "qn_loudness_time", "60 s, every frame's pattern"),
    ("BM_RoughnessDw60s", "qn_roughness_dw", "60 s"),
    ("BM_TonalityAures/signal:0/seconds:60", "qn_tonality_aures", "60 s"),
    ("BM_TonalityEcma/6", "qn_ecma_tonal_analysis", "6 s"),
    ("BM_RoughnessEcma6s", "qn_roughness_ecma", "6 s"),
    ("BM_LoudnessEcma/6", "qn_loudness_ecma", "6 s"),
]
MIN_TIME = 0.1

# Memory counters of the benchmarks, and how to show them.
MEMORY = {"heap_kB": ("heap", 1e3), "heap_MB": ("heap", 1e6), "peak_MiB": ("heap", 2 ** 20),
          "work_MiB": ("resident growth", 2 ** 20)}


def _processor():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            info = f.read()
    except OSError:
        return platform.processor() or platform.machine(), []
    model = next((line.split(":", 1)[1].strip() for line in info.splitlines() if line.startswith("model name")),
                 platform.machine())
    flags = next((line.split(":", 1)[1].split() for line in info.splitlines() if line.startswith("flags")), [])
    return model, [f for f in ("avx2", "fma", "avx512f") if f in flags]


def _bytes(n):
    for unit, size in (("GB", 1e9), ("MB", 1e6), ("kB", 1e3)):
        if n >= size:
            return f"{n / size:.3g} {unit}"
    return f"{n:.0f} B"


def _time(seconds):
    for unit, size in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= size:
            return f"{seconds / size:.3g} {unit}"
    return f"{seconds * 1e9:.3g} ns"


class SpeedReport(SphinxDirective):
    def run(self):
        # Each case in a process of its own, so that its memory is its own.
        runs, context = {}, None
        for name, _, _ in SELECTION:
            command = [self.config.quarnelo_bench, f"--benchmark_filter=^{name}$",
                       f"--benchmark_min_time={MIN_TIME}", "--benchmark_format=json"]
            done = subprocess.run(command, capture_output=True, text=True, timeout=900)
            try:
                report = json.loads(done.stdout)
            except json.JSONDecodeError:
                return _failure(self, f"quarnelo_bench gave no report for {name} (exit {done.returncode}): "
                                      f"{done.stderr}")
            context = report["context"]
            runs.update((b["name"], b) for b in report["benchmarks"] if b.get("run_type") == "iteration")
            if name not in runs or done.returncode != 0 or runs[name].get("error_occurred"):
                return _failure(self, f"benchmark {name} did not run: {done.stderr}")

        model, flags = _processor()
        load = context.get("load_avg") or []
        rst = [f"Measured while this manual was built, on **{_escape(model)}** "
               f"({context['num_cpus']} logical cores at {context['mhz_per_cpu']} MHz"
               + (f"; vector paths {', '.join(flags)}" if flags else "") + ")"
               + (f", with a load average of {load[0]:.1f}" if load else "")
               + f", one thread, the library of this build ({self.config.quarnelo_build_type}).", "",
               ".. list-table::", "   :header-rows: 1", "   :class: speed", "",
               "   * - Function", "     - Signal", "     - Time per call", "     - Faster than real time",
               "     - Memory held"]
        for name, function, signal in SELECTION:
            b = runs[name]
            seconds = b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
            realtime = f"{b['x_realtime']:.3g}×" if "x_realtime" in b else "—"
            memory = "—"
            for counter, (what, scale) in MEMORY.items():
                if counter in b:
                    memory = f"{_bytes(b[counter] * scale)} ({what})"
            rst += [f"   * - ``{function}``", f"     - {signal}", f"     - {_time(seconds)}",
                    f"     - {realtime}", f"     - {memory}"]
        container = nodes.container()
        self.state.nested_parse(StringList(rst, source="speed report"), self.content_offset, container)
        return container.children


def _escape(text):
    for ch in "\\*`|_":
        text = text.replace(ch, "\\" + ch)
    return text


def setup(app):
    here = os.path.dirname(os.path.abspath(__file__))
    app.add_config_value("quarnelo_bench", os.path.join(here, "..", "..", "build", "bench", "quarnelo_bench"), "env")
    app.add_config_value("quarnelo_build_type", "", "env")
    app.add_directive("speed-report", SpeedReport)
    return {"version": "1", "parallel_read_safe": False}
