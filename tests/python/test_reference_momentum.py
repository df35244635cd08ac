"""Every momentum oscillator, extras included, agrees with the plain-Python reference on long
random series: random walks with flat runs, spikes, zero and negative stretches and several price
scales, with invalid candles mixed in."""

from __future__ import annotations

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from agreement import engine_rows, row_mismatches, seeded_walk  # noqa: E402
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


def compare(name, params, seed, steps=STEPS):
    candles = seeded_walk(seed, steps)
    _factory, _kind, extras = ref.MEMBERS[name]
    want = ref.run(name, params, candles)
    doc = [[i, o, h, lo, c, v] for i, (o, h, lo, c, v) in enumerate(candles)]
    got = engine_rows(name, params, list(extras), doc)
    assert len(got) == len(candles)
    return row_mismatches(got, want, extras)


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
