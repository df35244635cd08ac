"""Plain reference implementation of the rolling statistics and the derivatives metrics.

Written from the behaviour description alone, independently of the engine's C++ code, and kept
deliberately naive: every member recomputes what it can from plain Python lists, follows the
stated evaluation order, and uses the same running sums, anchors and re-summation cadence only
where the behaviour is defined by them. `run(name, params, candles, derivs)` replays a series and
returns, per step, None or a dict {"": value, extra name: value, ...}.

Beyond the plain formulas it keeps the few rules that make them sound: equal values are their own
mean and a flat window has no spread (exact zero moments, a flat fit), a variance that is NaN
because the sums left the double range stays NaN, and differences or ratios that would leave the
double range (quantile gaps, min-max ranges, entropy bin ranges, log-return ratios, correlation
roots, an overflowed path length) are formed so that they do not.
"""

from __future__ import annotations

import math

from .common import candle_valid, clamp, div, fma, ln, midpoint, plain_sum, pw


def mean(xs) -> float:
    # Equal values are their own mean: the rounded sum over n need not give the value back, and
    # the residue would fake a spread in a flat window.
    xs = list(xs)
    if all(x == xs[0] for x in xs):
        return xs[0]
    return plain_sum(xs) / len(xs)


def median(xs) -> float:
    s = sorted(xs)
    n = len(s)
    if n % 2:
        return s[n // 2]
    return midpoint(s[n // 2 - 1], s[n // 2])


def quantile(xs, q: float) -> float:
    s = sorted(xs)
    n = len(s)
    if n == 1:
        return s[0]
    pos = q * (n - 1)
    i = math.floor(pos)
    if i >= n - 1:
        return s[n - 1]
    frac = pos - i
    gap = s[i + 1] - s[i]
    if math.isfinite(gap):
        return s[i] + gap * frac
    # neighbours whose gap overflows: interpolate without forming the gap
    if frac == 0:
        return s[i]
    return s[i] * (1 - frac) + s[i + 1] * frac


def reg_constants(n: int):
    t1 = n * (n - 1) // 2
    st2 = (n - 1) * n * (2 * n - 1) // 6
    return float(t1), float(st2), float(n * st2 - t1 * t1)


# ---------------------------------------------------------------------------------------------
# Shared building blocks


class RollingSum:
    def __init__(self, n):
        self.n, self.win, self.sum, self.count = n, [], 0.0, 0

    def push(self, x):
        if len(self.win) == self.n:
            old = self.win.pop(0)
            self.sum -= old
        self.win.append(x)
        self.sum += x
        self.count += 1
        if self.count == self.n:
            self.sum = plain_sum(self.win)
            self.count = 0


class RollingMoments:
    def __init__(self, n):
        self.n, self.win, self.k = n, [], None
        self.s = [0.0, 0.0, 0.0, 0.0]
        self.count = 0

    @staticmethod
    def powers(d):
        # the text writes (x - K)^p; the square is formed once and reused
        d2 = d * d
        return (d, d2, d2 * d, d2 * d2)

    def push(self, x):
        if len(self.win) == self.n:
            old = self.win.pop(0)
            for p, v in enumerate(self.powers(old - self.k)):
                self.s[p] -= v
        self.win.append(x)
        if self.k is None:
            self.k = x
        for p, v in enumerate(self.powers(x - self.k)):
            self.s[p] += v
        self.count += 1
        if self.count == self.n:
            self.k = mean(self.win)
            self.s = [plain_sum(self.powers(v - self.k)[p] for v in self.win) for p in range(4)]
            self.count = 0

    def full(self):
        return len(self.win) == self.n

    def constant(self):
        return all(v == self.win[-1] for v in self.win)

    def stats(self):
        # a flat window has no spread, whatever residue the shifted sums hold
        if self.constant():
            return self.win[-1], 0.0, 0.0, 0.0
        n = self.n
        s1, s2, s3, s4 = self.s
        d = s1 / n
        m = self.k + d
        var = s2 / n - d * d
        var = 0.0 if var < 0 else var  # a NaN (sums beyond the double range) stays NaN
        m3 = s3 / n - 3 * d * s2 / n + 2 * d * d * d
        m4 = s4 / n - 4 * d * s3 / n + 6 * d * d * s2 / n - 3 * d * d * d * d
        return m, var, m3, m4


class RollingRegression:
    def __init__(self, n):
        self.n, self.win, self.k = n, [], None
        self.sy = self.sty = self.syy = 0.0
        self.count = 0
        self.t1, self.st2, self.d = reg_constants(n)

    def push(self, y):
        if len(self.win) == self.n:
            e = self.win.pop(0) - self.k
            self.sty = self.sty - self.sy + e
            self.sy = self.sy - e
            self.syy = self.syy - e * e
        t = len(self.win)
        self.win.append(y)
        if self.k is None:
            self.k = y
        dv = y - self.k
        self.sy += dv
        self.sty += t * dv
        self.syy += dv * dv
        self.count += 1
        if self.count == self.n:
            self.k = mean(self.win)
            self.sy = plain_sum(v - self.k for v in self.win)
            self.sty = plain_sum(i * (v - self.k) for i, v in enumerate(self.win))
            self.syy = plain_sum((v - self.k) * (v - self.k) for v in self.win)
            self.count = 0

    def full(self):
        return len(self.win) == self.n

    def constant(self):
        return all(v == self.win[-1] for v in self.win)

    def line(self):
        if self.constant():
            return self.win[-1], 0.0
        n = self.n
        b = (n * self.sty - self.t1 * self.sy) / self.d
        a = self.k + (self.sy - self.t1 * b) / n
        return a, b


class Window:
    def __init__(self, n):
        self.n, self.win = n, []

    def push(self, x):
        if len(self.win) == self.n:
            self.win.pop(0)
        self.win.append(x)
        return len(self.win) == self.n


# ---------------------------------------------------------------------------------------------
# Close-input members


class Moment:
    def __init__(self, kind, period):
        self.kind, self.m = kind, RollingMoments(period)

    def push(self, x):
        self.m.push(x)
        if not self.m.full():
            return None
        mu, var, m3, m4 = self.m.stats()
        k = self.kind
        if k == "Variance":
            return var
        if k == "StdDev":
            return math.sqrt(var)
        if k == "ZScore":
            return 0.0 if var == 0 else (x - mu) / math.sqrt(var)
        if k == "CoefficientOfVariation":
            return 0.0 if mu == 0 else math.sqrt(var) / mu
        if k == "Skewness":
            return 0.0 if var == 0 else m3 / pw(var, 1.5)
        if k == "Kurtosis":
            return 0.0 if var == 0 else m4 / (var * var) - 3
        raise AssertionError(k)


class JarqueBera(Window):
    def push(self, x):
        if not super().push(x):
            return None
        w, n = self.win, self.n
        mu = mean(w)
        m2 = plain_sum(pw(v - mu, 2) for v in w) / n
        m3 = plain_sum(pw(v - mu, 3) for v in w) / n
        m4 = plain_sum(pw(v - mu, 4) for v in w) / n
        if m2 == 0:
            return 0.0
        s = m3 / pw(m2, 1.5)
        k = m4 / (m2 * m2) - 3
        return (n / 6) * (s * s + k * k / 4)


class Regression:
    def __init__(self, kind, period):
        self.kind, self.r, self.last = kind, RollingRegression(period), None

    def push(self, x):
        self.r.push(x)
        if not self.r.full():
            return None
        a, b = self.r.line()
        n, k = self.r.n, self.kind
        if k == "LinearRegression":
            return a + b * (n - 1)
        if k == "Tsf":
            return a + b * n
        if k == "LinRegSlope":
            return b
        if k == "LinRegIntercept":
            return a
        if k == "LinRegAngle":
            return math.atan(b) * 57.29577951308232
        if k == "RSquared":
            if self.r.constant():
                return 1.0
            ss = max(self.r.syy - self.r.sy * self.r.sy / n, 0.0)
            if ss <= 0:
                return 1.0
            return clamp(b * b * (self.r.d / n) / ss, 0.0, 1.0)
        if k in ("Cfo", "TsfOscillator"):
            if x == 0:
                return self.last
            fit = a + b * (n - 1) if k == "Cfo" else a + b * n
            self.last = (x - fit) * 100 / x
            return self.last
        raise AssertionError(k)


class Detrended(Window):
    def __init__(self, standard_error, period):
        super().__init__(period)
        self.se = standard_error
        self.d = reg_constants(period)[2]

    def push(self, x):
        if not super().push(x):
            return None
        n, f = self.n, self.win[0]
        u = [v - f for v in self.win]
        ub = plain_sum(u) / n
        tb = (n - 1) / 2
        beta = plain_sum((ui - ub) * (i - tb) for i, ui in enumerate(u)) / (self.d / n)
        r = [ui - ub - beta * (i - tb) for i, ui in enumerate(u)]
        ss = plain_sum(ri * ri for ri in r)
        return math.sqrt(ss / (n - 2)) if self.se else math.sqrt(ss / n)


class Cti(Window):
    def push(self, x):
        if not super().push(x):
            return None
        n = self.n
        t1, st2, _ = reg_constants(n)
        mu = mean(self.win)
        ls = [v - mu for v in self.win]
        sl = plain_sum(ls)
        num = n * plain_sum(i * li for i, li in enumerate(ls)) - t1 * sl
        spread = n * plain_sum(li * li for li in ls) - sl * sl
        d = n * st2 - t1 * t1
        den = spread * d
        # a negative spread is rounding in a window without spread; a product beyond the double
        # range is rooted factor by factor
        if den == 0 or spread < 0:
            return 0.0
        root = math.sqrt(den) if math.isfinite(den) else math.sqrt(spread) * math.sqrt(d)
        return clamp(num / root, -1.0, 1.0)


class Autocorrelation(Window):
    def __init__(self, period, lag):
        super().__init__(period)
        self.lag = lag

    def push(self, x):
        if not super().push(x):
            return None
        w, n, lag = self.win, self.n, self.lag
        mu = mean(w)
        den = plain_sum((v - mu) * (v - mu) for v in w)
        num = plain_sum((w[i + lag] - mu) * (w[i] - mu) for i in range(n - lag))
        return 0.0 if den == 0 else num / den


class Hurst(Window):
    def __init__(self, period, chunks):
        super().__init__(period)
        self.chunks = chunks

    def push(self, x):
        if not super().push(x):
            return None
        w, n = self.win, self.n
        pts = []
        for k in range(1, self.chunks + 1):
            v = n // k
            rs = []
            for c in range(k):
                ch = w[c * v:(c + 1) * v]
                g = mean(ch)
                y, ys = -0.0, []
                for xi in ch:
                    y += xi - g
                    ys.append(y)
                r = max(ys) - min(ys)
                s = math.sqrt(plain_sum((xi - g) * (xi - g) for xi in ch) / v)
                if s == 0 or r == 0:
                    continue
                rs.append(r / s)
            if rs:
                pts.append((math.log(v), ln(plain_sum(rs) / len(rs))))
        if len(pts) < 2:
            return 0.5
        mx = mean([p[0] for p in pts])
        my = mean([p[1] for p in pts])
        sxy = plain_sum((px - mx) * (py - my) for px, py in pts)
        sxx = plain_sum((px - mx) * (px - mx) for px, _ in pts)
        if sxx == 0:
            return 0.5  # every point at one chunk size: no slope to fit
        return clamp(sxy / sxx, 0.0, 1.0)


class SampleEntropy(Window):
    def __init__(self, period, m, r_factor):
        super().__init__(period)
        self.m, self.rf = m, r_factor

    def push(self, x):
        if not super().push(x):
            return None
        w, n, m = self.win, self.n, self.m
        mu = mean(w)
        var = plain_sum((v - mu) * (v - mu) for v in w) / n
        if var == 0:
            return 0.0
        r = math.sqrt(var) * self.rf
        a = b = 0
        last = n - m - 1
        for i in range(last + 1):
            for j in range(i + 1, last + 1):
                if all(abs(w[i + d] - w[j + d]) <= r for d in range(m)):
                    b += 1
                    if abs(w[i + m] - w[j + m]) <= r:
                        a += 1
        if b == 0:
            return 0.0
        if a > 0:
            return -math.log(a / b)
        return math.log(b)


class ShannonEntropy(Window):
    def __init__(self, period, bins):
        super().__init__(period)
        self.bins = bins

    def push(self, x):
        if not super().push(x):
            return None
        lo, hi = min(self.win), max(self.win)
        if hi <= lo:
            return 0.0
        # A range beyond the double range is binned on halved values (same bins); a bin
        # position that is NaN (zero width after underflow, at the minimum) is the first bin.
        sc = 1.0 if math.isfinite(hi - lo) else 0.5
        width = (hi * sc - lo * sc) / self.bins
        counts = [0] * self.bins
        for v in self.win:
            pos = div(v * sc - lo * sc, width)
            b = self.bins - 1 if pos >= self.bins - 1 else (math.floor(pos) if pos > 0 else 0)
            counts[b] += 1
        s = -0.0
        for c in counts:
            if c:
                p = c / self.n
                s += p * math.log2(p)
        return -s


class Order(Window):
    def __init__(self, kind, period, q=None):
        super().__init__(period)
        self.kind, self.q = kind, q

    def push(self, x):
        if not super().push(x):
            return None
        w, n, k = self.win, self.n, self.kind
        if k == "RollingQuantile":
            return quantile(w, self.q)
        if k == "RollingIqr":
            return 0.0 if n == 1 else quantile(w, 0.75) - quantile(w, 0.25)
        if k == "MedianAbsoluteDeviation":
            m = median(w)
            return median([abs(v - m) for v in w])
        if k == "RollingPercentileRank":
            below = sum(1 for v in w if v < x)
            equal = sum(1 for v in w if v == x)
            return (below + 0.5 * equal) / n * 100
        if k == "RollingMinMaxScaler":
            lo, hi = min(w), max(w)
            rng = hi - lo
            if not rng > 0:
                return 0.5
            if not math.isfinite(rng):  # halving both sides keeps the ratio in range
                return (x * 0.5 - lo * 0.5) / (hi * 0.5 - lo * 0.5)
            return (x - lo) / rng
        raise AssertionError(k)


class LogReturn(Window):
    def __init__(self, period):
        super().__init__(period + 1)

    def push(self, x):
        if x <= 0:
            return "skip"
        if not super().push(x):
            return None
        ratio = self.win[-1] / self.win[0]
        # a ratio outside the normal range has lost digits (or everything): take logs apart
        if not 2.2250738585072014e-308 <= ratio <= 1.7976931348623157e308:
            return math.log(self.win[-1]) - math.log(self.win[0])
        return math.log(ratio)


class Pfe:
    def __init__(self, period, smoothing):
        self.n, self.s = period, smoothing
        self.alpha = 2 / (smoothing + 1)
        self.prev = None
        self.segs, self.closes = [], []
        self.total = 0.0
        self.seed, self.ema = [], None

    def push(self, x):
        if self.prev is not None:
            d = x - self.prev
            seg = math.sqrt(fma(d, d, 1.0))
            if len(self.segs) == self.n:
                self.total -= self.segs.pop(0)
            self.segs.append(seg)
            self.total += seg
            # an overflowed segment would poison the add-and-subtract total forever
            if not math.isfinite(self.total):
                self.total = plain_sum(self.segs)
        self.prev = x
        self.closes.append(x)
        if len(self.closes) > self.n + 1:
            self.closes.pop(0)
        if len(self.closes) < self.n + 1:
            return None
        dn = self.closes[-1] - self.closes[0]
        sign = 100.0 if dn > 0 else (-100.0 if dn < 0 else 0.0)
        raw = math.sqrt(dn * dn + float(self.n) * float(self.n)) * sign / self.total
        if not math.isfinite(raw):
            return None
        if self.ema is None:
            self.seed.append(raw)
            if len(self.seed) < self.s:
                return None
            self.ema = plain_sum(self.seed) / self.s
            return self.ema
        self.ema = fma(self.alpha, raw, (1 - self.alpha) * self.ema)
        return self.ema


class SeasonalZScore:
    def __init__(self, offset):
        self.offset = offset
        self.slots = [[0, 0.0, 0.0] for _ in range(24)]
        self.prev = None

    def push(self, ts, close):
        if self.prev is None:
            self.prev = close
            return None
        h = ((ts // 1000 + 60 * self.offset) % 86400) // 3600
        r = 0.0 if self.prev == 0 else close / self.prev - 1
        slot = self.slots[h]
        n, mu, m2 = slot
        z = 0.0
        if n > 1 and m2 / (n - 1) > 0:
            z = (r - mu) / math.sqrt(m2 / (n - 1))
        mu_new = mu + (r - mu) / (n + 1)
        slot[:] = [n + 1, mu_new, m2 + (r - mu_new) * (r - mu)]
        self.prev = close
        return z if n >= 2 else None


class Derivs:
    EXTRAS = ("long", "short", "net", "total", "imbalance")

    def __init__(self, kind, *params):
        self.kind, self.params = kind, params
        self.prev_oi = None
        self.ring = []
        self.tot_px = self.tot_oi = 0.0
        if kind == "FundingRateMean":
            self.rs = RollingSum(params[0])
        if kind == "FundingRateZScore":
            self.rm = RollingMoments(params[0])

    def push(self, t):
        k = self.kind
        f = t["funding_rate"]
        mark, index, fut = t["mark_price"], t["index_price"], t["futures_price"]
        oi = t["open_interest"]
        if k == "FundingRate":
            return f
        if k == "FundingImpliedApr":
            return f * self.params[0]
        if k == "FundingRateMean":
            self.rs.push(f)
            return self.rs.sum / self.rs.n if len(self.rs.win) == self.rs.n else None
        if k == "FundingRateZScore":
            self.rm.push(f)
            if not self.rm.full():
                return None
            mu, var, _, _ = self.rm.stats()
            return 0.0 if var == 0 else (f - mu) / math.sqrt(var)
        if k in ("FundingBasis", "PerpetualPremiumIndex"):
            return (mark - index) / index
        if k == "TermStructureBasis":
            return (fut - index) / index
        if k == "CalendarSpread":
            return (fut - mark) / mark
        if k == "OpenInterestDelta":
            prev, self.prev_oi = self.prev_oi, oi
            return None if prev is None else oi - prev
        if k in ("OpenInterestMomentum", "OIPriceDivergence"):
            self.ring.append((oi, mark))
            if len(self.ring) > self.params[0] + 1:
                self.ring.pop(0)
            if len(self.ring) < self.params[0] + 1:
                return None
            (o0, p0), (o1, p1) = self.ring[0], self.ring[-1]
            if k == "OpenInterestMomentum":
                return (o1 - o0) * 100 / o0 if o0 > 0 else 0.0
            oi_change = (o1 - o0) / o0 if o0 != 0 else 0.0
            return oi_change - (p1 - p0) / p0
        if k == "OIWeighted":
            self.tot_px += mark * oi
            self.tot_oi += oi
            return mark if self.tot_oi == 0 else self.tot_px / self.tot_oi
        if k == "OiToVolumeRatio":
            s = t["taker_buy_volume"] + t["taker_sell_volume"]
            return oi / s if s > 0 else 0.0
        if k == "EstimatedLeverageRatio":
            s = t["long_size"] + t["short_size"]
            return oi / s if s > 0 else 0.0
        if k == "LongShortRatio":
            return 0.0 if t["short_size"] == 0 else t["long_size"] / t["short_size"]
        if k == "TakerBuySellRatio":
            sell = t["taker_sell_volume"]
            return 0.0 if sell == 0 else t["taker_buy_volume"] / sell
        if k == "LiquidationFeatures":
            lq, sq = t["long_liquidation"], t["short_liquidation"]
            tot = lq + sq
            imb = 0.0 if tot == 0 else (lq - sq) / tot
            return {"": lq, "long": lq, "short": sq, "net": lq - sq, "total": tot, "imbalance": imb}
        raise AssertionError(k)


MOMENTS = ["StdDev", "Variance", "ZScore", "CoefficientOfVariation", "Skewness", "Kurtosis"]
REGRESSIONS = ["RSquared", "LinearRegression", "LinRegSlope", "LinRegIntercept", "LinRegAngle",
               "Tsf", "TsfOscillator", "Cfo"]
ORDERS = ["RollingQuantile", "RollingPercentileRank", "RollingIqr", "MedianAbsoluteDeviation",
          "RollingMinMaxScaler"]
DERIVS = ["FundingRate", "FundingImpliedApr", "FundingRateMean", "FundingRateZScore",
          "FundingBasis", "PerpetualPremiumIndex", "TermStructureBasis", "CalendarSpread",
          "OpenInterestDelta", "OpenInterestMomentum", "OIPriceDivergence", "OIWeighted",
          "OiToVolumeRatio", "EstimatedLeverageRatio", "LongShortRatio", "TakerBuySellRatio",
          "LiquidationFeatures"]

EXTRAS = {"LiquidationFeatures": Derivs.EXTRAS}


def make(name, params):
    if name in MOMENTS:
        return Moment(name, *params)
    if name in REGRESSIONS:
        return Regression(name, *params)
    if name in ORDERS:
        return Order(name, *params)
    if name in DERIVS:
        return Derivs(name, *params)
    return {
        "JarqueBera": JarqueBera,
        "DetrendedStdDev": lambda p: Detrended(False, p),
        "StandardError": lambda p: Detrended(True, p),
        "CorrelationTrendIndicator": Cti,
        "Autocorrelation": Autocorrelation,
        "HurstExponent": Hurst,
        "SampleEntropy": SampleEntropy,
        "ShannonEntropy": ShannonEntropy,
        "LogReturn": LogReturn,
        "PolarizedFractalEfficiency": Pfe,
        "SeasonalZScore": SeasonalZScore,
    }[name](*params)


def run(name, params, candles, derivs=None):
    """candles: (ts, open, high, low, close, volume) tuples; derivs: one tick dict (or None for an
    absent tick) per candle. Returns per step None or {"": value, extra: value, ...}."""
    member = make(name, params)
    out = []
    for i, (ts, o, h, lo, c, v) in enumerate(candles):
        if name in DERIVS:
            tick = derivs[i] if derivs is not None else None
            got = None if tick is None else member.push(tick)
        elif name == "SeasonalZScore":
            got = member.push(ts, c) if candle_valid(o, h, lo, c, v) else None
        elif not math.isfinite(c):
            got = None
        else:
            got = member.push(c)
            if got == "skip":
                got = None
        if got is not None and not isinstance(got, dict):
            got = {"": got}
        out.append(got)
    return out
