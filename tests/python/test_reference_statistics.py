"""Every rolling statistic and derivatives metric, extras included, agrees with the plain-Python
reference in ``reference/statistics.py`` on long random series: random walks with flat runs,
spikes, sign changes, huge and tiny magnitudes, with invalid closes and invalid candles mixed in
(derivatives members read a random but valid tick feed)."""

from __future__ import annotations

import importlib.util
import json
import math
import os
import random
import sys

import pytest

from ostrel_feature_store._ostrel_feature_store import FeatureStore

# Loaded by path: the module's name would otherwise collide with the standard library's.
_spec = importlib.util.spec_from_file_location(
    "reference_statistics", os.path.join(os.path.dirname(__file__), "reference", "statistics.py"))
ref = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(ref)

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


def series(seed: int, steps: int, scale: float | None = None):
    """(ts, open, high, low, close, volume) candles. Timestamps advance by uneven steps across
    days (some before the epoch); about 3% of the candles are invalid. Documents cannot carry a
    non-finite close, so the close members' rejection of one is left to the engine's own tests."""
    rng = random.Random(seed)
    scale = scale or rng.choice([1e-300, 1e-6, 1.0, 250.0, 1e9, 1e150, 1e300])
    price, flat, ts = scale, 0, rng.randrange(-10**9, 10**9) * 1000
    out = []
    for _ in range(steps):
        ts += rng.choice([60_000, 3_600_000, 5_400_000, 1, 999])
        r = rng.random()
        if flat > 0:
            flat -= 1
        elif r < 0.03:
            flat = rng.randint(3, 40)
        elif r < 0.04:
            price *= rng.choice([8.0, 0.1, -1.0, 1e6, 1e-6])
        elif r < 0.045:
            price = 0.0
        elif price == 0.0:
            price = scale * rng.uniform(0.5, 1.5)
        else:
            price += abs(price) * rng.gauss(0.0, 0.02) + scale * rng.gauss(0.0, 0.002)
        price = max(-1.7e308, min(price, 1.7e308))  # documents hold finite numbers only
        o = out[-1][4] if out and rng.random() < 0.7 and math.isfinite(out[-1][4]) else price
        if flat > 0:
            o = price
        spread = 0.0 if flat > 0 else abs(price - o) * rng.random() + scale * 0.01 * rng.random()
        hi, lo = max(o, price) + spread, min(o, price) - spread
        vol = 0.0 if rng.random() < 0.05 else rng.uniform(0.0, 1e4)
        bad = rng.random()
        if bad < 0.02:
            hi, lo = lo - abs(lo) - 1.0, hi + abs(hi) + 1.0
        elif bad < 0.03:
            vol = -1.0
        hi, lo = (max(-1.7e308, min(v, 1.7e308)) for v in (hi, lo))
        out.append((ts, o, hi, lo, price, vol))
    return out


FIELDS = ["funding_rate", "mark_price", "index_price", "futures_price", "open_interest",
          "long_size", "short_size", "taker_buy_volume", "taker_sell_volume", "long_liquidation",
          "short_liquidation"]


def ticks(seed: int, steps: int):
    """Valid derivatives ticks with zero stretches in every non-negative field."""
    rng = random.Random(seed * 7919)
    mark, oi = 100.0, 1e6
    out = []
    for i in range(steps):
        mark *= math.exp(rng.gauss(0, 0.01))
        oi = 0.0 if rng.random() < 0.03 else max(0.0, oi * math.exp(rng.gauss(0, 0.05)) + 1.0)
        zero = lambda x: 0.0 if rng.random() < 0.05 else x  # noqa: E731
        t = {
            "funding_rate": 0.0001 if rng.random() < 0.2 else rng.gauss(0, 1e-4),
            "mark_price": mark,
            "index_price": mark * (1 + rng.gauss(0, 1e-3)),
            "futures_price": mark * (1 + rng.gauss(0, 5e-3)),
            "open_interest": oi,
            "long_size": zero(rng.uniform(0, 1e5)), "short_size": zero(rng.uniform(0, 1e5)),
            "taker_buy_volume": zero(rng.uniform(0, 1e3)),
            "taker_sell_volume": zero(rng.uniform(0, 1e3)),
            "long_liquidation": zero(zero(rng.expovariate(1e-3))),
            "short_liquidation": zero(zero(rng.expovariate(1e-3))),
        }
        t["timestamp"] = i
        out.append(t)
    return out


def fmt(x) -> str:
    return ("%r" % float(x)) if not float(x).is_integer() else str(int(x))


def engine(name, params, extras, candles, derivs):
    key = "%s(%s)" % (name, ",".join(fmt(p) for p in params))
    feats = [{"kind": "indicator", "name": name, "params": params}]
    feats += [{"kind": "indicator", "name": name, "params": params, "field": e} for e in extras]
    store = FeatureStore(json.dumps({"universe": ["A"], "features": feats}))
    doc = {"candles": [list(c) for c in candles]}
    if derivs is not None:
        doc["derivs"] = derivs
    cmd = json.dumps({"cmd": "build_batch", "data": {"A": doc}})
    out = json.loads(store.command(cmd))
    assert out.get("columns") == [key] + ["%s.%s" % (key, e) for e in extras], out
    return out["data"]


def agrees(got, want) -> bool:
    if want is None or not math.isfinite(want):
        return got is None
    if got is None:
        return False
    # the renderer rounds to a multiple of 1e-8
    return abs(got - want) <= 0.5e-8 * (1 + 1e-9) + 1e-9 * abs(want)


def compare(name, params, seed, steps, scale=None):
    candles = series(seed, steps, scale)
    derivs = ticks(seed, steps) if name in ref.DERIVS else None
    extras = list(ref.EXTRAS.get(name, ()))
    want = ref.run(name, params, candles, derivs)
    got = engine(name, params, extras, candles, derivs)
    assert len(got) == len(candles)
    bad = []
    for i, (g, w) in enumerate(zip(got, want)):
        for col, field in enumerate([""] + extras):
            if not agrees(g[col], None if w is None else w[field]):
                bad.append((i, field or "value", g[col], None if w is None else w[field]))
    return bad


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
