"""The volatility estimators of the engine against the plain reference implementation in
``reference/volatility.py``, on long random series with invalid steps mixed in.

Values pass through the renderer, which rounds to 1e-8; cells agree to 1e-9 relative plus one
rendering step."""

from __future__ import annotations

import json
import math
import os
import random
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from ostrel_feature_store._ostrel_feature_store import FeatureStore  # noqa: E402
from reference import volatility as ref  # noqa: E402

CASES = [
    ("TrueRange", []), ("Atr", [14]), ("Atr", [1]), ("Natr", [7]), ("HighLowRange", []),
    ("VolatilityRatio", [10]), ("VolatilityRatio", [1]),
    ("AverageDailyRange", [5, 0]), ("AverageDailyRange", [3, -330]), ("AverageDailyRange", [1, 600]),
    ("ChaikinVolatility", [10, 10]), ("ChaikinVolatility", [1, 1]),
    ("MassIndex", [9, 25]), ("MassIndex", [1, 1]),
    ("HistoricalVolatility", [20, 252]), ("HistoricalVolatility", [2, 365]),
    ("RealizedVolatility", [20]), ("RealizedVolatility", [1]),
    ("BipowerVariation", [20]), ("BipowerVariation", [2]),
    ("JumpIndicator", [20, 2.5]), ("JumpIndicator", [2, 0.5]),
    ("EwmaVolatility", [0.94]), ("Garch11", [1e-6, 0.1, 0.85]),
    ("VolatilityOfVolatility", [10, 20]), ("VolatilityOfVolatility", [2, 2]),
    ("RviVolatility", [10]), ("RviVolatility", [2]),
    ("ParkinsonVolatility", [20, 252]), ("ParkinsonVolatility", [1, 1]),
    ("GarmanKlassVolatility", [20, 252]), ("RogersSatchellVolatility", [20, 252]),
    ("YangZhangVolatility", [20, 252]), ("YangZhangVolatility", [2, 12]),
    ("VolatilityCone", [10, 20]), ("VolatilityCone", [5, 25]), ("VolatilityCone", [2, 2]),
]
EXTRAS = {"VolatilityCone": ["current", "min", "median", "max", "percentile"]}


def random_candles(rng: random.Random, steps: int) -> list[list]:
    """A multiplicative random walk with flat runs, spikes, jumps between magnitudes (up to
    where squared deviations or ratios of closes overflow), gaps between close and next open,
    timestamps that sometimes go back or cross midnight before 1970, and invalid steps: candles
    with low above high (accepted by close-input members, rejected by candle-input ones),
    zero and negative closes, and valid candles whose range overflows. (Non-finite closes cannot
    be written in JSON; the engine's own contract tests cover them.)"""
    out = []
    x = 1.0
    ts = -3 * 86_400_000 - 777
    flat = 0
    for _ in range(steps):
        ts += rng.choice([60_000, 900_000, 3_600_000, 14_400_000, 86_400_000 + 1])
        if rng.random() < 0.01:
            ts -= rng.randint(1, 3 * 86_400_000)
        if rng.random() < 0.01:
            x = rng.choice([1e-300, 1e-6, 1.0, 1e8, 1e150, 1e300]) * rng.uniform(0.5, 2)
        if flat:
            flat -= 1
            out.append([ts, x, x, x, x, 0.0])
            continue
        if rng.random() < 0.02:
            flat = rng.randint(2, 30)
        o = x * math.exp(rng.gauss(0, 0.003))
        c = o * math.exp(rng.gauss(0, 0.01) + (rng.choice([-1, 1]) * 0.2 if rng.random() < 0.01 else 0))
        h = max(o, c) * (1 + abs(rng.gauss(0, 0.004)))
        lo = min(o, c) * (1 - abs(rng.gauss(0, 0.004)))
        if rng.random() < 0.3:
            h, lo = max(o, c), min(o, c)
        x = c
        u = rng.random()
        if u < 0.03:
            h, lo = lo * 0.99, h * 1.01
        elif u < 0.033:
            h, lo = 1.5e308, -1.5e308
        elif u < 0.04:
            c = rng.choice([0.0, -x])
            lo = min(lo, c)
            o = min(o, h)
        out.append([ts, o, h, lo, c, rng.expovariate(1e-3)])
    return out


def render(x: float | None) -> float | None:
    if x is None or not math.isfinite(x):
        return None
    q = abs(x / 1e-8)
    if math.isinf(q):
        return x
    r = math.floor(q)
    if q - r >= 0.5:
        r += 1.0
    return math.copysign(r, x) * 1e-8


def engine_columns(features: list[dict], candles: list[list]) -> list[list[float | None]]:
    store = FeatureStore(json.dumps({"universe": ["A"], "features": features}))
    out = json.loads(store.command(json.dumps({"cmd": "build_batch", "data": {"A": candles}})))
    return [list(col) for col in zip(*out["data"])]


def reference_columns(name, params, candles, fields):
    member = ref.MEMBERS[name](*params)
    cols = [[] for _ in range(1 + len(fields))]
    for candle in candles:
        got = member.push(candle)
        cols[0].append(render(got[0]) if got else None)
        for i, f in enumerate(fields):
            cols[1 + i].append(render(got[1][f]) if got else None)
    return cols


def mismatches(name, params, candles, rel=1e-9):
    fields = EXTRAS.get(name, [])
    feats = [{"kind": "indicator", "name": name, "params": params}]
    feats += [{"kind": "indicator", "name": name, "params": params, "field": f} for f in fields]
    got = engine_columns(feats, candles)
    want = reference_columns(name, params, candles, fields)
    bad = []
    for col, (g_col, w_col) in enumerate(zip(got, want)):
        for step, (g, w) in enumerate(zip(g_col, w_col)):
            if g is None or w is None:
                ok = g is None and w is None
            else:
                ok = abs(g - w) <= rel * abs(w) + 1.01e-8
            if not ok:
                bad.append((col, step, g, w))
    return bad


@pytest.mark.parametrize("name,params", CASES, ids=[f"{n}{p}" for n, p in CASES])
def test_engine_agrees_with_reference(name, params):
    rng = random.Random(f"{name}{params}")
    candles = random_candles(rng, 3000)
    bad = mismatches(name, params, candles)
    assert not bad, f"{len(bad)} disagreements, first (column, step, engine, reference): {bad[:3]}"
