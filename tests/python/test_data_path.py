"""Market data in, tables out: documents and feeds, builds, rendering, the streaming universe and
the command-line entry point."""

from __future__ import annotations

import io
import json
import math
import os
import subprocess
import sys

import pytest

from ostrel_feature_store._ostrel_feature_store import FeatureStore

PRICE_CLOSE = {"kind": "price", "field": "close"}


def make_store(features=None, **extra) -> FeatureStore:
    spec = {"universe": ["A"], "features": features or [PRICE_CLOSE], **extra}
    return FeatureStore(json.dumps(spec))


def run(store: FeatureStore, **command) -> str:
    return store.command(json.dumps(command))


def fails(store: FeatureStore, **command) -> str:
    with pytest.raises(ValueError) as e:
        store.command(json.dumps(command))
    return str(e.value)


def available(*names: str) -> bool:
    feats = [{"kind": "indicator", "name": n, "params": [3]} for n in names]
    try:
        make_store(feats)
    except ValueError as e:
        return "unknown indicator type" not in str(e)
    return True


def bar(ts, close, high=None, low=None, volume=1.0):
    high = close if high is None else high
    low = close if low is None else low
    return [ts, close, high, low, close, volume]


BOOK = {"bids": [[99, 1]], "asks": [[101, 1]]}


def series(n, **feeds):
    doc = {"candles": [bar(i, 100.0 + i) for i in range(n)]}
    doc.update(feeds)
    return doc


def table(text: str) -> dict:
    return json.loads(text)


# --- documents and feed checks ------------------------------------------------------------

BATCH_CASES = [
    (
        "array and object candles decode alike",
        {"A": [[1, 1, 2, 0.5, 1.5, 10], {"ts": 2, "open": 1, "high": 2, "low": 0.5, "close": 1.5, "volume": 10}]},
        '{"columns":["price.close"],"index":[{"symbol":"A","ts":1},{"symbol":"A","ts":2}],'
        '"data":[[1.5],[1.5]],"rows":2}',
    ),
    (
        "symbols in byte order",
        {"b": [bar(3, 3)], "B": [bar(2, 2)], "A": [bar(1, 1)]},
        '{"columns":["price.close"],"index":[{"symbol":"A","ts":1},{"symbol":"B","ts":2},'
        '{"symbol":"b","ts":3}],"data":[[1],[2],[3]],"rows":3}',
    ),
    (
        "zero candles and no feeds",
        {"Z": {"candles": []}},
        '{"columns":["price.close"],"index":[],"data":[],"rows":0}',
    ),
    ("empty data", {}, '{"columns":["price.close"],"index":[],"data":[],"rows":0}'),
    (
        "unread feeds are offered and ignored",
        {"A": series(2, reference=[bar(0, 5), bar(1, 6)], books=[BOOK, BOOK], trades=[[], []])},
        '{"columns":["price.close"],"index":[{"symbol":"A","ts":0},{"symbol":"A","ts":1}],'
        '"data":[[100],[101]],"rows":2}',
    ),
    (
        "fractional timestamp",
        {"A": [[1.5, 1, 1, 1, 1, 1]]},
        "parse: data did not match any variant of untagged enum SymbolInputDoc",
    ),
    (
        "series without candles",
        {"A": {"books": []}},
        "parse: data did not match any variant of untagged enum SymbolInputDoc",
    ),
    (
        "books shorter than candles",
        {"SYM": series(5, books=[BOOK] * 4)},
        "data: SYM: books feed length 4 does not match 5 candles",
    ),
    (
        "reference is checked first",
        {"SYM": series(5, books=[BOOK] * 4, reference=[bar(0, 1)] * 4)},
        "data: SYM: reference feed length 4 does not match 5 candles",
    ),
    (
        "present but empty feed",
        {"SYM": series(1, sections=[])},
        "data: SYM: sections feed length 0 does not match 1 candles",
    ),
    (
        "crossed book although no feature reads books",
        {"SYM": series(1, books=[{"bids": [[101, 1]], "asks": [[100, 1]]}])},
        "data: SYM: malformed feed entry: invalid input data: invalid order book: "
        "order book must be uncrossed (best_bid < best_ask)",
    ),
    (
        "level checked before empty side",
        {"SYM": series(1, books=[{"bids": [], "asks": [[0, 1]]}])},
        "data: SYM: malformed feed entry: invalid input data: invalid order book: "
        "level price must be finite and positive",
    ),
    (
        "derivatives before books",
        {
            "SYM": series(
                1,
                books=[{"bids": [], "asks": [[0, 1]]}],
                derivs=[[0.1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0]],
            )
        },
        "data: SYM: malformed feed entry: invalid input data: invalid derivatives tick: "
        "mark_price, index_price and futures_price must be finite and positive",
    ),
    (
        "bad trade",
        {"SYM": series(1, trades=[[[100, -1, "buy", 0]]])},
        "data: SYM: malformed feed entry: invalid input data: invalid trade: "
        "trade size must be finite and non-negative",
    ),
    (
        "first failing symbol in order",
        {"B": series(2, books=[BOOK]), "A": series(1, books=[{"bids": [[101, 1]], "asks": [[100, 1]]}])},
        "data: A: malformed feed entry: invalid input data: invalid order book: "
        "order book must be uncrossed (best_bid < best_ask)",
    ),
]


