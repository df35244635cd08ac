"""Plain reference implementation of the order-book, trade-flow and breadth members.

Written from the behaviour description alone, independently of the engine's C++ code. A step is a
dict with optional `book` ((bids, asks), each a list of (price, size) best first), `trades` (list
of (price, size, side)), `close` and `section` (list of (change, volume, new_high, new_low)).
`MEMBERS[name](*params)` builds a member whose `push(step)` returns the step's value or None.
"""

from __future__ import annotations

import math
from collections import deque

MAX_HALF = 8.988465674311579e307
TINY_NORMAL = 2.2250738585072014e-308
MAX_FINITE = 1.7976931348623157e308


def div(a: float, b: float) -> float:
    """IEEE division: a zero divisor gives an infinity or NaN instead of an exception."""
    if b == 0:
        if a == 0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def mul(a: float, b: float) -> float:
    return a * b  # Python floats overflow to inf on multiplication, like IEEE


def ln(x: float) -> float:
    if x == 0:
        return -math.inf
    if x < 0 or math.isnan(x):
        return math.nan
    if math.isinf(x):
        return math.inf
    return math.log(x)


def plain_sum(xs) -> float:
    s = -0.0
    for x in xs:
        s += x
    return s


def midpoint(a: float, b: float) -> float:
    if abs(a) <= MAX_HALF and abs(b) <= MAX_HALF:
        return (a + b) * 0.5
    return a * 0.5 + b * 0.5


def sign(side: str) -> float:
    return 1.0 if side == "buy" else -1.0


class SumWindow:
    """Ring of capacity n with a running sum re-summed exactly after every n pushes. The evicted
    sample is subtracted before the new one is added, as in RollingMean: with a window of one the
    sum is then always exactly the sample."""

    def __init__(self, n):
        self.n, self.ring, self.sum, self.count = n, deque(), 0.0, 0

    def push(self, x):
        if len(self.ring) == self.n:
            old = self.ring.popleft()
            self.ring.append(x)
            self.sum = x + (self.sum - old)
        else:
            self.ring.append(x)
            self.sum = x + self.sum
        self.count += 1
        if self.count == self.n:
            self.sum = plain_sum(self.ring)
            self.count = 0

    def full(self):
        return len(self.ring) == self.n


class RollingMean:
    def __init__(self, n):
        self.n, self.ring, self.sum, self.count = n, deque(), 0.0, 0

    def push(self, x):
        if not math.isfinite(x):
            return None
        if len(self.ring) == self.n:
            old = self.ring.popleft()
            self.ring.append(x)
            self.sum = x + (self.sum - old)
        else:
            self.ring.append(x)
            self.sum = x + self.sum
        self.count += 1
        if self.count == 16 * self.n:
            self.sum = plain_sum(self.ring)
            self.count = 0
        return self.sum / self.n if len(self.ring) == self.n else None


# ----------------------------------------------------------------------------- book members


class BookMember:
    def push(self, step):
        book = step.get("book")
        if book is None:
            return None
        return self.value(*book)


def imbalance(b, a):
    return 0.0 if b + a <= 0 else (b - a) / (b + a)


class Top1(BookMember):
    def value(self, bids, asks):
        if not bids or not asks:
            return 0.0
        return imbalance(bids[0][1], asks[0][1])


class TopN(BookMember):
    def __init__(self, levels):
        self.levels = int(levels)

    def value(self, bids, asks):
        return imbalance(plain_sum(s for _, s in bids[: self.levels]),
                         plain_sum(s for _, s in asks[: self.levels]))


class Full(BookMember):
    def value(self, bids, asks):
        return imbalance(plain_sum(s for _, s in bids), plain_sum(s for _, s in asks))


class Microprice(BookMember):
    def value(self, bids, asks):
        if not bids or not asks:
            return 0.0
        (pb, qb), (pa, qa) = bids[0], asks[0]
        if qb + qa <= 0:
            return midpoint(pb, pa)
        weighted = div(mul(pb, qa) + mul(pa, qb), qb + qa)
        if math.isfinite(weighted):
            return weighted
        # overflowed products or size sum: the same weighting from scaled sizes and the spread
        scale = max(qb, qa)
        wb, wa = qb / scale, qa / scale
        return pb + (pa - pb) * (wb / (wb + wa))


class QuotedSpread(BookMember):
    def value(self, bids, asks):
        if not bids or not asks:
            return 0.0
        pb, pa = bids[0][0], asks[0][0]
        return div(pa - pb, midpoint(pb, pa)) * 10000


