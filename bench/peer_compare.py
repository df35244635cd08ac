"""Times our indicators against the peer batch library on the same million candles.

Runs the C++ replay benchmark for every registered indicator, then the peer's functions on the
candles that benchmark dumped, and writes bench/results.md: the side-by-side table for the members
whose definitions coincide after warm-up, and the per-member table with the outliers of each
family.

    python bench/peer_compare.py BENCH_BINARY [--steps N] [--out bench/results.md]
"""

from __future__ import annotations

import argparse
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

# (our name, our params, peer function, peer call on (o, h, l, c, v))
PAIRS = [
    ("Sma", [20], "SMA", lambda t, o, h, l, c, v: t.SMA(c, 20)),
    ("Ema", [20], "EMA", lambda t, o, h, l, c, v: t.EMA(c, 20)),
    ("Wma", [20], "WMA", lambda t, o, h, l, c, v: t.WMA(c, 20)),
    ("Dema", [20], "DEMA", lambda t, o, h, l, c, v: t.DEMA(c, 20)),
    ("Tema", [20], "TEMA", lambda t, o, h, l, c, v: t.TEMA(c, 20)),
    ("Trima", [20], "TRIMA", lambda t, o, h, l, c, v: t.TRIMA(c, 20)),
    ("T3", [5, 0.7], "T3", lambda t, o, h, l, c, v: t.T3(c, 5, 0.7)),
    ("Kama", [10, 2, 30], "KAMA", lambda t, o, h, l, c, v: t.KAMA(c, 10)),
    ("MidPoint", [14], "MIDPOINT", lambda t, o, h, l, c, v: t.MIDPOINT(c, 14)),
    ("MidPrice", [14], "MIDPRICE", lambda t, o, h, l, c, v: t.MIDPRICE(h, l, 14)),
    ("Rsi", [14], "RSI", lambda t, o, h, l, c, v: t.RSI(c, 14)),
    ("MacdIndicator", [12, 26, 9], "MACD", lambda t, o, h, l, c, v: t.MACD(c, 12, 26, 9)),
    ("Mom", [10], "MOM", lambda t, o, h, l, c, v: t.MOM(c, 10)),
    ("Roc", [10], "ROC", lambda t, o, h, l, c, v: t.ROC(c, 10)),
    ("Cmo", [14], "CMO", lambda t, o, h, l, c, v: t.CMO(c, 14)),
    ("Trix", [15], "TRIX", lambda t, o, h, l, c, v: t.TRIX(c, 15)),
    ("Apo", [12, 26], "APO", lambda t, o, h, l, c, v: t.APO(c, 12, 26)),
    ("Ppo", [12, 26], "PPO", lambda t, o, h, l, c, v: t.PPO(c, 12, 26)),
    ("BollingerBands", [20, 2], "BBANDS", lambda t, o, h, l, c, v: t.BBANDS(c, 20, 2, 2)),
    ("Atr", [14], "ATR", lambda t, o, h, l, c, v: t.ATR(h, l, c, 14)),
    ("Natr", [14], "NATR", lambda t, o, h, l, c, v: t.NATR(h, l, c, 14)),
    ("TrueRange", [], "TRANGE", lambda t, o, h, l, c, v: t.TRANGE(h, l, c)),
    ("StdDev", [20], "STDDEV", lambda t, o, h, l, c, v: t.STDDEV(c, 20)),
    ("Variance", [20], "VAR", lambda t, o, h, l, c, v: t.VAR(c, 20)),
    ("LinearRegression", [14], "LINEARREG", lambda t, o, h, l, c, v: t.LINEARREG(c, 14)),
    ("LinRegSlope", [14], "LINEARREG_SLOPE", lambda t, o, h, l, c, v: t.LINEARREG_SLOPE(c, 14)),
    ("LinRegIntercept", [14], "LINEARREG_INTERCEPT",
     lambda t, o, h, l, c, v: t.LINEARREG_INTERCEPT(c, 14)),
    ("LinRegAngle", [14], "LINEARREG_ANGLE", lambda t, o, h, l, c, v: t.LINEARREG_ANGLE(c, 14)),
    ("Tsf", [14], "TSF", lambda t, o, h, l, c, v: t.TSF(c, 14)),
]


def run_ours(binary: str, steps: int, dump: str, only: list[str] | None) -> dict[str, float]:
    cmd = [binary, "--steps", str(steps), "--dump", dump]
    if only:
        cmd += ["--only", *only]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    rows = {}
    for line in out.splitlines()[1:]:
        name, family, params, ns, ns_block = line.split("\t")
        rows[name] = (family, params, float(ns), float(ns_block))
    return rows


def time_peer(fn, talib, cols, steps: int) -> float:
    best = float("inf")
    for _ in range(3):
        t0 = time.thread_time()
        fn(talib, *cols)
        best = min(best, time.thread_time() - t0)
    return best * 1e9 / steps


def machine() -> str:
    model = platform.processor() or "unknown cpu"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    cxx = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, " \
           f"{cxx[0] if cxx else 'c++'}, Python {platform.python_version()}"


