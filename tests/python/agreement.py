"""Plumbing of the agreement tests that replay random series through the engine and through the
plain reference implementations: the random series, the build_batch driver, the emulation of
the renderer's rounding and the cell comparisons."""

from __future__ import annotations

import json
import math
import random

from ostrel_feature_store._ostrel_feature_store import FeatureStore

# --- random series ----------------------------------------------------------------------------


def walk_candles(rng: random.Random, steps: int, scale: float | None) -> list[list[float]]:
    """A random walk with flat runs, spikes, zero volumes, non-positive closes and invalid
    candles (low above high: accepted by close-input members, rejected by candle-input ones).
    Without a scale the walk jumps between magnitudes from 1e-6 to 1e150 now and then."""
    out = []
    jumps = scale is None
    scale = scale or 1.0
    x = scale
    flat = 0
    for ts in range(steps):
        if jumps and rng.random() < 0.01:
            scale = rng.choice([1e-6, 1.0, 1e8, 1e150])
            x = scale * rng.uniform(0.5, 2)
        if flat:
            flat -= 1
        elif rng.random() < 0.02:
            flat = rng.randint(2, 30)
        else:
            x += rng.gauss(0, scale * 0.01)
            if rng.random() < 0.01:
                x += rng.choice([-1, 1]) * scale * rng.uniform(0.2, 3)
        close = x
        if rng.random() < 0.005:
            close = rng.choice([0.0, -scale * 0.5])
        spread = 0.0 if flat else abs(rng.gauss(0, scale * 0.005))
        high, low = max(close, x) + spread, min(close, x) - spread
        vol = 0.0 if flat or rng.random() < 0.05 else rng.expovariate(1 / 1000.0)
        if rng.random() < 0.03:
            high, low = low - scale * 0.01, high + scale * 0.01
        out.append([ts, close, high, low, close, vol])
    return out


def multiplicative_walk_candles(rng: random.Random, steps: int) -> list[list]:
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


def _walk(rng: random.Random, price: float, flat: int, scale: float, spikes) -> tuple[float, int]:
    """One step of the seeded walks: (price, flat steps left)."""
    r = rng.random()
    if flat > 0:
        flat -= 1
    elif r < 0.03:
        flat = rng.randint(3, 40)  # flat run: long enough to empty whole windows
    elif r < 0.04:
        price *= rng.choice(spikes)  # spike or sign flip
    elif r < 0.045:
        price = 0.0
    elif price == 0.0:
        price = scale * rng.uniform(0.5, 1.5)
    else:
        price += abs(price) * rng.gauss(0.0, 0.02) + scale * rng.gauss(0.0, 0.002)
    return price, flat


def _around(rng: random.Random, o: float, price: float, flat: int, scale: float):
    """(high, low, open, volume) of a candle from open o to price; a flat run opens at the price
    and has no range."""
    if flat > 0:
        o = price
    spread = 0.0 if flat > 0 else abs(price - o) * rng.random() + scale * 0.01 * rng.random()
    hi, lo = max(o, price) + spread, min(o, price) - spread
    vol = 0.0 if rng.random() < 0.05 else rng.uniform(0.0, 1e4)
    return hi, lo, o, vol


def seeded_walk(seed: int, steps: int):
    """(open, high, low, close, volume) candles of a random walk at a price scale drawn from the
    seed, with flat runs, spikes, sign flips and zero stretches; about 3% are invalid."""
    rng = random.Random(seed)
    scale = rng.choice([1e-3, 1.0, 250.0, 1e7])
    price = scale
    out = []
    flat = 0
    for i in range(steps):
        price, flat = _walk(rng, price, flat, scale, (8.0, 0.1, -1.0))
        o = out[-1][3] if out and rng.random() < 0.7 else price
        hi, lo, o, vol = _around(rng, o, price, flat, scale)
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


def seeded_walk_with_times(seed: int, steps: int, scale: float | None = None):
    """(ts, open, high, low, close, volume) candles of a random walk that also jumps by 1e6 and
    1e-6 and reaches both ends of the double range. Timestamps advance by uneven steps across
    days (some before the epoch); about 3% of the candles are invalid. Documents cannot carry a
    non-finite close, so the close members' rejection of one is left to the engine's own tests."""
    rng = random.Random(seed)
    scale = scale or rng.choice([1e-300, 1e-6, 1.0, 250.0, 1e9, 1e150, 1e300])
    price, flat, ts = scale, 0, rng.randrange(-10**9, 10**9) * 1000
    out = []
    for _ in range(steps):
        ts += rng.choice([60_000, 3_600_000, 5_400_000, 1, 999])
        price, flat = _walk(rng, price, flat, scale, (8.0, 0.1, -1.0, 1e6, 1e-6))
        price = max(-1.7e308, min(price, 1.7e308))  # documents hold finite numbers only
        o = out[-1][4] if out and rng.random() < 0.7 and math.isfinite(out[-1][4]) else price
        hi, lo, o, vol = _around(rng, o, price, flat, scale)
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


def derivative_ticks(seed: int, steps: int):
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


# --- the engine -------------------------------------------------------------------------------


