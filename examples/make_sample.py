"""Writes a small, realistic and fully deterministic market data sample for the examples.

    python examples/make_sample.py [OUT] [--symbols N] [--bars N]

The output is a build_batch data document: for each symbol its hourly candles and, parallel to
them, a reference index, derivatives ticks, five-level order books and the step's trade prints.
The same arguments always give the same bytes.
"""

from __future__ import annotations

import argparse
import json
import math
import random

SYMBOLS = [("BTC", 42000.0, 0.012), ("ETH", 2300.0, 0.016), ("SOL", 95.0, 0.024), ("ADA", 0.55, 0.02)]
START_TS = 1_700_000_000
STEP = 3600


def _r(x: float, digits: int) -> float:
    return float(f"{x:.{digits}f}")


def series(rng: random.Random, start: float, vol: float, index: list[float], bars: int) -> dict:
    digits = 2 if start > 50 else 5
    tick = 10.0**-digits
    price = start
    candles, books, trades, derivs = [], [], [], []
    oi = 1_000_000.0 / start * 50
    for i in range(bars):
        ts = START_TS + i * STEP
        # Correlated with the index, plus its own noise and a slow drift in volatility.
        shock = 0.6 * index[i] + 0.8 * rng.gauss(0.0, 1.0)
        sigma = vol * (1.0 + 0.5 * math.sin(i / 200.0))
        open_ = price
        close = max(open_ * math.exp(sigma * shock), tick * 10)
        high = max(open_, close) * (1.0 + abs(rng.gauss(0.0, sigma / 2)))
        low = min(open_, close) * (1.0 - abs(rng.gauss(0.0, sigma / 2)))
        o, h, l, c = (_r(x, digits) for x in (open_, high, low, close))
        h, l = max(h, o, c), min(l, o, c)
        volume = _r(abs(rng.gauss(1.0, 0.4)) * 5_000_000 / start, 3)
        candles.append({"ts": ts, "open": o, "high": h, "low": l, "close": c, "volume": volume})
        price = close

        spread = max(tick, _r(c * rng.uniform(0.00005, 0.0004), digits))
        best_bid = _r(c - spread / 2, digits)
        best_ask = _r(best_bid + spread, digits)
        bids = [[_r(best_bid - k * spread, digits), _r(rng.uniform(0.1, 5.0) * (k + 1), 4)] for k in range(5)]
        asks = [[_r(best_ask + k * spread, digits), _r(rng.uniform(0.1, 5.0) * (k + 1), 4)] for k in range(5)]
        books.append({"bids": bids, "asks": asks})

        prints = []
        for k in range(rng.randint(0, 6)):
            side = "buy" if rng.random() < 0.5 + 0.3 * math.tanh(shock) else "sell"
            px = best_ask if side == "buy" else best_bid
            px = _r(px * (1.0 + rng.gauss(0.0, 0.0002)), digits)
            prints.append([max(px, tick), _r(rng.expovariate(2.0), 4), side, ts + k * 97])
        trades.append(prints)

        funding = _r(rng.gauss(0.0001, 0.00008), 6)
        mark = _r(c * (1.0 + rng.gauss(0.0, 0.0003)), digits)
        index_px = _r(c * (1.0 + rng.gauss(0.0, 0.0002)), digits)
        futures = _r(c * (1.0 + 0.002 + rng.gauss(0.0, 0.0005)), digits)
        oi = max(oi * (1.0 + rng.gauss(0.0, 0.01)), 1.0)
        long_size = _r(oi * rng.uniform(0.4, 0.6), 2)
        buy_vol = _r(volume * rng.uniform(0.3, 0.7), 3)
        derivs.append(
            {
                "funding_rate": funding,
                "mark_price": mark,
                "index_price": index_px,
                "futures_price": futures,
                "open_interest": _r(oi, 2),
                "long_size": long_size,
                "short_size": _r(oi - long_size, 2),
                "taker_buy_volume": buy_vol,
                "taker_sell_volume": _r(volume - buy_vol, 3),
                "long_liquidation": _r(max(0.0, rng.gauss(0.0, 1.0)) * volume * 0.01, 3),
                "short_liquidation": _r(max(0.0, rng.gauss(0.0, 1.0)) * volume * 0.01, 3),
                "timestamp": ts,
            }
        )
    # The reference is the market index as candles; only their close is read.
    ref_candles, acc = [], 1000.0
    for i in range(bars):
        acc *= math.exp(0.01 * index[i])
        v = _r(acc, 4)
        ref_candles.append([START_TS + i * STEP, v, v, v, v, 0])
    return {
        "candles": candles,
        "reference": ref_candles,
        "derivs": derivs,
        "books": books,
        "trades": trades,
    }


def make(symbols: int, bars: int, seed: int = 20240611) -> dict:
    rng = random.Random(seed)
    index = [rng.gauss(0.0, 1.0) for _ in range(bars)]
    out = {}
    for k in range(symbols):
        name, start, vol = SYMBOLS[k % len(SYMBOLS)]
        if k >= len(SYMBOLS):
            name = f"{name}{k // len(SYMBOLS)}"
        out[name] = series(rng, start, vol, index, bars)
    return out


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out", nargs="?", default="examples/sample.json")
    p.add_argument("--symbols", type=int, default=3)
    p.add_argument("--bars", type=int, default=2000)
    args = p.parse_args()
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(make(args.symbols, args.bars), f, separators=(",", ":"))
        f.write("\n")


if __name__ == "__main__":
    main()
