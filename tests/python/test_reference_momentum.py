"""Every momentum oscillator, extras included, agrees with the plain-Python reference on long
random series: random walks with flat runs, spikes, zero and negative stretches and several price
scales, with invalid candles mixed in."""

from __future__ import annotations

import json
import math
import os
import random
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from ostrel_feature_store._ostrel_feature_store import FeatureStore  # noqa: E402
from reference import momentum as ref  # noqa: E402

STEPS = 2000

# Small periods so that every window wraps many times, and the shortest lengths where they differ.
CASES = [
    ("Mom", [3]), ("Roc", [3]), ("Rocp", [4]), ("Rocr", [2]), ("Rocr100", [5]),
    ("Rsi", [5]), ("Rsi", [1]), ("Rsx", [6]), ("Rmi", [5, 3]), ("ConnorsRsi", [3, 2, 20]),
    ("LaguerreRsi", [0.5]), ("LaguerreRsi", [0.85]), ("AnchoredRsi", []), ("AdaptiveRsi", [6]),
    ("FisherRsi", [5]), ("StochRsi", [5, 7]), ("Qqe", [4, 3, 4.236]), ("Cmo", [7]),
    ("DynamicMomentumIndex", [14]), ("IntradayMomentumIndex", [6]), ("Tii", [8, 5]),
    ("MacdIndicator", [3, 7, 4]), ("Macd", [5, 9, 3]), ("MacdFix", [4]), ("MacdHistogram", [3, 7, 4]),
    ("ZeroLagMacd", [4, 9, 5]), ("VolumeWeightedMacd", [3, 7, 4]), ("Ppo", [3, 8]),
    ("PpoHistogram", [3, 8, 4]), ("Apo", [4, 9]), ("Pmo", [5, 3]), ("Trix", [4]),
    ("Kst", [2, 3, 4, 5, 3, 3, 4, 5, 4]), ("Coppock", [5, 3, 4]), ("Tsi", [6, 3]),
    ("DerivativeOscillator", [5, 4, 3, 4]), ("Stc", [3, 8, 5, 0.5]), ("WavePm", [4, 6]),
    ("DisparityIndex", [6]), ("Dpo", [7]), ("Dpo", [1]),
]


def series(seed: int, steps: int = STEPS):
    """(open, high, low, close, volume) candles; about 3% are invalid."""
    rng = random.Random(seed)
    scale = rng.choice([1e-3, 1.0, 250.0, 1e7])
    price = scale
    out = []
    flat = 0
    for i in range(steps):
        r = rng.random()
        if flat > 0:
            flat -= 1
        elif r < 0.03:
            flat = rng.randint(3, 40)  # flat run: long enough to empty whole windows
        elif r < 0.04:
            price *= rng.choice([8.0, 0.1, -1.0])  # spike or sign flip
        elif r < 0.045:
            price = 0.0
        elif price == 0.0:
            price = scale * rng.uniform(0.5, 1.5)
        else:
            price += abs(price) * rng.gauss(0.0, 0.02) + scale * rng.gauss(0.0, 0.002)
        o = out[-1][3] if out and rng.random() < 0.7 else price
        if flat > 0:
            o = price
        spread = 0.0 if flat > 0 else abs(price - o) * rng.random() + scale * 0.01 * rng.random()
        hi, lo = max(o, price) + spread, min(o, price) - spread
        vol = 0.0 if rng.random() < 0.05 else rng.uniform(0.0, 1e4)
        if i > 0 and rng.random() < 0.03:
            bad = rng.randrange(3)
            if bad == 0:
                hi, lo = lo - 1.0, hi + 1.0
            elif bad == 1:
                vol = -1.0
            else:
                hi = price - abs(price) * 0.5 - 1.0
            out.append((o, hi, lo, price, vol))
            continue
        out.append((o, hi, lo, price, vol))
    return out


def fmt(x) -> str:
    return ("%r" % float(x)) if not float(x).is_integer() else str(int(x))


def engine(name, params, extras, candles):
    key = "%s(%s)" % (name, ",".join(fmt(p) for p in params))
    feats = [{"kind": "indicator", "name": name, "params": params}]
    feats += [{"kind": "indicator", "name": name, "params": params, "field": e} for e in extras]
    store = FeatureStore(json.dumps({"universe": ["A"], "features": feats}))
    doc = {"A": [[i, o, h, lo, c, v] for i, (o, h, lo, c, v) in enumerate(candles)]}
    out = json.loads(store.command(json.dumps({"cmd": "build_batch", "data": doc})))
    assert out["columns"] == [key] + ["%s.%s" % (key, e) for e in extras]
    return out["data"]


def agrees(got, want) -> bool:
    if want is None or not math.isfinite(want):
        return got is None
    if got is None:
        return False
    # the renderer rounds to a multiple of 1e-8
    return abs(got - want) <= 0.5e-8 * (1 + 1e-9) + 1e-9 * abs(want)


def compare(name, params, seed, steps=STEPS):
    candles = series(seed, steps)
    _factory, _kind, extras = ref.MEMBERS[name]
    want = ref.run(name, params, candles)
    got = engine(name, params, list(extras), candles)
    assert len(got) == len(candles)
    bad = []
    for i, (g, w) in enumerate(zip(got, want)):
        for col, field in enumerate(("",) + tuple(extras)):
            if not agrees(g[col], w[field]):
                bad.append((i, field or "value", g[col], w[field]))
    return bad


@pytest.mark.parametrize("name,params", CASES, ids=["%s%s" % c for c in CASES])
def test_agrees_with_reference(name, params):
    for seed in (0, 1, 5):  # price scales 1e7, 1 and 250
        bad = compare(name, params, seed)
        assert not bad, "seed %d: %d disagreements, first %s" % (seed, len(bad), bad[:5])


if __name__ == "__main__":
    # Wider sweep for investigation: python test_reference_momentum.py [seeds] [steps]
    seeds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    steps = int(sys.argv[2]) if len(sys.argv) > 2 else STEPS
    for name, params in CASES:
        for seed in range(seeds):
            bad = compare(name, params, seed, steps)
            if bad:
                print(name, params, "seed", seed, len(bad), bad[:3])
