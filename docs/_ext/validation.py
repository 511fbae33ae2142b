"""The validation report: every reference case of the library, run while the
manual is built.

``.. validation-report::`` runs ``qn_reference_cases`` (built from the test
suite's sources) over the table ``tests/reference/cases.md``, the one the
suite checks, and shows for each metric a table of its cases (expected, got,
difference, tolerance) and a figure. A case outside its tolerance, or one
that cannot run, fails the build.
"""

import json
import os
import subprocess

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles

from quarnelo_docs import _failure, _image

# The metrics of the report, in its order: the table's name for the metric,
# the section's title, and what its cases stand on. Every metric of the table
# must be listed here and every one listed must have rows (the build fails
# otherwise), so a new metric's rows and its section come together.
METRICS = [
    ("loudness", "Loudness (ISO 532-1)",
     "Stationary loudness from third-octave levels and from a signal: the method's values for a tone band "
     "and for a flat spectrum in both sound fields, and the definition of the sone (40 phon is 1 sone)."),
    ("loudness-time", "Time-varying loudness (ISO 532-1)",
     "The first frames of a short tone, which exercise the filters, the temporal decay and the weighting."),
    ("sharpness", "Sharpness (DIN 45692)",
     "The definition of the acum (noise one critical band wide at 1 kHz, 60 dB) through the stationary "
     "loudness of the signal, and the weighting at both ends of the critical-band rate."),
    ("roughness-dw", "Roughness (Daniel & Weber)",
     "The definition of the asper: a 1 kHz tone of 60 dB fully amplitude-modulated at 70 Hz, in every frame."),
    ("tonality-aures", "Tonality (Aures)",
     "The unit (a 1 kHz tone of 60 dB) and the frequency weighting at 3 kHz, in every frame."),
    ("tonality-ecma", "Tonality (ECMA-418-2)",
     "The calibration tone of 40 dB at 1 kHz, its band and its tonal frequency, in every frame once steady."),
    ("roughness-ecma", "Roughness (ECMA-418-2)",
     "The calibration tone: 1 kHz of 60 dB fully modulated at 70 Hz, from 0.3 s on and once settled."),
    ("loudness-ecma", "Loudness (ECMA-418-2)",
     "The calibration tone of 40 dB at 1 kHz (1 sone_HMS) and an analyser's values for it and for a "
     "modulated tone."),
    ("fluctuation-ecma", "Fluctuation strength (ECMA-418-2)",
     "The calibration sound (1 kHz of 60 dB overall fully modulated at 4 Hz, 10 s: 1 vacil_HMS), its bands "
     "and an analyser's value at 9 Bark; an unmodulated tone and silence, which do not fluctuate."),
]

# Metrics still to join the report, with the reference cases they bring.
# When a metric lands, add its rows to tests/reference/cases.md and move its
# entry up to METRICS.
PENDING = [
    ("levels", "Sound levels (IEC 61672-1) and third-octave band levels",
     "a 1 kHz tone of 94 dB: 94 dB with every frequency weighting; the weightings' table values"),
]

BASIS = {
    "calibration": "the unit's definition: the reference sound has the value 1",
    "method": "the method computed to rounding (another mathematical library may move the last digits)",
    "analyser": "a commercial analyser's published result for the signal",
}


def _number(v):
    if v is None:
        return "—"
    return str(int(v)) if float(v).is_integer() and abs(v) < 1e15 else repr(float(v))


class ValidationReport(SphinxDirective):
    def run(self):
        program, table = self.config.quarnelo_reference_cases, os.path.join(
            self.config.quarnelo_source_dir, "tests", "reference", "cases.md")
        done = subprocess.run([program, table], capture_output=True, text=True, timeout=900)
        try:
            cases = json.loads(done.stdout)
        except json.JSONDecodeError:
            return _failure(self, f"qn_reference_cases gave no report (exit {done.returncode}): {done.stderr}")
        problems = [f"{c['metric']}, {c['case']} (cases.md line {c['line']}): "
                    + (c["error"] or f"expected {c['expected']}, got {c['got']} (tolerance {c['tolerance']})")
                    for c in cases if not (c["ran"] and c["pass"])]
        names = [m[0] for m in METRICS]
        problems += [f"metric '{m}' of cases.md has no section in validation.py's METRICS"
                     for m in sorted({c["metric"] for c in cases} - set(names))]
        problems += [f"metric '{m}' of METRICS has no rows in cases.md" for m in names
                     if not any(c["metric"] == m for c in cases)]
        if problems or done.returncode != 0:
            return _failure(self, "reference cases outside their tolerance:\n" + "\n".join(problems))

        rst = [".. list-table::", "   :header-rows: 1", "   :class: validation-summary", "",
               "   * - Metric", "     - Cases", "     - Met", "     - Largest share of a tolerance used"]
        for name, title, _ in METRICS:
            rows = [c for c in cases if c["metric"] == name]
            rst += [f"   * - :ref:`{title} <validation-{name}>`", f"     - {len(rows)}",
                    f"     - {sum(c['pass'] for c in rows)}", f"     - {_share(rows)}"]
        rst.append("")
        for name, title, text in METRICS:
            rows = [c for c in cases if c["metric"] == name]
            rst += [f".. _validation-{name}:", "", title, "-" * len(title), "", text, ""]
            rst += [".. list-table::", "   :header-rows: 1", "   :class: validation",
                    "   :widths: 3 27 14 14 20 8 8 6", "",
                    "   * - #", "     - Case", "     - Quantity", "     - Expected", "     - Got",
                    "     - Difference", "     - Tolerance", "     - Basis"]
            for k, c in enumerate(rows, 1):
                got = _number(c["got"]) + (f" ({c['where']})" if c["first"] != c["last"] else "")
                rst += [f"   * - {k}", f"     - {_text(c['case'])}", f"     - ``{c['quantity']}``",
                        f"     - {_number(c['expected'])}", f"     - {got}", f"     - {c['difference']:.2g}",
                        f"     - {c['tolerance']}", f"     - {c['basis']}"]
            rst += ["", f".. validation-figure:: {name}", ""]
        node = nodes.section()
        node.document = self.state.document
        self.env.app.quarnelo_validation = cases
        nested_parse_with_titles(self.state, StringList(rst, source="validation report"), node)
        return node.children


