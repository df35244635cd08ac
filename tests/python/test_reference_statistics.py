"""Every rolling statistic and derivatives metric, extras included, agrees with the plain-Python
reference in ``reference/statistics.py`` on long random series: random walks with flat runs,
spikes, sign changes, huge and tiny magnitudes, with invalid closes and invalid candles mixed in
(derivatives members read a random but valid tick feed)."""

from __future__ import annotations

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from agreement import (  # noqa: E402
    derivative_ticks,
    engine_rows,
    row_mismatches,
    seeded_walk_with_times,
)
from reference import statistics as ref  # noqa: E402

STEPS = 1500
# Price scales of the agreement test: everyday prices, large ones where absolute rounding is
# coarse, and both ends of the double range where products and differences overflow or underflow.
SCALES = (1.0, 1e9, 1e300, 1e-300)

# Small periods so that every window wraps (and re-anchors) many times. The quadratic members
# run on shorter series.
CASES = [
    ("StdDev", [7]), ("Variance", [5]), ("Variance", [1]), ("ZScore", [6]),
    ("CoefficientOfVariation", [8]), ("Skewness", [5]), ("Kurtosis", [6]), ("JarqueBera", [9]),
    ("DetrendedStdDev", [6]), ("StandardError", [7]), ("RSquared", [8]),
    ("LinearRegression", [9]), ("LinRegSlope", [5]), ("LinRegIntercept", [6]),
    ("LinRegAngle", [7]), ("Tsf", [8]), ("TsfOscillator", [6]), ("Cfo", [5]),
    ("Autocorrelation", [10, 3]), ("Autocorrelation", [6, 5]),
    ("HurstExponent", [24, 4]), ("HurstExponent", [9, 4]),
    ("SampleEntropy", [24, 2, 0.2]), ("SampleEntropy", [12, 1, 0.5]),
    ("ShannonEntropy", [12, 5]), ("RollingQuantile", [9, 0.3]), ("RollingQuantile", [4, 1.0]),
    ("RollingPercentileRank", [7]), ("RollingIqr", [8]), ("RollingIqr", [1]),
    ("MedianAbsoluteDeviation", [6]), ("MedianAbsoluteDeviation", [7]),
    ("RollingMinMaxScaler", [9]), ("LogReturn", [4]), ("LogReturn", [1]),
    ("PolarizedFractalEfficiency", [6, 3]), ("PolarizedFractalEfficiency", [3, 1]),
    ("CorrelationTrendIndicator", [10]), ("SeasonalZScore", [0]), ("SeasonalZScore", [-330]),
    ("FundingRate", []), ("FundingImpliedApr", [1095]), ("FundingRateMean", [6]),
    ("FundingRateZScore", [7]), ("FundingBasis", []), ("PerpetualPremiumIndex", []),
    ("TermStructureBasis", []), ("CalendarSpread", []), ("OpenInterestDelta", []),
    ("OpenInterestMomentum", [5]), ("OIPriceDivergence", [1]), ("OIPriceDivergence", [4]),
    ("OIWeighted", []), ("OiToVolumeRatio", []), ("EstimatedLeverageRatio", []),
    ("LongShortRatio", []), ("TakerBuySellRatio", []), ("LiquidationFeatures", []),
]
QUADRATIC = {"SampleEntropy": 400, "HurstExponent": 800}


def compare(name, params, seed, steps, scale=None):
    candles = seeded_walk_with_times(seed, steps, scale)
    derivs = derivative_ticks(seed, steps) if name in ref.DERIVS else None
    extras = list(ref.EXTRAS.get(name, ()))
    want = ref.run(name, params, candles, derivs)
    doc = {"candles": [list(c) for c in candles]}
    if derivs is not None:
        doc["derivs"] = derivs
    got = engine_rows(name, params, extras, doc)
    assert len(got) == len(candles)
    return row_mismatches(got, want, extras)


@pytest.mark.parametrize("name,params", CASES, ids=["%s%s" % c for c in CASES])
def test_agrees_with_reference(name, params):
    steps = QUADRATIC.get(name, STEPS)
    for seed, scale in enumerate(SCALES):
        bad = compare(name, params, seed, steps, scale)
        assert not bad, "scale %g: %d disagreements, first %s" % (scale, len(bad), bad[:5])


if __name__ == "__main__":
    # Wider sweep for investigation: python test_reference_statistics.py [seeds] [steps]
    seeds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    steps = int(sys.argv[2]) if len(sys.argv) > 2 else STEPS
    for name, params in CASES:
        for seed in range(seeds):
            bad = compare(name, params, seed, QUADRATIC.get(name, steps))
            if bad:
                print(name, params, "seed", seed, len(bad), bad[:3])
