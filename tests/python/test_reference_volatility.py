"""The volatility estimators of the engine against the plain reference implementation in
``reference/volatility.py``, on long random series with invalid steps mixed in.

Values pass through the renderer, which rounds to 1e-8; cells agree to 1e-9 relative plus one
rendering step."""

from __future__ import annotations

import os
import random
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from agreement import candle_mismatches, multiplicative_walk_candles  # noqa: E402
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


def mismatches(name, params, candles, rel=1e-9):
    fields = EXTRAS.get(name, [])
    return candle_mismatches(ref.MEMBERS, name, params, fields, candles, rel)


@pytest.mark.parametrize("name,params", CASES, ids=[f"{n}{p}" for n, p in CASES])
def test_engine_agrees_with_reference(name, params):
    rng = random.Random(f"{name}{params}")
    candles = multiplicative_walk_candles(rng, 3000)
    bad = mismatches(name, params, candles)
    assert not bad, f"{len(bad)} disagreements, first (column, step, engine, reference): {bad[:3]}"
