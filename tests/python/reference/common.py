"""Numeric primitives and small cores shared by the reference implementations.

Python floats are IEEE doubles and Python never reassociates, so a formula written out in its
stated order gives the engine's result to the last bit. What Python lacks is supplied here: a
fused multiply-add (emulated exactly with integer ratios), and division, exponentials and
logarithms that give IEEE infinities and NaNs where Python raises.

The cores at the end are the ones several families define in exactly the same way (a seeded
EMA, a weighted average, a rolling mean with periodic re-summation...). Each family's own
formulas stay in its own module.
"""

from __future__ import annotations

import math
from typing import Optional

INF = math.inf
NAN = math.nan
HALF_MAX = 8.988465674311579e307  # the largest magnitude whose double still fits
EPS = 2.220446049250313e-16


# --- IEEE helpers -----------------------------------------------------------------------------


def fma(a: float, b: float, c: float) -> float:
    """a * b + c rounded once."""
    if not (math.isfinite(a) and math.isfinite(b) and math.isfinite(c)):
        return a * b + c
    if (a == 0.0 or b == 0.0) and c == 0.0:
        return a * b + c  # exact zero: the float expression gives the IEEE sign
    # exact rational arithmetic on (numerator, power-of-two denominator) pairs; Python's integer
    # true division is correctly rounded
    na, da = a.as_integer_ratio()
    nb, db = b.as_integer_ratio()
    nc, dc = c.as_integer_ratio()
    dp = da * db
    d = max(dp, dc)
    num = na * nb * (d // dp) + nc * (d // dc)
    if num == 0:
        return 0.0
    try:
        return num / d
    except OverflowError:
        return INF if num > 0 else -INF


def div(a: float, b: float) -> float:
    """IEEE division: a zero divisor gives an infinity or NaN instead of an exception."""
    if b != 0.0:
        return a / b
    if a != a or a == 0.0:
        return NAN
    neg = (math.copysign(1.0, a) < 0) != (math.copysign(1.0, b) < 0)
    return -INF if neg else INF


def exp(x: float) -> float:
    try:
        return math.exp(x)
    except OverflowError:
        return INF


def ln(x: float) -> float:
    """Natural logarithm with IEEE semantics (log 0 is -inf, log of a negative is NaN)."""
    if x != x or x < 0:
        return NAN
    if x == 0:
        return -INF
    return math.log(x) if x != INF else INF


def sqrt(x: float) -> float:
    """IEEE square root: NaN for a negative or NaN argument."""
    if math.isnan(x) or x < 0:
        return NAN
    return math.sqrt(x)


def pw(x: float, y: float) -> float:
    try:
        return math.pow(x, y)
    except OverflowError:
        return INF


def fmin(a: float, b: float) -> float:
    """Minimum that ignores a NaN operand (C's fmin)."""
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return a if a < b else b


def fmax(a: float, b: float) -> float:
    """Maximum that ignores a NaN operand (C's fmax)."""
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return a if a > b else b


def std_max(a: float, b: float) -> float:
    """std::max(a, b): a unless a < b (a NaN first operand wins)."""
    return b if a < b else a


def std_min(a: float, b: float) -> float:
    """std::min(a, b): a unless b < a (a NaN first operand wins)."""
    return b if b < a else a


def clamp(v: float, lo: float, hi: float) -> float:
    """std::clamp: NaN passes through."""
    if v < lo:
        return lo
    if hi < v:
        return hi
    return v


def fin(x) -> bool:
    return x is not None and math.isfinite(x)


def round_half_away(x: float) -> float:
    if not math.isfinite(x):
        return x
    r = math.floor(abs(x) + 0.5)
    # floor(|x| + 0.5) can round up wrongly when |x| + 0.5 is inexact (x just below k + 0.5)
    if r - abs(x) > 0.5:
        r -= 1
    return math.copysign(r, x)


def plain_sum(values) -> float:
    """Left-to-right sum from -0.0, so a sum of nothing but negative zeros stays -0.0."""
    s = -0.0
    for v in values:
        s = s + v
    return s


def midpoint(a: float, b: float) -> float:
    """(a + b) / 2 without overflow: halves first when the sum could leave the double range."""
    if abs(a) <= HALF_MAX and abs(b) <= HALF_MAX:
        return (a + b) * 0.5
    return a * 0.5 + b * 0.5


def candle_valid(o: float, h: float, lo: float, c: float, v: float) -> bool:
    """The engine's candle acceptance: finite prices inside [low, high], a finite volume >= 0."""
    if not all(math.isfinite(x) for x in (o, h, lo, c)):
        return False
    if not math.isfinite(v) or v < 0:
        return False
    if lo > h or o > h or c > h or o < lo or c < lo:
        return False
    return True


# --- members -----------------------------------------------------------------------------------


class Member:
    """A member replayed over candle rows ending in (open, high, low, close, volume).

    push(candle) returns None (no value, a refused step included) or (value, extras) with extras
    a dict of the named secondary outputs. A close-input member sees only finite closes, through
    step(close); a candle-input member only valid candles, through on_candle(candle)."""

    candle_input = False

    def push(self, candle):
        o, h, lo, c, v = candle[-5:]
        if self.candle_input:
            if not candle_valid(o, h, lo, c, v):
                return None
            out = self.on_candle(candle)
        else:
            if not math.isfinite(c):
                return None
            out = self.step(c)
        if out is None:
            return None
        if isinstance(out, tuple):
            return out
        return out, {}


# --- cores shared by several families ---------------------------------------------------------


class Window:
    """The last n values, oldest first; push tells whether the window is full."""

    def __init__(self, n: int):
        self.n = n
        self.v: list = []

    def push(self, x) -> bool:
        self.v.append(x)
        if len(self.v) > self.n:
            self.v.pop(0)
        return len(self.v) == self.n


class RollingMean:
    """Mean of the last n finite values; the running sum is recomputed every 16n updates."""

    def __init__(self, n: int):
        self.n = n
        self.win: list[float] = []
        self.sum = 0.0
        self.updates = 0

    def push(self, x) -> Optional[float]:
        if not fin(x):
            return None
        if len(self.win) == self.n:
            oldest = self.win.pop(0)
            self.sum = x + (self.sum - oldest)
        else:
            self.sum = x + self.sum
        self.win.append(x)
        self.updates += 1
        if self.updates == 16 * self.n:
            self.sum = plain_sum(self.win)
            self.updates = 0
        if len(self.win) == self.n:
            return self.sum / self.n
        return None


class EmaCore:
    """EMA with alpha = 2 / (n + 1), seeded by the simple mean of the first n finite inputs."""

    def __init__(self, n: int):
        self.n = n
        self.alpha = 2.0 / (float(n) + 1.0)
        self.oma = 1.0 - self.alpha
        self.seed: list[float] = []
        self.ready = False
        self.value = 0.0

    def push(self, x) -> Optional[float]:
        if not fin(x):
            return None
        if self.ready:
            self.value = fma(self.alpha, x, self.oma * self.value)
            return self.value
        self.seed.append(x)
        if len(self.seed) == self.n:
            self.value = plain_sum(self.seed) / self.n
            self.ready = True
            return self.value
        return None


class WmaCore:
    """Linearly weighted mean (weights 1..n, newest heaviest) kept with running sums."""

    def __init__(self, n: int):
        self.n = n
        self.window: list[float] = []
        self.total = 0.0
        self.weighted = 0.0
        self.den = (float(n) + 1.0) * float(n) * 0.5

    def push(self, x) -> Optional[float]:
        if not fin(x):
            return None
        n = self.n
        if len(self.window) < n:
            self.window.append(x)
            self.total = x + self.total
            if len(self.window) < n:
                return None
            self.weighted = plain_sum(float(i + 1) * v for i, v in enumerate(self.window))
            return self.weighted / self.den
        oldest = self.window.pop(0)
        self.weighted = float(n) * x + (self.weighted - self.total)
        self.total = x + (self.total - oldest)
        self.window.append(x)
        return self.weighted / self.den


class Change:
    """The input minus the previous one; None for the first."""

    def __init__(self):
        self.prev = None

    def push(self, x):
        if self.prev is None:
            self.prev = x
            return None
        d = x - self.prev
        self.prev = x
        return d


class CmoCore:
    """Chande momentum over the last n changes: running sums of ups and downs."""

    def __init__(self, n: int):
        self.n = n
        self.change = Change()
        self.pairs: list[tuple[float, float]] = []
        self.su = 0.0
        self.sd = 0.0
        self.seen = 0

    def push(self, x):
        diff = self.change.push(x)
        if diff is None:
            return None
        up = std_max(diff, 0.0)
        down = std_max(-diff, 0.0)
        if len(self.pairs) == self.n:
            ou, od = self.pairs.pop(0)
            self.su = self.su - ou
            self.sd = self.sd - od
        self.pairs.append((up, down))
        self.su = self.su + up
        self.sd = self.sd + down
        self.seen += 1
        if self.seen < self.n:
            return None
        total = self.su + self.sd
        if total != 0.0:
            return div((self.su - self.sd) * 100.0, total)
        return 0.0


class ZlemaCore:
    """EMA of 2x - x[lag] with lag (n - 1) / 2; a non-finite de-lagged input is skipped."""

    def __init__(self, n: int):
        self.win = Window((n - 1) // 2 + 1)
        self.ema = EmaCore(n)

    def push(self, x):
        if not self.win.push(x):
            return None
        de = fma(2.0, x, -self.win.v[0])
        if not math.isfinite(de):
            return None
        return self.ema.push(de)


class SeededEma:
    """EMA with alpha = 2 / (n + 1) seeded by the mean of the first n inputs; no input check."""

    def __init__(self, n: int):
        self.n = n
        self.alpha = 2.0 / (float(n) + 1.0)
        self.seed: list[float] = []
        self.value: Optional[float] = None

    def push(self, x: float) -> Optional[float]:
        if self.value is None:
            self.seed.append(x)
            if len(self.seed) == self.n:
                self.value = plain_sum(self.seed) / self.n
            return self.value
        self.value = fma(self.alpha, x, (1.0 - self.alpha) * self.value)
        return self.value


class ShiftedVariance:
    """Window of n values with sums of deviations from a shift k: the first value ever pushed,
    then the window mean at each recomputation (every n pushes). The evicted value's terms
    leave before the new ones enter."""

    def __init__(self, n: int):
        self.n = n
        self.win: list[float] = []
        self.k: Optional[float] = None
        self.s1 = 0.0
        self.s2 = 0.0
        self.pushes = 0

    def push(self, x: float) -> bool:
        if self.k is None:
            self.k = x
        if len(self.win) == self.n:
            do = self.win.pop(0) - self.k
            self.s1 = self.s1 - do
            self.s2 = self.s2 - do * do
        self.win.append(x)
        d = x - self.k
        self.s1 = self.s1 + d
        self.s2 = self.s2 + d * d
        self.pushes += 1
        if self.pushes == self.n:
            self.pushes = 0
            self.k = plain_sum(self.win) / len(self.win)
            self.s1 = plain_sum(v - self.k for v in self.win)
            self.s2 = plain_sum((v - self.k) * (v - self.k) for v in self.win)
        return self.full()

    def full(self) -> bool:
        return len(self.win) == self.n


def true_range(h: float, l: float, prev: Optional[float]) -> float:
    """High minus low, widened to the previous close; the first candle has only its range."""
    if prev is None:
        return h - l
    return max(h - l, abs(h - prev), abs(l - prev))


class WilderAverage:
    """Mean of the first n inputs, then (avg·(n − 1) + x)·(1/n) with one fused multiply-add.
    An input, seed sum or average that is not finite is refused and changes nothing (a range or
    average that overflowed yields no value instead of poisoning every later one)."""

    def __init__(self, n: int):
        self.n = n
        self.inv = 1.0 / float(n)
        self.count = 0
        self.sum = -0.0
        self.value: Optional[float] = None

    def push(self, x: float) -> bool:
        """Whether x was taken; the average, once seeded, is in `value`."""
        if not math.isfinite(x):
            return False
        if self.value is None:
            s = x + self.sum
            if not math.isfinite(s):
                return False
            self.sum = s
            self.count += 1
            if self.count == self.n:
                self.value = self.sum / self.n
            return True
        v = fma(self.value, float(self.n) - 1.0, x) * self.inv
        if not math.isfinite(v):
            return False
        self.value = v
        return True


class AtrCore:
    """Wilder average of the true range; a refused candle leaves the previous close alone."""

    def __init__(self, n: int):
        self.prev: Optional[float] = None
        self.avg = WilderAverage(n)

    def push(self, h: float, l: float, c: float) -> bool:
        if not self.avg.push(true_range(h, l, self.prev)):
            return False
        self.prev = c
        return True

    @property
    def value(self) -> Optional[float]:
        return self.avg.value