@pytest.mark.parametrize("data,want", [c[1:] for c in BATCH_CASES], ids=[c[0] for c in BATCH_CASES])
def test_build_batch_documents(data, want):
    store = make_store()
    if want.startswith("{"):
        assert run(store, cmd="build_batch", data=data) == want
    else:
        assert fails(store, cmd="build_batch", data=data) == want


ENVELOPE_CASES = [
    ("missing data", {"cmd": "build_batch"}, 'bad spec: missing field "data"'),
    ("data not a map", {"cmd": "build_batch", "data": [1]}, "parse: invalid type"),
    ("format refused", {"cmd": "build_batch", "data": {}, "format": "arrow"}, "output: unsupported format over FFI: arrow"),
    ("push without symbol", {"cmd": "push", "candle": bar(1, 1)}, 'bad spec: missing string field "symbol"'),
    ("push without candle", {"cmd": "push", "symbol": "A"}, 'bad spec: missing field "candle"'),
    ("push bad candle", {"cmd": "push", "symbol": "A", "candle": {"ts": 1}}, "parse: missing field `open`"),
    (
        "push bad feeds",
        {"cmd": "push", "symbol": "A", "candle": bar(1, 1), "feeds": {"reference": "x"}},
        "parse: invalid type",
    ),
    (
        "push_batch third candle lacks close",
        {"cmd": "push_batch", "symbol": "A", "candles": [bar(1, 1), bar(2, 2), {"ts": 3, "open": 1, "high": 1, "low": 1, "volume": 1}]},
        "parse: missing field `close`",
    ),
]


@pytest.mark.parametrize("command,want", [c[1:] for c in ENVELOPE_CASES], ids=[c[0] for c in ENVELOPE_CASES])
def test_failed_commands_store_nothing(command, want):
    store = make_store()
    run(store, cmd="push", symbol="K", candle=bar(0, 7))
    before = run(store, cmd="build")
    assert fails(store, **command).startswith(want)
    assert run(store, cmd="build") == before


@pytest.mark.skipif(not available("OrderFlowImbalance", "KylesLambda"), reason="microstructure not built")
def test_missing_feeds():
    ofi = make_store([{"kind": "microstructure", "metric": "OrderFlowImbalance", "params": [3]}])
    assert fails(ofi, cmd="build_batch", data={"S": series(2)}) == (
        "OrderFlowImbalance needs the books feed, which this build does not supply"
    )
    kl = make_store([{"kind": "indicator", "name": "KylesLambda", "params": [3]}])
    assert fails(kl, cmd="build_batch", data={"S": series(2, books=[BOOK, BOOK])}) == (
        "KylesLambda needs the trades and books feed, which this build does not supply"
    )


# --- the streaming universe ---------------------------------------------------------------