def fit_slope(xs, sizes):
    n = len(xs)
    sx = sy = sxy = sxx = y = -0.0
    for x, s in zip(xs, sizes):
        y += s
        sx += x
        sy += y
        sxy = sxy + mul(x, y)
        sxx = sxx + mul(x, x)
    den = mul(n, sxx) - mul(sx, sx)
    if den == 0:
        return 0.0
    if math.isnan(den):
        return math.nan
    return div(mul(n, sxy) - mul(sx, sy), den)


def side_slope(levels, g, bid):
    xs = [g - p if bid else p - g for p, _ in levels]
    sizes = [s for _, s in levels]
    slope = fit_slope(xs, sizes)
    if math.isfinite(slope):
        return slope
    # an infinite or NaN fit only comes from overflowed sums or products: a slope is a ratio, so refit on both
    # coordinates scaled by powers of two (exactly) to about 1 and scale the slope back
    ex = math.frexp(max(abs(x) for x in xs))[1]
    ey = math.frexp(max(sizes))[1] + len(levels).bit_length()
    slope = fit_slope([math.ldexp(x, -ex) for x in xs], [math.ldexp(s, -ey) for s in sizes])
    try:
        return math.ldexp(slope, ey - ex)
    except OverflowError:
        return math.copysign(math.inf, slope)


class DepthSlope(BookMember):
    def value(self, bids, asks):
        if len(bids) < 2 or len(asks) < 2:
            return 0.0
        g = midpoint(bids[0][0], asks[0][0])
        return midpoint(side_slope(bids, g, True), side_slope(asks, g, False))


class OrderFlowImbalance(BookMember):
    def __init__(self, period):
        self.win = SumWindow(int(period))
        self.prev = None

    def value(self, bids, asks):
        if not bids or not asks:
            return None
        cur = (bids[0][0], bids[0][1], asks[0][0], asks[0][1])
        if self.prev is None:
            self.prev = cur
            return None
        pb0, qb0, pa0, qa0 = self.prev
        pb, qb, pa, qa = cur
        e = (qb * (pb >= pb0) - qb0 * (pb <= pb0)) - (qa * (pa <= pa0) - qa0 * (pa >= pa0))
        self.prev = cur
        self.win.push(float(e))
        return self.win.sum if self.win.full() else None


# ----------------------------------------------------------------------------- trade members


def reference_mid(step):
    book = step.get("book")
    if book is not None and book[0] and book[1]:
        m = midpoint(book[0][0][0], book[1][0][0])
    else:
        m = step["close"]
    return m if math.isfinite(m) and m > 0 else None


class EffectiveSpread:
    def push(self, step):
        trades = step.get("trades") or []
        m = reference_mid(step)
        if not trades or m is None:
            return None
        p, _, side = trades[-1]
        return div(2 * sign(side) * (p - m), m) * 10000


class RealizedSpread:
    def __init__(self, horizon):
        self.h = int(horizon)
        self.ring = deque()

    def push(self, step):
        trades = step.get("trades") or []
        m = reference_mid(step)
        if not trades or m is None:
            return None
        out = None
        for p, _, side in trades:
            self.ring.append((sign(side), p, m))
            out = None
            if len(self.ring) > self.h:
                s0, p0, m0 = self.ring.popleft()
                out = div(2 * s0 * (p0 - m), m0) * 10000
        return out


class KylesLambda:
    def __init__(self, window):
        self.n = int(window)
        self.prev = None
        self.ring = deque()
        self.anchor = None
        self.s = [0.0] * 5  # Sx, Sy, Sxx, Syy, Sxy
        self.count = 0

    def moments(self, x, y):
        dx, dy = x - self.anchor[0], y - self.anchor[1]
        return (dx, dy, dx * dx, dy * dy, dx * dy)

    def push_pair(self, x, y):
        if self.anchor is None:
            self.anchor = (x, y)
        if len(self.ring) == self.n:
            old = self.ring.popleft()
            self.s = [a - b for a, b in zip(self.s, self.moments(*old))]
        self.ring.append((x, y))
        self.s = [a + b for a, b in zip(self.s, self.moments(x, y))]
        self.count += 1
        if self.count == self.n:
            self.anchor = (plain_sum(p[0] for p in self.ring) / len(self.ring),
                           plain_sum(p[1] for p in self.ring) / len(self.ring))
            self.s = [plain_sum(m[i] for m in map(lambda p: self.moments(*p), self.ring))
                      for i in range(5)]
            self.count = 0

    def push(self, step):
        trades = step.get("trades") or []
        m = reference_mid(step)
        if not trades or m is None:
            return None
        out = None
        for _, size, side in trades:
            if self.prev is None:
                self.prev = m
                out = None
                continue
            x, y = sign(side) * size, m - self.prev
            self.prev = m
            self.push_pair(x, y)
            out = None
            if len(self.ring) == self.n:
                n = self.n
                sx, sy, sxx, _syy, sxy = self.s
                var = sxx / n - (sx / n) * (sx / n)
                if var < 0:
                    var = 0.0
                out = div(sxy / n - (sx / n) * (sy / n), var) if var != 0 else 0.0
        return out


