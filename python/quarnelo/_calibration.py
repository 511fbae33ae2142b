"""Sample values to sound pressure in pascal, as the command-line tool
calibrates (tools/cli/calibration.cpp): the same checks, the same formulas
evaluated in the same order, the same descriptions.
"""

import math
from dataclasses import dataclass

import numpy as np

REFERENCE_PRESSURE = 20e-6  # Pa, 0 dB SPL

# The values a calibration may take; beyond them lie typing errors, not
# measurement chains.
MIN_PA_PER_UNIT = 1e-9
MAX_PA_PER_UNIT = 1e9
MIN_LEVEL_DB = 0.0
MAX_LEVEL_DB = 200.0


def check_pa_per_unit(option, value):
    """Empty when `value` is a usable pascal per unit, else the reason
    naming `option`."""
    if math.isfinite(value) and MIN_PA_PER_UNIT <= value <= MAX_PA_PER_UNIT:
        return ""
    return "%s must lie between %g and %g Pa, not %g" % (option, MIN_PA_PER_UNIT, MAX_PA_PER_UNIT, value)


def check_level(option, value):
    """Empty when `value` is a usable level in dB SPL, else the reason."""
    if math.isfinite(value) and MIN_LEVEL_DB <= value <= MAX_LEVEL_DB:
        return ""
    return "%s must lie between %g and %g dB SPL, not %g" % (option, MIN_LEVEL_DB, MAX_LEVEL_DB, value)


def pressure_of_level(spl_db):
    """20 µPa · 10^(L / 20): the RMS pressure in Pa of a level in dB SPL."""
    return REFERENCE_PRESSURE * 10.0 ** (spl_db / 20.0)


@dataclass(frozen=True)
class Calibration:
    """Pa per sample unit, by channel of a calibrator recording (one value
    for the other kinds); `kind` is "pa-per-unit", "full-scale-spl" or
    "calibrator"."""

    kind: str = "pa-per-unit"
    factors: tuple = (1.0,)
    spl_db: float = 0.0
    file: str = ""

    def factor(self, channel):
        """The factor of a channel (from 0); channel 0's for channels the
        calibrator recording does not have."""
        return self.factors[channel] if channel < len(self.factors) else self.factors[0]

    def describe(self, channel):
        """The tool's text: "pa-per-unit 1", "full-scale-spl 94 dB (...)",
        "calibrator FILE at 94 dB (...)"."""
        factor = self.factor(channel)
        if self.kind == "full-scale-spl":
            return "full-scale-spl %.6g dB (%.9g Pa per unit)" % (self.spl_db, factor)
        if self.kind == "calibrator":
            return "calibrator %s at %.6g dB (%.9g Pa per unit)" % (self.file, self.spl_db, factor)
        return "pa-per-unit %.9g" % factor


def pa_per_unit(value):
    return Calibration("pa-per-unit", (float(value),))


def full_scale(spl_db):
    """A full-scale sine (peak 1.0, RMS 1/√2) has `spl_db` dB SPL."""
    return Calibration("full-scale-spl", (pressure_of_level(spl_db) * math.sqrt(2.0),), float(spl_db))


def rms(x):
    """Root mean square, summed in sample order as the tool sums (numpy's
    sum is pairwise); NaN for no samples."""
    x = np.asarray(x, dtype=np.float64)
    return math.sqrt(float(np.cumsum(x * x)[-1]) / x.size) if x.size else math.nan


def _clipped_run(x):
    # The longest run of samples at the channel's peak magnitude when that
    # peak lies at full scale (0.99 and above): a clipped recording holds
    # its peak for several samples, a sine never does.
    magnitude = np.abs(x)
    peak = float(np.max(magnitude)) if magnitude.size else 0.0
    if peak < 0.99:
        return 0
    at_peak = np.concatenate(([False], magnitude == peak, [False]))
    edges = np.flatnonzero(np.diff(at_peak.astype(np.int8)))
    return int((edges[1::2] - edges[::2]).max()) if edges.size else 0


def calibrator(channels, file, spl_db):
    """From a calibrator recording of `spl_db` dB SPL, one array per
    channel: each channel's RMS gives its factor. ValueError with the tool's
    reason when the recording cannot be used: a channel is silent, not
    finite, or clipped."""
    factors = []
    for number, x in enumerate(channels, start=1):
        where = f"calibration file {file}: channel {number}"
        x = np.asarray(x, dtype=np.float64)
        level = rms(x)
        if not math.isfinite(level):
            raise ValueError(f"{where} holds NaN or infinite samples")
        if level <= 0:
            raise ValueError(f"{where} is silent")
        run = _clipped_run(x)
        if run >= 3:
            raise ValueError(f"{where} is clipped: {run} samples in a row at full scale; "
                             "record the calibrator at a lower gain")
        factors.append(pressure_of_level(spl_db) / level)
    return Calibration("calibrator", tuple(factors), float(spl_db), file)