def test_streaming_alignment_discipline():
    store = make_store()
    run(store, cmd="push", symbol="B", candle=bar(1, 1))
    run(store, cmd="push", symbol="A", candle=bar(2, 2), feeds=None)
    assert [r["symbol"] for r in table(run(store, cmd="build"))["index"]] == ["A", "B"]

    run(store, cmd="push", symbol="SYM", candle=bar(1, 1))
    run(store, cmd="push", symbol="SYM", candle=bar(2, 1))
    run(store, cmd="push", symbol="SYM", candle=bar(3, 1), feeds={"reference": 2.0})
    want = "data: SYM: reference feed length 1 does not match 3 candles"
    assert fails(store, cmd="build") == want
    assert fails(store, cmd="labels") == want

    assert run(store, cmd="reset") == '{"ok":true}'
    assert run(store, cmd="build") == '{"columns":["price.close"],"index":[],"data":[],"rows":0}'
    for ts in range(3):
        run(store, cmd="push", symbol="SYM", candle=bar(ts, 1), feeds={"reference": 2.0})
    assert table(run(store, cmd="build"))["rows"] == 3

    run(store, cmd="reset")
    run(store, cmd="push", symbol="SYM", candle=bar(0, 1), feeds={"orderbook": BOOK})
    run(store, cmd="push_batch", symbol="SYM", candles=[bar(1, 1), bar(2, 1), bar(3, 1)])
    assert fails(store, cmd="build") == "data: SYM: books feed length 1 does not match 4 candles"

    run(store, cmd="reset")
    run(store, cmd="push", symbol="T", candle=bar(0, 1), feeds={"trades": []})
    assert table(run(store, cmd="build"))["rows"] == 1
    run(store, cmd="push", symbol="T", candle=bar(1, 1), feeds={})
    assert fails(store, cmd="build") == "data: T: trades feed length 1 does not match 2 candles"


@pytest.mark.skipif(not available("PearsonCorrelation"), reason="pair family not built")
def test_pushed_reference_reaches_pair_indicators():
    store = make_store([{"kind": "indicator", "name": "PearsonCorrelation", "params": [3]}])
    for ts in range(5):
        run(store, cmd="push", symbol="S", candle=bar(ts, 1 + ts), feeds={"reference": 2.0})
    assert table(run(store, cmd="build"))["rows"] == 5


# --- evaluation ---------------------------------------------------------------------------

needs_sma = pytest.mark.skipif(not available("Sma"), reason="moving averages not built")
needs_bands = pytest.mark.skipif(not available("BollingerBands"), reason="bands not built")


@needs_sma
@pytest.mark.parametrize(
    "warmup,want",
    [("nan", [[None, 1], [None, 2], [2, 3], [3, 4]]), ("skip", [[2, 3], [3, 4]])],
)
def test_warmup_policy(warmup, want):
    store = make_store([{"kind": "indicator", "name": "Sma", "params": [3]}, PRICE_CLOSE], warmup=warmup)
    out = table(run(store, cmd="build_batch", data={"A": [bar(i, i + 1) for i in range(4)]}))
    assert out["columns"] == ["Sma(3)", "price.close"]
    assert out["data"] == want


@needs_sma
def test_window_after_filter_and_shared_keys():
    feats = [
        {"kind": "indicator", "name": "Sma", "params": [2]},
        {"kind": "indicator", "name": "Sma", "params": [2.0]},
        PRICE_CLOSE,
    ]
    store = make_store(feats, warmup="skip", window=3)
    data = {"A": [bar(i, i) for i in range(6)], "B": [bar(i, 10) for i in range(2)]}
    out = table(run(store, cmd="build_batch", data=data))
    assert out["columns"] == ["Sma(2)", "Sma(2)", "price.close"]
    assert out["data"] == [[2.5, 2.5, 3], [3.5, 3.5, 4], [4.5, 4.5, 5], [10, 10, 10]]
    store = make_store(feats, window=2)
    out = table(run(store, cmd="build_batch", data={"A": [bar(i, i) for i in range(5)], "B": [bar(0, 1)]}))
    assert [(r["symbol"], r["ts"]) for r in out["index"]] == [("A", 3), ("A", 4), ("B", 0)]


@needs_bands
def test_extras_by_field():
    feats = [
        {"kind": "indicator", "name": "BollingerBands", "params": [3, 2], "field": "lower"},
        {"kind": "indicator", "name": "BollingerBands", "params": [3, 2], "field": "middle"},
        {"kind": "indicator", "name": "BollingerBands", "params": [3, 2]},
    ]
    out = table(run(make_store(feats), cmd="build_batch", data={"A": [bar(i, 2.0) for i in range(4)]}))
    assert out["columns"] == [
        "BollingerBands(3,2).lower",
        "BollingerBands(3,2).middle",
        "BollingerBands(3,2)",
    ]
    assert out["data"][-1][:2] == [2, 2]
    nosuch = make_store([{"kind": "indicator", "name": "BollingerBands", "params": [3, 2], "field": "nosuch"}])
    out = table(run(nosuch, cmd="build_batch", data={"A": [bar(i, 2.0) for i in range(4)]}))
    assert [row[0] for row in out["data"]] == [None] * 4
    nosuch_skip = make_store(
        [PRICE_CLOSE, {"kind": "indicator", "name": "BollingerBands", "params": [3, 2], "field": "nosuch"}],
        warmup="skip",
    )
    assert table(run(nosuch_skip, cmd="build_batch", data={"A": [bar(0, 1)], "B": [bar(0, 1)]}))["rows"] == 0


