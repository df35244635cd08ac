"""Order-book, trade-flow and breadth features fed by the auxiliary feeds of build_batch
documents: hand-checked values, steps without the feed, and the flags documents cannot carry."""

from __future__ import annotations

import json

import pytest

from ostrel_feature_store._ostrel_feature_store import FeatureStore

BOOK = {"bids": [[99, 2], [98, 4]], "asks": [[101, 1], [103, 3]]}  # mid 100


def member(change, volume=1.0, new_high=False, new_low=False):
    return {"change": change, "volume": volume, "new_high": new_high, "new_low": new_low}


# three advancing, one declining, one unchanged; one new high
SECTION = {
    "members": [member(1, new_high=True), member(2), member(3), member(-1), member(0)],
    "timestamp": 0,
}
SECTION_1_4 = {"members": [member(1)] + [member(-1)] * 4, "timestamp": 1}


def column(feature, **feeds):
    """The feature's column over a series of as many candles as the longest feed."""
    n = max(len(v) for v in feeds.values())
    doc = {"candles": [[i, 100, 100, 100, 100, 1] for i in range(n)], **feeds}
    store = FeatureStore(json.dumps({"universe": ["A"], "features": [feature]}))
    out = json.loads(store.command(json.dumps({"cmd": "build_batch", "data": {"A": doc}})))
    return [row[0] for row in out["data"]]


def ms(metric, *params):
    return {"kind": "microstructure", "metric": metric, "params": list(params)}


def ind(name, *params):
    return {"kind": "indicator", "name": name, "params": list(params)}


CASES = [
    ("quoted spread in basis points", ms("QuotedSpread"), {"books": [BOOK, BOOK]}, [200, 200]),
    ("depth slope midpoint of both sides", ms("DepthSlope"), {"books": [BOOK]}, [2.75]),
    ("full-book imbalance", ms("OrderBookImbalanceFull"), {"books": [BOOK]}, [0.2]),
    (
        "order-flow imbalance: first book stores only",
        ms("OrderFlowImbalance", 1),
        {"books": [BOOK, {"bids": [[99, 5]], "asks": [[101, 1]]}]},
        [None, 3],
    ),
    (
        "effective spread: no value without trades",
        ms("EffectiveSpread"),
        {"books": [BOOK, BOOK], "trades": [[], [[100.5, 1, "buy", 0]]]},
        [None, 100],
    ),
    (
        "vpin: one buy fills two buckets",
        ms("Vpin", 10, 2),
        {"trades": [[[100, 25, "buy", 0]]]},
        [1],
    ),
    (
        "trade-count pin",
        ms("Pin", 4),
        {
            "trades": [
                [[1, 1, "buy", 0], [1, 1, "buy", 1]],
                [],
                [[1, 1, "sell", 2], [1, 1, "buy", 3]],
            ]
        },
        [None, None, 0.5],
    ),
    ("tick index", ind("TickIndex"), {"sections": [SECTION]}, [2]),
    ("advance-decline line", ind("AdvanceDecline"), {"sections": [SECTION, SECTION_1_4]}, [2, -1]),
    ("high-low index", ind("HighLowIndex", 1), {"sections": [SECTION]}, [100]),
    ("percent above ma: no flag in documents", ind("PercentAboveMa"), {"sections": [SECTION]}, [0]),
    ("bullish percent: no flag in documents", ind("BullishPercentIndex"), {"sections": [SECTION]},
     [0]),
]


@pytest.mark.parametrize("feature,feeds,want", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_values_through_documents(feature, feeds, want):
    got = column(feature, **feeds)
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert (g is None and w is None) or g == pytest.approx(w, rel=1e-12)
