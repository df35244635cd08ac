"""Every band and channel, extras included, agrees with the plain reference implementation in
``reference/bands.py`` on long random series (the random walks of the moving-average agreement
test: flat runs, spikes, zero volumes, non-positive closes, invalid candles, and a series that
jumps between magnitudes from 1e-6 to 1e150). Cells agree exactly near 1e8 and to 1e-9
relative elsewhere."""

from __future__ import annotations

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from agreement import walk_mismatches  # noqa: E402
from reference import bands as ref  # noqa: E402

STANDARD = ["upper", "middle", "lower"]
EXTRAS = {
    "BollingerBands": STANDARD + ["stddev"],
    "Bollinger": STANDARD + ["stddev"],
    "BollingerBandwidth": [],
    "PercentB": [],
    "DoubleBollinger": ["upper_outer", "upper_inner", "middle", "lower_inner", "lower_outer"],
    "FractalChaosBands": ["upper", "lower"],
    "VwapStdDevBands": STANDARD + ["stddev"],
}

# Small periods so every window wraps and every re-summation cadence comes round many times;
# the shortest legal lengths where a member has a special case.
CASES = [
    ("BollingerBands", [5, 2.0]), ("BollingerBands", [1, 1.5]), ("Bollinger", [20, 2.5]),
    ("BollingerBandwidth", [7, 2.0]), ("PercentB", [6, 1.5]), ("PercentB", [1, 2.0]),
    ("DoubleBollinger", [8, 1.0, 2.0]),
    ("MaEnvelope", [10, 0.025]), ("MaEnvelope", [3, 1.5]),
    ("BomarBands", [9, 0.85]), ("BomarBands", [30, 1.0]),
    ("QuartileBands", [4]), ("QuartileBands", [25]), ("QuartileBands", [1]),
    ("MedianChannel", [7, 2.0]), ("MedianChannel", [22, 1.0]),
    ("LinRegChannel", [10, 2.0]), ("LinRegChannel", [2, 1.0]),
    ("StandardErrorBands", [12, 2.0]), ("StandardErrorBands", [3, 1.0]),
    ("Keltner", [10, 7, 2.0]), ("Keltner", [3, 12, 1.5]), ("StarcBands", [6, 9, 2.0]),
    ("AtrBands", [14, 3.0]), ("AtrBands", [1, 1.0]),
    ("AccelerationBands", [10, 4.0]), ("AccelerationBands", [3, 0.001]),
    ("HurstChannel", [10, 0.5]), ("Donchian", [20]), ("Donchian", [1]),
    ("FractalChaosBands", [2]), ("FractalChaosBands", [1]),
    ("ProjectionBands", [14]), ("ProjectionBands", [2]),
    ("VwapStdDevBands", [2.0]),
]


@pytest.mark.parametrize("name,params", CASES, ids=[f"{n}{p}" for n, p in CASES])
def test_engine_agrees_with_reference(name, params):
    for scale, bad in walk_mismatches(ref.MEMBERS, name, params, EXTRAS.get(name, STANDARD)):
        assert not bad, (
            f"scale {scale}: {len(bad)} disagreements, "
            f"first (column, step, engine, reference): {bad[:3]}"
        )