def _share(rows):
    shares = [abs(c["difference"]) / c["allowed"] for c in rows if c["allowed"] > 0]
    exact = all(c["difference"] == 0 for c in rows if c["allowed"] == 0)
    text = f"{max(shares):.0%}" if shares else "—"
    return text + ("" if exact else " (an exact case differs)")


def _text(s):
    for ch in "\\*`|_":
        s = s.replace(ch, "\\" + ch)
    return s


class ValidationFigure(SphinxDirective):
    """The figure of one metric: on the left the series of its first case
    that reads one, with every case of the metric read from that series (a
    range of frames as a band around the expected value, one element as a
    point with its tolerance), on the right how much of each case's
    tolerance the library uses."""

    required_arguments = 1

    def run(self):
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        name = self.arguments[0]
        rows = [c for c in self.env.app.quarnelo_validation if c["metric"] == name]
        first = next((c for c in rows if c["x"]), None)
        fig, axes = plt.subplots(1, 2 if first else 1, figsize=(10 if first else 5.5, 3.4), squeeze=False)
        axes = axes[0]
        if first:
            ax = axes[0]
            same = [c for c in rows if c["x"] and c["signal"] == first["signal"] and c["call"] == first["call"]
                    and c["quantity"].split(" frame")[0] == first["quantity"].split(" frame")[0]]
            x, y = first["x"], first["y"]
            ax.plot(x, y, color="C0", linewidth=1.2, label="the library")
            for k, c in enumerate(same):
                e, a = c["expected"], c["allowed"]
                label = "expected, with its tolerance" if k == 0 else None
                if c["first"] != c["last"]:
                    lo, hi = x[c["first"]], x[c["last"]]
                    ax.fill_between([lo, hi], [e - a] * 2, [e + a] * 2, color="C2", alpha=0.25, label=label)
                else:
                    ax.errorbar([x[c["first"]]], [e], yerr=[a], fmt="s", color="C2", markersize=5,
                                capsize=3, label=label)
                ax.plot([x[c["marked"]]], [y[c["marked"]]], ".", color="C3", markersize=6,
                        label="compared (the worst of a range)" if k == 0 else None)
            ax.set_xlabel(f"{first['axis']} / {first['axis_unit']}")
            quantity = first["quantity"].split()[0]
            ax.set_ylabel(quantity + (f" / {first['unit']}" if first["unit"] else ""))
            ax.set_title(first["case"].split(":")[0], fontsize=9)
            ax.grid(True, alpha=0.3)
            ax.legend(fontsize=7, loc="best")
        ax = axes[-1]
        floor = 1e-7
        shares, colours = [], []
        for c in rows:
            exact = c["allowed"] == 0 or c["difference"] == 0
            share = abs(c["difference"]) / c["allowed"] if c["allowed"] > 0 else (0.0 if c["difference"] == 0 else 10)
            shares.append(max(share, 2 * floor) if not exact else 2 * floor)
            colours.append("0.6" if exact and share == 0 else "C2" if share <= 1 else "C3")
        labels = [f"#{k}" for k in range(1, len(rows) + 1)]
        ax.barh(labels[::-1], shares[::-1], left=floor, color=colours[::-1])
        ax.axvline(1.0, color="C3", linewidth=1)
        ax.set_xscale("log")
        ax.set_xlim(floor, 2)
        ax.set_xlabel("|got − expected| / tolerance (grey: met exactly)")
        ax.set_title("Share of each case's tolerance used", fontsize=9)
        ax.grid(True, axis="x", alpha=0.3)
        fig.tight_layout()
        path = os.path.join(self.config.quarnelo_figure_dir, f"validation-{name}.png")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        fig.savefig(path, dpi=96)
        plt.close(fig)
        return _image(self, path)


def setup(app):
    here = os.path.dirname(os.path.abspath(__file__))
    app.add_config_value("quarnelo_reference_cases",
                         os.path.join(here, "..", "..", "build", "tests", "qn_reference_cases"), "env")
    app.add_directive("validation-report", ValidationReport)
    app.add_directive("validation-figure", ValidationFigure)
    return {"version": "1", "parallel_read_safe": False}