class TradeMember:
    """Trades-only member: an empty list yields nothing; otherwise the last trade's result."""

    def push(self, step):
        trades = step.get("trades") or []
        if not trades:
            return None
        out = None
        for t in trades:
            out = self.trade(*t)
        return self.finish(out)

    def finish(self, out):
        return out


class SignedVolume(TradeMember):
    def trade(self, p, size, side):
        return -size if side == "sell" else size


class CumulativeVolumeDelta(TradeMember):
    def __init__(self):
        self.total = 0.0

    def trade(self, p, size, side):
        self.total += sign(side) * size
        return self.total


class TradeImbalance(TradeMember):
    def __init__(self, period):
        self.n = int(period)
        self.ring = deque()
        self.sb = self.ss = -0.0

    def trade(self, p, size, side):
        pair = (size, 0.0) if side == "buy" else (0.0, size)
        if len(self.ring) == self.n:
            ob, os_ = self.ring.popleft()
            self.sb = pair[0] + (self.sb - ob)
            self.ss = pair[1] + (self.ss - os_)
        else:
            self.sb = pair[0] + self.sb
            self.ss = pair[1] + self.ss
        self.ring.append(pair)
        if len(self.ring) < self.n:
            return None
        tot = self.sb + self.ss
        return 0.0 if tot <= 0 else (self.sb - self.ss) / tot


class TradeSignAutocorrelation(TradeMember):
    def __init__(self, period):
        self.n = int(period)
        self.ring = deque(maxlen=self.n)

    def trade(self, p, size, side):
        self.ring.append(sign(side))
        if len(self.ring) < self.n:
            return None
        r = list(self.ring)
        return plain_sum(r[i] * r[i - 1] for i in range(1, self.n)) / (self.n - 1)


class Pin(TradeMember):
    def __init__(self, period):
        self.n = int(period)
        self.ring = deque(maxlen=self.n)

    def trade(self, p, size, side):
        self.ring.append(side == "buy")
        if len(self.ring) < self.n:
            return None
        b = sum(self.ring)
        return abs(2 * b - self.n) / self.n


class AmihudIlliquidity(TradeMember):
    def __init__(self, period):
        self.n = int(period)
        self.win = SumWindow(self.n)
        self.prev = None
        self.cached = None

    def trade(self, p, size, side):
        if size == 0:
            return self.cached
        if self.prev is None:
            self.prev = p
            return None
        ratio = p / self.prev
        # a ratio outside the normal range would lose the finite log return
        r = ln(ratio) if TINY_NORMAL <= ratio <= MAX_FINITE else ln(p) - ln(self.prev)
        # an unchanged price moved nothing even when price x size underflows to 0
        self.win.push(0.0 if r == 0 else div(abs(r), p * size))
        self.prev = p
        if not self.win.full():
            return None
        self.cached = self.win.sum / self.n
        return self.cached


class RollMeasure(TradeMember):
    def __init__(self, period):
        self.n = int(period)
        self.ring = deque(maxlen=self.n)
        self.prev = None

    def trade(self, p, size, side):
        if self.prev is None:
            self.prev = p
            return None
        self.ring.append(p - self.prev)
        self.prev = p
        if len(self.ring) < self.n:
            return None
        d = list(self.ring)
        mu = plain_sum(d) / self.n
        cov = plain_sum((d[i] - mu) * (d[i - 1] - mu) for i in range(1, self.n)) / (self.n - 1)
        return 2 * math.sqrt(-cov) if cov < 0 else 0.0


class Vpin(TradeMember):
    def __init__(self, bucket_volume, buckets):
        self.v, self.n = float(bucket_volume), int(buckets)
        self.buy = self.sell = self.filled = 0.0
        self.win = SumWindow(self.n)

    def trade(self, p, size, side):
        v, n = self.v, self.n
        room = v - self.filled
        if math.isinf(size):
            size = room + n * v
        elif room < size and (size - room) / v > n:
            size = room + n * v + math.fmod(size - room, v)
        remaining = size
        while remaining > 0:
            take = min(remaining, v - self.filled)
            if side == "buy":
                self.buy += take
            else:
                self.sell += take
            self.filled += take
            if self.filled >= v:
                self.win.push(abs(self.buy - self.sell))
                self.buy = self.sell = self.filled = 0.0
            remaining -= take
        return None

    def finish(self, out):
        return self.win.sum / (self.n * self.v) if self.win.full() else None