def test_labels_look_past_trimmed_rows():
    labels = [
        {"kind": "forward_return", "horizon": 1},
        {"kind": "forward_return", "horizon": 1, "log": True},
        {"kind": "triple_barrier", "horizon": 2, "up": 0.05, "down": 0.05},
    ]
    store = make_store(labels=labels, window=2)
    candles = [bar(0, 100, 100, 100), bar(1, 100, 104, 95), bar(2, 110, 110, 100), bar(3, 121)]
    out = table(run(store, cmd="build_batch", data={"A": candles}))
    assert out["columns"] == ["price.close", "fwd_return(1)", "fwd_log_return(1)", "tb(2,0.05,0.05)"]
    assert out["data"][0][0] == 110 and out["data"][0][1] == pytest.approx(0.1)
    assert out["data"][0][2] == pytest.approx(math.log(1.1))
    assert out["data"][0][3] is None
    assert out["data"][1][1:] == [None, None, None]
    for c in candles:
        run(store, cmd="push", symbol="A", candle=c)
    lab = table(run(store, cmd="labels"))
    assert lab["columns"] == out["columns"][1:]
    assert lab["data"] == [row[1:] for row in out["data"]]
    plain = make_store()
    run(plain, cmd="push_batch", symbol="A", candles=candles[:2])
    assert run(plain, cmd="labels") == (
        '{"columns":[],"index":[{"symbol":"A","ts":0},{"symbol":"A","ts":1}],"data":[[],[]],"rows":2}'
    )


def test_scaling_spans_symbols_and_spares_labels():
    store = make_store(scaling="min_max", labels=[{"kind": "forward_return", "horizon": 1}])
    data = {"A": [bar(0, 0), bar(1, 1)], "B": [bar(0, 99), bar(1, 100)]}
    out = table(run(store, cmd="build_batch", data=data))
    assert [r[0] for r in out["data"]] == [0, 0.01, 0.99, 1]
    assert out["data"][2][1] == pytest.approx(1 / 99)


# --- rendering ----------------------------------------------------------------------------

NUMBER_CASES = [
    (0.123456789, "0.12345679"),
    (1 / 3, "0.33333333"),
    (1.0, "1"),
    (100.0, "100"),
    (12345.678901234, "12345.67890123"),
    (1e-7, "0.0000001"),
    (-1e-9, "-0"),
    (2.5, "2.5"),
    (0.000000005, "0.00000001"),
    (2.5e-8, "0.000000030000000000000004"),
    (1e301, "1" + "0" * 301),
    (-1.7976931348623157e308, "-17976931348623157" + "0" * 292),
]


@pytest.mark.parametrize("x,want", NUMBER_CASES, ids=[repr(c[0]) for c in NUMBER_CASES])
def test_number_format(x, want):
    # Candles are stored as given, so any finite value reaches the renderer through price.close.
    store = make_store()
    data = {"A": [[-5, x, x, x, x, 0]]}
    assert run(store, cmd="build_batch", data=data) == (
        '{"columns":["price.close"],"index":[{"symbol":"A","ts":-5}],"data":[[' + want + ']],"rows":1}'
    )
    assert run(store, cmd="build_batch", data=data, format="csv") == f"symbol,ts,price.close\nA,-5,{want}\n"


def test_json_escaping_and_raw_csv():
    store = make_store([PRICE_CLOSE, {"kind": "price", "field": "volume"}], labels=[{"kind": "forward_return", "horizon": 1}])
    sym = 'a"b\\c,\n\x01\x7fé'
    out = run(store, cmd="build_batch", data={sym: [bar(1, 1.5)]})
    assert out == (
        '{"columns":["price.close","price.volume","fwd_return(1)"],'
        '"index":[{"symbol":"a\\"b\\\\c,\\n\\u0001\x7fé","ts":1}],"data":[[1.5,1,null]],"rows":1}'
    )
    csv_out = run(store, cmd="build_batch", data={sym: [bar(1, 1.5)]}, format="csv")
    assert csv_out == f"symbol,ts,price.close,price.volume,fwd_return(1)\n{sym},1,1.5,1,\n"


# --- the command line ---------------------------------------------------------------------

SPEC = {
    "universe": ["BTC"],
    "features": [PRICE_CLOSE, {"kind": "price", "field": "volume"}],
    "labels": [{"kind": "forward_return", "horizon": 2}],
    "window": 3,
}