def fmt(x) -> str:
    """A parameter as the column key writes it."""
    return ("%r" % float(x)) if not float(x).is_integer() else str(int(x))


def column_keys(name: str, params, fields) -> list[str]:
    key = "%s(%s)" % (name, ",".join(fmt(p) for p in params))
    return [key] + ["%s.%s" % (key, f) for f in fields]


def features(name: str, params, fields) -> list[dict]:
    """The member's main value, then each extra through its own `field` column."""
    feats = [{"kind": "indicator", "name": name, "params": params}]
    feats += [{"kind": "indicator", "name": name, "params": params, "field": f} for f in fields]
    return feats


def build_batch(feats: list[dict], symbol_data) -> dict:
    """The rendered document of one build_batch over symbol A."""
    store = FeatureStore(json.dumps({"universe": ["A"], "features": feats}))
    return json.loads(store.command(json.dumps({"cmd": "build_batch", "data": {"A": symbol_data}})))


def engine_rows(name: str, params, fields, symbol_data) -> list[list]:
    """One row per step: the main value, then the extras in the order of `fields`."""
    out = build_batch(features(name, params, fields), symbol_data)
    assert out.get("columns") == column_keys(name, params, fields), out
    return out["data"]


def engine_columns(feats: list[dict], candles: list[list]) -> list[list[float | None]]:
    out = build_batch(feats, candles)
    return [list(col) for col in zip(*out["data"])]


# --- comparisons ------------------------------------------------------------------------------

RENDER_STEP = 1e-8  # the renderer writes multiples of this


def render(x: float | None) -> float | None:
    """The renderer's rounding: the nearest multiple of 1e-8, halves away from zero."""
    if x is None or not math.isfinite(x):
        return None
    q = abs(x / RENDER_STEP)
    if math.isinf(q):
        return x
    r = math.floor(q)
    if q - r >= 0.5:  # the difference is exact (Sterbenz), so halves are seen exactly
        r += 1.0
    return math.copysign(r, x) * RENDER_STEP


def agrees(got, want) -> bool:
    """An engine cell against an unrendered reference value: within half a rendering step plus
    1e-9 relative; a missing or non-finite reference value must be a missing cell."""
    if want is None or not math.isfinite(want):
        return got is None
    if got is None:
        return False
    return abs(got - want) <= 0.5e-8 * (1 + 1e-9) + 1e-9 * abs(want)


def reference_columns(member, candles, fields, to_input):
    """The rendered columns of a reference member (main value, then `fields`) over candles;
    `to_input` turns a candle row into what the member's push takes."""
    cols = [[] for _ in range(1 + len(fields))]
    for candle in candles:
        got = member.push(to_input(candle))
        cols[0].append(render(got[0]) if got else None)
        for i, f in enumerate(fields):
            cols[1 + i].append(render(got[1][f]) if got else None)
    return cols


def column_mismatches(got, want, rel):
    """(column, step, engine, reference) of the rendered cells that differ by more than `rel`
    relative plus one rendering step (rel 0: that must be equal)."""
    bad = []
    for col, (g_col, w_col) in enumerate(zip(got, want)):
        for step, (g, w) in enumerate(zip(g_col, w_col)):
            if g is None or w is None:
                ok = g is None and w is None
            elif rel == 0:
                ok = g == w
            else:
                ok = abs(g - w) <= rel * abs(w) + 1.01e-8
            if not ok:
                bad.append((col, step, g, w))
    return bad


def without_timestamp(candle):
    """(open, high, low, close, volume) of a [ts, open, high, low, close, volume] row."""
    _ts, o, h, lo, c, v = candle
    return (o, h, lo, c, v)


def candle_mismatches(ref_members, name, params, fields, candles, rel, to_input=tuple):
    """Replays candles through the engine and through ref_members[name]; the cells that differ
    (see column_mismatches)."""
    got = engine_columns(features(name, params, fields), candles)
    want = reference_columns(ref_members[name](*params), candles, fields, to_input)
    return column_mismatches(got, want, rel)


def row_mismatches(got, want, fields):
    """(step, field, engine, reference) of the cells that do not agree; `got` holds the engine's
    rows (main value, then `fields`), `want` per step None or a dict keyed by "" and `fields`."""
    assert len(got) == len(want)
    bad = []
    for i, (g, w) in enumerate(zip(got, want)):
        for col, field in enumerate([""] + list(fields)):
            expected = None if w is None else w[field]
            if not agrees(g[col], expected):
                bad.append((i, field or "value", g[col], expected))
    return bad


def walk_mismatches(ref_members, name, params, fields):
    """(scale, mismatches) over the walks near 1e8, near 1 and jumping between magnitudes.
    Near 1e8 the rendering step is about one unit in the last place, so there the evaluation
    order, the fused multiply-adds and the re-summation cadence must agree exactly; elsewhere
    cells agree to 1e-9 relative."""
    rng = random.Random(f"{name}{params}")
    for scale in (1e8, 1.0, None):
        candles = walk_candles(rng, 2000, scale)
        rel = 0.0 if scale == 1e8 else 1e-9
        yield scale, candle_mismatches(ref_members, name, params, fields, candles, rel,
                                       without_timestamp)