# ----------------------------------------------------------------------------- breadth members


def counts(section):
    a = d = h = lo = 0
    uv = dv = tv = -0.0
    for change, volume, new_high, new_low in section:
        if change > 0:
            a += 1
            uv += volume
        elif change < 0:
            d += 1
            dv += volume
        tv += volume
        h += bool(new_high)
        lo += bool(new_low)
    return a, d, uv, dv, tv, h, lo


class Breadth:
    def push(self, step):
        section = step.get("section")
        if section is None:
            return None
        return self.value(len(section), *counts(section))


class Snapshot(Breadth):
    def __init__(self, fn):
        self.fn = fn

    def value(self, m, a, d, uv, dv, tv, h, lo):
        return self.fn(m, a, d, uv, dv, tv, h, lo)


class Cumulative(Breadth):
    def __init__(self, fn):
        self.fn, self.total = fn, 0.0

    def value(self, *c):
        self.total += self.fn(*c)
        return self.total


class Averaged(Breadth):
    def __init__(self, fn, period):
        self.fn, self.mean = fn, RollingMean(int(period))

    def value(self, *c):
        return self.mean.push(self.fn(*c))


class McClellan(Breadth):
    def __init__(self, summation):
        self.summation = summation
        self.fast = self.slow = None
        self.total = 0.0

    def value(self, m, a, d, *_):
        rana = 0.0 if a + d == 0 else 1000 * (a - d) / (a + d)
        if self.fast is None:
            self.fast = self.slow = rana
        else:
            self.fast = self.fast + 0.1 * (rana - self.fast)
            self.slow = self.slow + 0.05 * (rana - self.slow)
        osc = self.fast - self.slow
        self.total += osc
        return self.total if self.summation else osc


def at_least_one(x):
    return 1 if x == 0 else x


MEMBERS = {
    "OrderBookImbalanceTop1": Top1,
    "OrderBookImbalanceTopN": TopN,
    "OrderBookImbalanceFull": Full,
    "Microprice": Microprice,
    "DepthSlope": DepthSlope,
    "QuotedSpread": QuotedSpread,
    "OrderFlowImbalance": OrderFlowImbalance,
    "EffectiveSpread": EffectiveSpread,
    "RealizedSpread": RealizedSpread,
    "KylesLambda": KylesLambda,
    "SignedVolume": SignedVolume,
    "CumulativeVolumeDelta": CumulativeVolumeDelta,
    "TradeImbalance": TradeImbalance,
    "TradeSignAutocorrelation": TradeSignAutocorrelation,
    "Vpin": Vpin,
    "Pin": Pin,
    "AmihudIlliquidity": AmihudIlliquidity,
    "RollMeasure": RollMeasure,
    "AdvanceDecline": lambda: Cumulative(lambda m, a, d, *_: float(a - d)),
    "AdvanceDeclineRatio": lambda: Snapshot(lambda m, a, d, *_: a / at_least_one(d)),
    "AbsoluteBreadthIndex": lambda: Snapshot(lambda m, a, d, *_: float(abs(a - d))),
    "TickIndex": lambda: Snapshot(lambda m, a, d, *_: float(a - d)),
    "Trin": lambda: Snapshot(
        lambda m, a, d, uv, dv, *_: (a / at_least_one(d)) / (max(uv, 1.0) / max(dv, 1.0))),
    "UpDownVolumeRatio": lambda: Snapshot(lambda m, a, d, uv, dv, *_: uv / max(dv, 1.0)),
    "AdVolumeLine": lambda: Cumulative(lambda m, a, d, uv, dv, *_: uv - dv),
    "CumulativeVolumeIndex": lambda: Cumulative(
        lambda m, a, d, uv, dv, tv, *_: (uv - dv) / max(tv, TINY_NORMAL)),
    "NewHighsNewLows": lambda: Snapshot(lambda m, a, d, uv, dv, tv, h, lo: float(h - lo)),
    "HighLowIndex": lambda period: Averaged(
        lambda m, a, d, uv, dv, tv, h, lo: 100 * h / at_least_one(h + lo), period),
    "BreadthThrust": lambda period: Averaged(
        lambda m, a, d, *_: a / at_least_one(a + d), period),
    "McClellanOscillator": lambda: McClellan(False),
    "McClellanSummationIndex": lambda: McClellan(True),
    # documents carry neither flag, so the store always hands false to both
    "PercentAboveMa": lambda: Snapshot(lambda *_: 0.0),
    "BullishPercentIndex": lambda: Snapshot(lambda *_: 0.0),
}