def cli(*args, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "ostrel_feature_store", *map(str, args)],
        capture_output=True,
        text=True,
        input=stdin,
    )


@pytest.fixture
def files(tmp_path):
    spec = tmp_path / "spec.json"
    spec.write_text(json.dumps(SPEC))
    data = {"ETH": [bar(i, 10 + i) for i in range(5)], "BTC": series(4, books=[BOOK] * 4)}
    data_json = tmp_path / "data.json"
    data_json.write_text(json.dumps(data))
    data_csv = tmp_path / "data.csv"
    rows = ["volume,symbol,ts,open,high,low,close,extra"]
    for sym in ("ETH", "BTC"):
        for c in data[sym] if sym == "ETH" else data[sym]["candles"]:
            rows.append(f"{c[5]},{sym},{c[0]},{c[1]},{c[2]},{c[3]},{c[4]},x")
    data_csv.write_text("\n".join(rows) + "\n")
    return spec, data_json, data_csv, data


def test_cli_json_and_csv_inputs_agree(files, tmp_path):
    spec, data_json, data_csv, data = files
    want = make_store(**{k: v for k, v in SPEC.items() if k != "universe"}).command(
        json.dumps({"cmd": "build_batch", "data": data, "format": "csv"})
    )
    r = cli(spec, data_json, "--format", "csv")
    assert r.returncode == 0 and r.stderr == ""
    assert r.stdout == want
    out = tmp_path / "out.csv"
    r = cli(spec, data_csv, "-o", out, "--format", "csv")
    assert r.returncode == 0
    assert out.read_text() == want  # the CSV carries candles only, which is all this spec reads
    r = cli(spec, data_json)
    assert table(r.stdout)["columns"] == ["price.close", "price.volume", "fwd_return(2)"]


def test_cli_bad_input(files, tmp_path):
    spec, data_json, _, _ = files
    bad = tmp_path / "bad.json"
    bad.write_text(json.dumps({"X": series(2, books=[BOOK])}))
    r = cli(spec, bad)
    assert r.returncode == 1 and r.stdout == ""
    assert r.stderr == "data: X: books feed length 1 does not match 2 candles\n"
    bad_csv = tmp_path / "bad.csv"
    bad_csv.write_text("symbol,ts,open,high,low,close,volume\nA,1,1,1,1,oops,1\n")
    r = cli(spec, bad_csv)
    assert r.returncode == 1 and r.stderr.startswith("parse: ")
    bad_spec = tmp_path / "badspec.json"
    bad_spec.write_text('{"universe":[],"features":[]}')
    r = cli(bad_spec, data_json)
    assert (r.returncode, r.stderr) == (1, "bad spec: universe is empty\n")
    r = cli(spec, tmp_path / "missing.json")
    assert r.returncode == 1 and "missing.json" in r.stderr


@pytest.mark.parametrize("fmt", ["json", "csv"])
def test_cli_per_symbol_builds_join_to_the_whole_table(files, fmt):
    # With a terminal on stderr the command line builds symbol by symbol to show progress; the
    # joined table must equal the one-command table byte for byte.
    from ostrel_feature_store.__main__ import build, split_json_data

    spec, data_json, _, _ = files
    text = data_json.read_text()
    odd = dict(SPEC, features=SPEC["features"] + [{"kind": "price", "field": "open"}])
    if available("Sma"):  # a column name with a line break must not confuse the joining
        odd["features"].append({"kind": "indicator", "name": "Sma", "params": [2], "field": "a\nb"})
    store = FeatureStore(json.dumps(odd))
    parts = split_json_data(text)
    assert [s for s, _ in parts] == ["BTC", "ETH"]
    seen = []
    joined = build(store, text, fmt, parts, lambda n, total, s: seen.append((n, total, s)))
    assert seen == [(1, 2, "BTC"), (2, 2, "ETH")]
    assert joined == build(store, text, fmt)
    dup = '{"A":[[1,1,1,1,1,1]], "A" : [[2,2,2,2,2,2]],"B":[]}'
    assert split_json_data(dup) == [("A", "[[2,2,2,2,2,2]]"), ("B", "[]")]
    assert split_json_data("[1]") is None
    # A failure in any part is answered by the whole build's own error.
    bad = '{"A":[[1,1,1,1,1,1]],"B":{"candles":[],"books":[1]}}'
    with pytest.raises(ValueError, match="untagged enum SymbolInputDoc"):
        build(store, bad, fmt, split_json_data(bad))
