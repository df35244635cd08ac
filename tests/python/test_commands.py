"""The command envelope, the commands without data, format selection and atomicity."""

import json

import pytest

from conftest import CANDLES, error_of, make_store, needs_data_path, spec_text


@pytest.mark.parametrize(
    "cmd, message",
    [
        pytest.param('{"cmd":"Version"}', "bad spec: unknown cmd: Version", id="case-sensitive"),
        pytest.param('{"cmd":"Build"}', "bad spec: unknown cmd: Build", id="unknown-verbatim"),
        pytest.param('{"cmd":""}', "bad spec: unknown cmd: ", id="empty-name"),
        pytest.param('{"cmd":5}', 'bad spec: missing "cmd"', id="cmd-not-string"),
        pytest.param('{"cmd":null}', 'bad spec: missing "cmd"', id="cmd-null"),
        pytest.param("{}", 'bad spec: missing "cmd"', id="no-cmd"),
        pytest.param("[1]", 'bad spec: missing "cmd"', id="array"),
        pytest.param('"version"', 'bad spec: missing "cmd"', id="string"),
        pytest.param("{\"cmd\":\"version\"} x", "parse: trailing characters at line 1 column 19", id="trailing"),
        pytest.param('{"cmd":"set_spec"}', 'bad spec: missing field "spec"', id="set-spec-no-spec"),
        pytest.param('{"cmd":"push","candle":[1,1,1,1,1,1]}', 'bad spec: missing string field "symbol"', id="push-no-symbol"),
        pytest.param('{"cmd":"push","symbol":5,"candle":[1,1,1,1,1,1]}', 'bad spec: missing string field "symbol"', id="push-symbol-number"),
        pytest.param('{"cmd":"push","symbol":"A"}', 'bad spec: missing field "candle"', id="push-no-candle"),
        pytest.param('{"cmd":"push_batch","candles":[]}', 'bad spec: missing string field "symbol"', id="batch-no-symbol"),
        pytest.param('{"cmd":"push_batch","symbol":"A"}', 'bad spec: missing field "candles"', id="batch-no-candles"),
        pytest.param('{"cmd":"build_batch"}', 'bad spec: missing field "data"', id="build-batch-no-data"),
        pytest.param('{"cmd":"build","format":"arrow"}', "output: unsupported format over FFI: arrow", id="format-arrow"),
        pytest.param('{"cmd":"build","format":"parquet"}', "output: unsupported format over FFI: parquet", id="format-parquet"),
        pytest.param('{"cmd":"build","format":"CSV"}', "output: unsupported format over FFI: CSV", id="format-case"),
    ],
)
def test_envelope_errors(cmd, message):
    assert error_of(make_store().command, cmd) == message


@pytest.mark.parametrize(
    "cmd, response",
    [
        pytest.param('{"cmd":"version"}', '{"version":"0.1.0"}', id="version"),
        pytest.param('{"cmd":"version"}  \n\t\r\n', '{"version":"0.1.0"}', id="trailing-whitespace"),
        pytest.param('{"other":[1,{"x":2}],"cmd":"version"}', '{"version":"0.1.0"}', id="unused-members"),
        pytest.param('{"cmd":"nope","cmd":"version"}', '{"version":"0.1.0"}', id="last-duplicate-wins"),
        pytest.param('{"cmd":"reset"}', '{"ok":true}', id="reset-empty"),
    ],
)
def test_commands_without_data(cmd, response):
    assert make_store().command(cmd) == response


@pytest.mark.parametrize(
    "text, line, column",
    [
        pytest.param('{"cmd":"version"} x', 1, 19, id="same-line"),
        pytest.param('{"cmd":\n  "version",\n  x}', 3, 3, id="third-line"),
        pytest.param('{"cmd":"version"', 1, 16, id="eof"),
        pytest.param('{"cmd":"versi\u00f6n"} x', 1, 19, id="non-ascii-counts-once"),
    ],
)
def test_parse_errors_end_with_the_position(text, line, column):
    message = error_of(make_store().command, text)
    assert message.startswith("parse: ")
    assert message.endswith(f" at line {line} column {column}")


@pytest.mark.parametrize(
    "text",
    [
        pytest.param("[" * 100000, id="deep-arrays"),
        pytest.param('{"a":' * 100000, id="deep-objects"),
        pytest.param("[1e999]", id="huge-number"),
        pytest.param('{"cmd":"version"}\0', id="nul-after-value"),
        pytest.param("", id="empty"),
        pytest.param('{"cmd":NaN}', id="nan-literal"),
    ],
)
def test_hostile_texts_are_parse_errors(text):
    assert error_of(make_store().command, text).startswith("parse: ")


