"""The moving averages of the engine against the plain reference implementation in
``reference/moving_averages.py``, on long random series with invalid steps mixed in.

Values pass through the renderer, which rounds to 1e-8; the series sit near 1e8, where that
rounding step is about one unit in the last place and the cells must agree exactly, near 1, or
jump between magnitudes; the last two agree to 1e-9 relative."""

from __future__ import annotations

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from agreement import walk_mismatches  # noqa: E402
from reference import moving_averages as ref  # noqa: E402

# (name, params); every extra of a multi-output member is read through its own `field` column.
CASES = [
    ("Sma", [14]), ("Sma", [1]),
    ("Ema", [10]), ("Ema", [1]),
    ("Wma", [9]), ("Wma", [1]),
    ("Dema", [7]), ("Tema", [5]),
    ("Trima", [10]), ("Trima", [7]),
    ("Smma", [14]),
    ("Hma", [16]), ("Hma", [1]), ("Ehma", [9]),
    ("Alma", [9, 0.85, 6]), ("Alma", [1, 0.0, 0.5]),
    ("Kama", [10, 2, 30]), ("Frama", [16]), ("Frama", [2]),
    ("Vidya", [9, 5]), ("Zlema", [10]), ("Zlema", [2]),
    ("T3", [5, 0.7]), ("Jma", [7, 50, 2]), ("Jma", [3, -150, 4]),
    ("Mama", [0.5, 0.05]), ("Fama", [0.5, 0.05]),
    ("McGinleyDynamic", [10]), ("GeometricMa", [8]),
    ("MedianMa", [7]), ("MedianMa", [6]),
    ("SineWeightedMa", [11]), ("HoltWinters", [0.3, 0.1]), ("GeneralizedDema", [6, 0.7]),
    ("Evwma", [10]), ("Vwma", [5]), ("MidPoint", [9]), ("MidPrice", [9]),
]
EXTRAS = {"Mama": ["mama", "fama"]}


@pytest.mark.parametrize("name,params", CASES, ids=[f"{n}{p}" for n, p in CASES])
def test_engine_agrees_with_reference(name, params):
    for scale, bad in walk_mismatches(ref.MEMBERS, name, params, EXTRAS.get(name, [])):
        assert not bad, (
            f"scale {scale}: {len(bad)} disagreements, "
            f"first (column, step, engine, reference): {bad[:3]}"
        )
