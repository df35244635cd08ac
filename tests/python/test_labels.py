"""Labels and scaling end to end, against a plain re-implementation: random walks with many
horizons and barriers, both scalings, windows, short and empty series and zero closes, through
build_batch, the streaming universe and the labels command."""

from __future__ import annotations

import json
import math
import random

import pytest

from ostrel_feature_store._ostrel_feature_store import FeatureStore

NAN = float("nan")

FEATURES = [
    {"kind": "price", "field": "close"},
    {"kind": "price", "field": "volume"},
    {"kind": "price", "field": "high"},
]

FORWARD = [(h, log) for h in (1, 2, 3, 7, 40) for log in (False, True)]
BARRIERS = [
    (1, 0.01, 0.01),
    (5, 0.02, 0.01),
    (10, 0, 0),
    (20, 0.05, -0.01),  # lower barrier above the entry
    (3, -0.01, 0.02),  # upper barrier below the entry
    (100, 0.5, 0.5),
]


def label_specs():
    out = [{"kind": "forward_return", "horizon": h, "log": log} for h, log in FORWARD]
    out += [{"kind": "triple_barrier", "horizon": h, "up": u, "down": d} for h, u, d in BARRIERS]
    return out


def number_text(x):
    return str(int(x)) if float(x).is_integer() else repr(float(x))


def label_columns():
    cols = [f"fwd_log_return({h})" if log else f"fwd_return({h})" for h, log in FORWARD]
    cols += [f"tb({h},{number_text(u)},{number_text(d)})" for h, u, d in BARRIERS]
    return cols


# --- the plain re-implementation ------------------------------------------------------------


def forward_return(candles, i, h, log):
    if i + h > len(candles) - 1:
        return NAN
    c0 = candles[i][4]
    if c0 == 0:
        return NAN
    q = candles[i + h][4] / c0
    if log:
        return math.log(q) if q > 0 else NAN
    return q - 1.0


def triple_barrier(candles, i, h, up, down):
    if i + h > len(candles) - 1:
        return NAN
    e = candles[i][4]
    upper = (up + 1.0) * e
    lower = (1.0 - down) * e
    for j in range(i + 1, i + h + 1):
        if lower >= candles[j][3]:
            return -1.0
        if candles[j][2] >= upper:
            return 1.0
    return 0.0


def finite(x):
    return not (math.isnan(x) or math.isinf(x))


def z_score(col):
    xs = [x for x in col if finite(x)]
    if not xs:
        return col
    total, count = 0.0, 0.0
    for x in xs:
        total += x
        count += 1.0
    mean = total / count
    sq = 0.0
    for x in xs:
        sq += (x - mean) * (x - mean)
    var = sq / count
    if var == 0:
        return [0.0 if finite(x) else x for x in col]
    sd = math.sqrt(var)
    return [(x - mean) / sd if finite(x) else x for x in col]


def min_max(col):
    xs = [x for x in col if finite(x)]
    if not xs:
        return col
    hi, lo = -math.inf, math.inf
    for x in xs:
        hi = x if x > hi else hi
        lo = x if x < lo else lo
    rng = hi - lo
    return [(0.0 if rng == 0 else (x - lo) / rng) if finite(x) else x for x in col]


def expected_table(data, window, scaling):
    rows = []
    for sym in sorted(data, key=lambda s: s.encode()):
        candles = data[sym]
        steps = list(range(len(candles)))
        if window is not None:
            steps = steps[-window:]
        for i in steps:
            c = candles[i]
            feats = [c[4], c[5], c[2]]
            labs = [forward_return(candles, i, h, log) for h, log in FORWARD]
            labs += [triple_barrier(candles, i, h, u, d) for h, u, d in BARRIERS]
            rows.append((sym, c[0], feats + labs))
    if scaling and rows:
        scale = z_score if scaling == "z_score" else min_max
        for k in range(len(FEATURES)):
            col = scale([r[2][k] for r in rows])
            for r, v in zip(rows, col):
                r[2][k] = v
    return rows


def rendered(x):
    """The value the store writes for x: rounded half away from zero to a multiple of 1e-8."""
    if not finite(x):
        return None
    q = x / 1e-8
    t = float(math.trunc(q))
    if abs(q - t) >= 0.5:
        t += math.copysign(1.0, q)
    return t * 1e-8


# --- data -----------------------------------------------------------------------------------


def random_candles(rng, n, zero_closes=False):
    out, price = [], 100.0
    for i in range(n):
        o = price
        price = max(0.01, price * math.exp(rng.gauss(0, 0.02)))
        c = price
        hi = max(o, c) * (1 + rng.random() * 0.01)
        lo = min(o, c) * (1 - rng.random() * 0.01)
        if zero_closes and rng.random() < 0.1:
            c = 0.0
        out.append([1_700_000_000 + 60 * i, o, hi, lo, c, rng.random() * 1000])
    return out


def universe(seed, zero_closes=False):
    rng = random.Random(seed)
    data = {s: random_candles(rng, rng.randint(30, 220), zero_closes) for s in ("ETH", "BTC", "btc")}
    data["ONE"] = random_candles(rng, 1)
    data["NONE"] = []
    return data


CASES = [
    ("plain", 1, None, None, False),
    ("zero closes", 2, None, None, True),
    ("window", 3, 5, None, False),
    ("z_score", 4, None, "z_score", False),
    ("min_max", 5, None, "min_max", True),
    ("z_score after window", 6, 12, "z_score", False),
    ("min_max after window", 7, 1, "min_max", False),
]


@pytest.mark.parametrize(
    "seed,window,scaling,zeros", [c[1:] for c in CASES], ids=[c[0] for c in CASES]
)
def test_against_reimplementation(seed, window, scaling, zeros):
    data = universe(seed, zeros)
    spec = {"universe": ["BTC"], "features": FEATURES, "labels": label_specs()}
    if window is not None:
        spec["window"] = window
    if scaling:
        spec["scaling"] = scaling
    store = FeatureStore(json.dumps(spec))
    batch = {"cmd": "build_batch", "data": {k: {"candles": v} for k, v in data.items()}}
    out = json.loads(store.command(json.dumps(batch)))
    want = expected_table(data, window, scaling)
    feature_cols = ["price.close", "price.volume", "price.high"]
    assert out["columns"] == feature_cols + label_columns()
    assert out["rows"] == len(want)
    assert out["index"] == [{"symbol": s, "ts": ts} for s, ts, _ in want]
    for r, (got, (sym, ts, cells)) in enumerate(zip(out["data"], want)):
        assert got == [rendered(x) for x in cells], f"row {r} ({sym} {ts})"

    # The same series pushed into the streaming universe: labels answers only the label columns.
    for sym, candles in data.items():
        if candles:
            store.command(json.dumps({"cmd": "push_batch", "symbol": sym, "candles": candles}))
    labels = json.loads(store.command('{"cmd":"labels"}'))
    pushed = [s for s, _, _ in want if data[s]]
    assert labels["columns"] == label_columns()
    assert [e["symbol"] for e in labels["index"]] == pushed
    assert labels["data"] == [row[len(FEATURES):] for row in out["data"]]