def test_format_selection_uses_the_specification_when_format_is_not_a_string():
    arrow = make_store(output="arrow")
    for cmd in ('{"cmd":"build"}', '{"cmd":"build","format":7}', '{"cmd":"build","format":null}'):
        assert error_of(arrow.command, cmd) == "output: use CLI/native API for parquet"
    assert error_of(make_store(output="parquet").command, '{"cmd":"build"}') == (
        "output: use CLI/native API for parquet"
    )
    # An explicit string always wins over the feature spec, even a bad one.
    assert error_of(arrow.command, '{"cmd":"build","format":"xml"}') == (
        "output: unsupported format over FFI: xml"
    )
    batch = json.dumps({"cmd": "build_batch", "data": {"A": CANDLES}})
    assert error_of(arrow.command, batch) == "output: use CLI/native API for parquet"


def test_failed_set_spec_keeps_the_previous_specification():
    store = make_store(output="arrow")
    for bad in (
        {"universe": ["A"], "features": []},
        {"universe": ["A"], "features": [{"kind": "indicator", "name": "Foo"}]},
        {"universe": ["A"], "features": [{"kind": "price", "field": "vwap"}]},
        None,
    ):
        with pytest.raises(ValueError):
            store.command(json.dumps({"cmd": "set_spec", "spec": bad}))
        assert error_of(store.command, '{"cmd":"build"}') == "output: use CLI/native API for parquet"
    assert store.command('{"cmd":"set_spec","spec":' + spec_text(output="csv") + "}") == '{"ok":true}'
    assert store.command('{"cmd":"build"}').startswith("symbol,ts,")


def test_set_spec_member_errors_carry_no_position():
    store = make_store()
    message = error_of(store.command, '{"cmd":"set_spec","spec":{"universe":["A"]}}')
    assert message == "parse: missing field `features`"


def test_set_spec_takes_the_last_of_repeated_members():
    store = make_store(output="arrow")
    cmd = (
        '{"cmd":"set_spec","spec":{"universe":[],"universe":["A"],'
        '"features":[{"kind":"price","field":"open","field":"close"}],"output":"json"}}'
    )
    assert store.command(cmd) == '{"ok":true}'


# ---- with the data commands built in ----------------------------------------------------------


def push_batch(store, candles, symbol="A"):
    return store.command(json.dumps({"cmd": "push_batch", "symbol": symbol, "candles": candles}))


@needs_data_path
def test_failed_push_batch_stores_nothing():
    store = make_store()
    push_batch(store, CANDLES[:1])
    before = store.command('{"cmd":"build"}')
    bad = [CANDLES[1], CANDLES[2], {"ts": 4, "open": 1, "high": 1, "low": 1, "volume": 1}]
    message = error_of(push_batch, store, bad)
    assert message == "parse: missing field `close`"
    assert store.command('{"cmd":"build"}') == before


@needs_data_path
def test_failed_push_stores_nothing():
    store = make_store()
    before = store.command('{"cmd":"build"}')
    error_of(store.command, json.dumps({"cmd": "push", "candle": CANDLES[0]}))
    error_of(store.command, json.dumps({"cmd": "push", "symbol": "A", "candle": CANDLES[0], "feeds": 5}))
    assert store.command('{"cmd":"build"}') == before


@needs_data_path
def test_set_spec_keeps_the_universe_and_reset_keeps_the_spec():
    store = make_store()
    push_batch(store, CANDLES)
    with_close = store.command('{"cmd":"build","format":"csv"}')
    assert "price.close" in with_close
    store.command('{"cmd":"set_spec","spec":' + spec_text(features=[{"kind": "price", "field": "open"}]) + "}")
    with_open = store.command('{"cmd":"build","format":"csv"}')
    assert "price.open" in with_open and "price.close" not in with_open
    assert with_open.count("\n") == with_close.count("\n")
    assert store.command('{"cmd":"reset"}') == '{"ok":true}'
    assert store.command('{"cmd":"build","format":"csv"}').count("\n") < with_open.count("\n")


@needs_data_path
def test_format_member_overrides_the_specification():
    store = make_store(output="csv")
    push_batch(store, CANDLES)
    as_json = json.loads(store.command('{"cmd":"build","format":"json"}'))
    assert as_json["columns"] == ["price.close"]
    assert not store.command('{"cmd":"build","format":7}').startswith("{")
    arrow = make_store(output="arrow")
    push_batch(arrow, CANDLES)
    assert json.loads(arrow.command('{"cmd":"labels"}'))["columns"] == []


@needs_data_path
def test_build_commands_do_not_change_the_store():
    store = make_store()
    push_batch(store, CANDLES)
    first = store.command('{"cmd":"build"}')
    store.command(json.dumps({"cmd": "build_batch", "data": {"B": CANDLES}}))
    store.command('{"cmd":"labels"}')
    assert store.command('{"cmd":"build"}') == first