def replace_between(text: str, name: str, body: str) -> str:
    start, end = f"<!-- {name}:start -->", f"<!-- {name}:end -->"
    i, j = text.find(start), text.find(end)
    if i < 0 or j < 0:
        return text
    return text[: i + len(start)] + "\n" + body.rstrip("\n") + "\n" + text[j:]


def update_readme(result_lines: list[str], catalogue: str) -> None:
    """Regenerates the README's performance and catalogue sections from this run."""
    readme = Path(__file__).resolve().parent.parent / "README.md"
    text = readme.read_text()
    # The performance section is the results file up to the per-member table.
    body = "\n".join(result_lines)
    cut = body.find("## Every registered member")
    perf = body[:cut] if cut >= 0 else body
    perf = perf.replace("# Benchmark results\n", "").replace("## ", "### ")
    text = replace_between(text, "bench", perf.strip() + "\n\nFull per-member figures: "
                           "[bench/results.md](bench/results.md).")
    text = replace_between(text, "catalogue", catalogue)
    readme.write_text(text)


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("binary")
    ap.add_argument("--steps", type=int, default=1_000_000)
    ap.add_argument("--out", default=str(Path(__file__).with_name("results.md")))
    args = ap.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        dump = os.path.join(tmp, "candles.f64")
        print("timing every registered indicator ...", file=sys.stderr)
        every = run_ours(args.binary, args.steps, dump, None)
        only = [f"{n}={','.join(str(p) for p in ps)}" for n, ps, _, _ in PAIRS if n in every]
        print("timing the side-by-side members ...", file=sys.stderr)
        paired = run_ours(args.binary, args.steps, dump, only) if only else {}
        data = np.fromfile(dump, dtype=np.float64).reshape(6, args.steps)
    o, h, l, c, v = (np.ascontiguousarray(data[i]) for i in range(5))

    try:
        import talib  # noqa: PLC0415  (benchmark-only dependency)
    except ImportError:
        talib = None

    lines = ["# Benchmark results", "",
             f"Machine: {machine()}.", "",
             f"Each figure is the best of three replays of {args.steps:,} valid candles "
             "(random walk; book, trade, derivatives and cross-section steps for the members that "
             "read them), in nanoseconds per step of thread CPU time.", ""]
    lines += ["## Side by side with the peer batch library", ""]
    if talib is None:
        lines += ["The peer library could not be imported; no side-by-side table.", ""]
    else:
        lines += [f"Peer: the `ta-lib` wheel {talib.__version__} (its C core, batch calls over "
                  "numpy arrays). Ours: one virtual update per step, and the block loop the build runs (one call per 256 steps, identical values).", "",
                  "| member | params | ours ns/update | ours ns/step, build loop | peer ns/step | "
                  "ratio (build loop/peer) |",
                  "|---|---|---:|---:|---:|---:|"]
        for name, params, peer_name, fn in PAIRS:
            if name not in paired:
                continue
            ours, ours_block = paired[name][2], paired[name][3]
            peer = time_peer(fn, talib, (o, h, l, c, v), args.steps)
            lines.append(f"| {name} ({peer_name}) | {','.join(str(p) for p in params)} | "
                         f"{ours:.2f} | {ours_block:.2f} | {peer:.2f} | {ours_block / peer:.2f} |")
        lines.append("")

    lines += ["## A full build", ""]
    build = subprocess.run([args.binary, "--build", "--steps", str(args.steps)], check=True,
                           capture_output=True, text=True).stdout
    b = dict(line.split("\t") for line in build.splitlines())
    lines += [f"A build (plan, replay and rows, without JSON) of {b['features']} typical features "
              f"({b['evaluators']} distinct evaluators) over one symbol of {args.steps:,} candles: "
              f"{float(b['build_ns_per_step']):.1f} ns per step, against "
              f"{float(b['members_ns_per_step']):.1f} ns for the members' own update loops: "
              f"ratio {float(b['ratio']):.2f}.", ""]

    lines += ["## Every registered member", "",
              "Members far above their family's median (more than 5x) are marked with *.", "",
              "| member | family | example params | ns/update | ns/step, build loop |",
              "|---|---|---|---:|---:|"]
    medians = {}
    for fam in {r[0] for r in every.values()}:
        medians[fam] = statistics.median(r[2] for r in every.values() if r[0] == fam)
    for name, (fam, params, ns, ns_block) in sorted(every.items(), key=lambda kv: (kv[1][0], kv[0])):
        mark = " *" if ns > 5 * medians[fam] else ""  # far above the family's median
        lines.append(f"| {name}{mark} | {fam} | {params} | {ns:.2f} | {ns_block:.2f} |")
    lines.append("")
    Path(args.out).write_text("\n".join(lines))
    print(f"wrote {args.out}", file=sys.stderr)
    catalogue = subprocess.run([args.binary, "--catalogue"], check=True, capture_output=True,
                               text=True).stdout
    update_readme(lines, catalogue)
    return 0


if __name__ == "__main__":
    sys.exit(main())
