"""The feature spec: decoding, defaults, null rules, validation order, trial construction and
derived names."""

import json

import pytest

from ostrel_feature_store import FeatureStore

from conftest import CANDLES, error_of, make_store, needs_data_path, needs_sma, spec_text

PRICE = {"kind": "price", "field": "close"}


def set_spec_error(spec):
    """The error of a set_spec with this specification (no position: the member is already read)."""
    return error_of(make_store().command, json.dumps({"cmd": "set_spec", "spec": spec}))


def base(**changes):
    spec = {"universe": ["A"], "features": [PRICE]}
    spec.update(changes)
    return spec


def without(key):
    spec = base()
    del spec[key]
    return spec


@pytest.mark.parametrize(
    "spec, message",
    [
        pytest.param(without("universe"), "missing field `universe`", id="no-universe"),
        pytest.param(without("features"), "missing field `features`", id="no-features"),
        pytest.param(base(universe=None), "invalid type: null, expected a sequence", id="null-universe"),
        pytest.param(base(universe=[1]), "invalid type: integer `1`, expected a string", id="universe-number"),
        pytest.param(base(features=None), "invalid type: null, expected a sequence", id="null-features"),
        pytest.param(base(labels=None), "invalid type: null, expected a sequence", id="null-labels"),
        pytest.param(base(output=None), "invalid type: null, expected enum OutputFormat", id="null-output"),
        pytest.param(base(warmup=None), "invalid type: null, expected enum WarmupPolicy", id="null-warmup"),
        pytest.param(base(window=-1), "invalid value: integer `-1`, expected u64", id="window-negative"),
        pytest.param(base(window=2.5), "invalid type: floating point `2.5`, expected u64", id="window-fraction"),
        pytest.param(base(window=True), "invalid type: boolean `true`, expected u64", id="window-bool"),
        pytest.param(base(window=1e2), "invalid type: floating point `100.0`, expected u64", id="window-exponent"),
        pytest.param(base(timeframe=5), "invalid type: integer `5`, expected a string", id="timeframe-number"),
        pytest.param(
            base(output="xml"),
            "unknown variant `xml`, expected one of `json`, `csv`, `arrow`, `parquet`",
            id="output-unknown",
        ),
        pytest.param(base(scaling="robust"), "unknown variant `robust`, expected `z_score` or `min_max`", id="scaling-unknown"),
        pytest.param(base(warmup="drop"), "unknown variant `drop`, expected `nan` or `skip`", id="warmup-unknown"),
        pytest.param(
            base(features=[{"kind": "price", "field": "vwap"}]),
            "unknown variant `vwap`, expected one of `open`, `high`, `low`, `close`, `volume`",
            id="price-field-unknown",
        ),
        pytest.param(base(features=[{"kind": "price"}]), "missing field `field`", id="price-no-field"),
        pytest.param(
            base(features=[{"kind": "price", "field": None}]),
            "invalid type: null, expected enum PriceField",
            id="price-field-null",
        ),
        pytest.param(base(features=[{"field": "close"}]), "missing field `kind`", id="feature-no-kind"),
        pytest.param(
            base(features=[{"kind": "Price", "field": "close"}]),
            "unknown variant `Price`, expected one of `indicator`, `price`, `microstructure`",
            id="feature-kind-unknown",
        ),
        pytest.param(base(features=[["price", "close"]]), "invalid type: sequence, expected internally tagged enum Feature", id="feature-array"),
        pytest.param(base(features=[{"kind": "indicator"}]), "missing field `name`", id="indicator-no-name"),
        pytest.param(
            base(features=[{"kind": "indicator", "name": "Sma", "params": None}]),
            "invalid type: null, expected a sequence",
            id="params-null",
        ),
        pytest.param(
            base(features=[{"kind": "indicator", "name": "Sma", "params": ["14"]}]),
            'invalid type: string "14", expected f64',
            id="params-string",
        ),
        pytest.param(base(features=[{"kind": "microstructure"}]), "missing field `metric`", id="ms-no-metric"),
        pytest.param(base(labels=[{"kind": "forward_return"}]), "missing field `horizon`", id="fwd-no-horizon"),
        pytest.param(
            base(labels=[{"kind": "forward_return", "horizon": 1, "log": None}]),
            "invalid type: null, expected a boolean",
            id="log-null",
        ),
        pytest.param(
            base(labels=[{"kind": "forward_return", "horizon": 1.5}]),
            "invalid type: floating point `1.5`, expected u64",
            id="horizon-fraction",
        ),
        pytest.param(base(labels=[{"kind": "triple_barrier", "horizon": 1, "up": 0.1}]), "missing field `down`", id="tb-no-down"),
        pytest.param(
            base(labels=[{"kind": "fwd", "horizon": 1}]),
            "unknown variant `fwd`, expected `forward_return` or `triple_barrier`",
            id="label-kind-unknown",
        ),
        pytest.param([["A"], None], "invalid length 2, expected struct FeatureSpec with 8 elements", id="array-short"),
        pytest.param([], "invalid length 0, expected struct FeatureSpec with 8 elements", id="array-empty"),
        pytest.param(
            [["A"], None, [PRICE], [], None, "json", None, "nan", 1],
            "invalid length 9, expected fewer elements in array",
            id="array-long",
        ),
        pytest.param("spec", 'invalid type: string "spec", expected struct FeatureSpec', id="not-a-record"),
    ],
)
def test_shape_errors(spec, message):
    assert set_spec_error(spec) == "parse: " + message


def test_constructor_shape_errors_carry_a_position():
    message = error_of(FeatureStore, '{"universe":["A"]}')
    assert message == "parse: missing field `features` at line 1 column 18"
    message = error_of(FeatureStore, '{"universe":["A"],\n"window":-1,"features":[]}')
    assert message == "parse: invalid value: integer `-1`, expected u64 at line 2 column 11"


@pytest.mark.parametrize(
    "text, field",
    [
        pytest.param('{"universe":["A"],"universe":["B"],"features":[{"kind":"price","field":"close"}]}', "universe", id="top-level"),
        pytest.param('{"universe":["A"],"features":[{"kind":"price","field":"close","field":"open"}]}', "field", id="in-feature"),
        pytest.param('{"universe":["A"],"features":[{"kind":"price","kind":"price","field":"close"}]}', "kind", id="tag"),
        pytest.param(
            '{"universe":["A"],"features":[{"kind":"price","field":"close"}],'
            '"labels":[{"kind":"forward_return","horizon":1,"horizon":2}]}',
            "horizon",
            id="in-label",
        ),
    ],
)
def test_constructor_refuses_repeated_members(text, field):
    message = error_of(FeatureStore, text)
    assert message.startswith(f"parse: duplicate field `{field}` at line 1 column ")


def test_unlisted_members_are_ignored_even_repeated():
    FeatureStore('{"universe":["A"],"features":[{"kind":"price","field":"close","x":1,"x":2}],"y":1,"y":2}')


@pytest.mark.parametrize(
    "spec",
    [
        pytest.param(base(), id="minimal"),
        pytest.param(base(timeframe=None, window=None, scaling=None), id="nulls-mean-absent"),
        pytest.param(base(timeframe="1h", window=3, scaling="min_max", warmup="skip", output="csv"), id="all-members"),
        pytest.param(base(labels=[{"kind": "triple_barrier", "horizon": 10, "up": 0.02, "down": 1}]), id="labels"),
        pytest.param(base(window=18446744073709551615), id="window-u64-max"),
        pytest.param([["A"], None, [PRICE]], id="array-three"),
        pytest.param([["A"], "1h", [PRICE], [], 5, "csv", "z_score", "skip"], id="array-eight"),
    ],
)
def test_accepted_specifications(spec):
    assert make_store().command(json.dumps({"cmd": "set_spec", "spec": spec})) == '{"ok":true}'


@pytest.mark.parametrize(
    "spec, message",
    [
        pytest.param(base(universe=[], features=[]), "bad spec: universe is empty", id="universe-first"),
        pytest.param(base(features=[], window=0), "bad spec: features is empty", id="features-before-window"),
        pytest.param(
            base(labels=[{"kind": "forward_return", "horizon": 3}, {"kind": "triple_barrier", "horizon": 0, "up": 1, "down": 1}], window=0),
            "bad spec: label horizon must be > 0",
            id="label-horizon",
        ),
        pytest.param(base(window=0), "bad spec: window must be > 0", id="window-zero"),
        pytest.param(
            base(features=[PRICE, {"kind": "indicator", "name": "Foo"}], window=0),
            "bad spec: window must be > 0",
            id="validation-before-trial",
        ),
        pytest.param(
            base(features=[PRICE, {"kind": "indicator", "name": "Foo", "params": [1]}]),
            "unknown indicator: Foo: unknown indicator type: Foo",
            id="unknown-indicator",
        ),
        pytest.param(
            base(features=[{"kind": "indicator", "name": "Foo", "field": None}]),
            "unknown indicator: Foo: unknown indicator type: Foo",
            id="null-field-is-absent",
        ),
        pytest.param(
            base(features=[{"kind": "microstructure", "metric": "Bar"}]),
            "unknown indicator: Bar: unknown indicator type: Bar",
            id="unknown-metric",
        ),
        pytest.param(
            base(features=[{"kind": "indicator", "name": "sma", "params": [3]}]),
            "unknown indicator: sma: unknown indicator type: sma",
            id="case-sensitive-name",
        ),
    ],
)
def test_validation_and_trial_errors(spec, message):
    assert set_spec_error(spec) == message
    assert error_of(FeatureStore, json.dumps(spec)) == message


@needs_sma
def test_trial_construction_reports_the_registry_reason():
    message = set_spec_error(base(features=[{"kind": "indicator", "name": "Sma", "params": [0.5]}]))
    assert message.startswith("unknown indicator: Sma: invalid parameters for indicator Sma: ")


# ---- derived names (visible as table columns) -------------------------------------------------


def columns(features=None, labels=None):
    spec = base(features=features or [PRICE], labels=labels or [])
    store = FeatureStore(json.dumps(spec))
    out = store.command(json.dumps({"cmd": "build_batch", "data": {"A": CANDLES}, "format": "json"}))
    return json.loads(out)["columns"]


@needs_data_path
@pytest.mark.parametrize(
    "labels, names",
    [
        pytest.param([{"kind": "forward_return", "horizon": 5}], ["fwd_return(5)"], id="fwd"),
        pytest.param([{"kind": "forward_return", "horizon": 5, "log": True}], ["fwd_log_return(5)"], id="fwd-log"),
        pytest.param([{"kind": "triple_barrier", "horizon": 10, "up": 0.02, "down": 1}], ["tb(10,0.02,1)"], id="tb"),
        pytest.param([{"kind": "triple_barrier", "horizon": 1, "up": -0.0, "down": 1e300}], ["tb(1,0,9223372036854775807)"], id="tb-saturate"),
        pytest.param([{"kind": "triple_barrier", "horizon": 1, "up": 1e-7, "down": -2.25}], ["tb(1,0.0000001,-2.25)"], id="tb-positional"),
    ],
)
def test_label_column_names(labels, names):
    assert columns(labels=labels) == ["price.close"] + names


@needs_data_path
def test_price_column_names():
    fields = ["open", "high", "low", "close", "volume"]
    assert columns(features=[{"kind": "price", "field": f} for f in fields]) == [f"price.{f}" for f in fields]


@needs_data_path
@needs_sma
@pytest.mark.parametrize(
    "feature, name",
    [
        pytest.param({"kind": "indicator", "name": "Sma", "params": [3]}, "Sma(3)", id="plain"),
        pytest.param({"kind": "indicator", "name": "Sma", "params": [3.0]}, "Sma(3)", id="integral-fraction"),
        pytest.param({"kind": "indicator", "name": "Sma", "params": [3, -0.0, 0.5]}, "Sma(3,0,0.5)", id="surplus-params"),
        pytest.param({"kind": "indicator", "name": "Sma", "params": [3], "field": None}, "Sma(3)", id="null-field"),
    ],
)
def test_indicator_column_names(feature, name):
    assert columns(features=[feature]) == [name]


@needs_data_path
@needs_sma
def test_equal_keys_repeat_the_column():
    sma = {"kind": "indicator", "name": "Sma", "params": [3]}
    sma_float = {"kind": "indicator", "name": "Sma", "params": [3.0]}
    out = json.loads(
        FeatureStore(json.dumps(base(features=[sma, sma_float]))).command(
            json.dumps({"cmd": "build_batch", "data": {"A": CANDLES}})
        )
    )
    assert out["columns"] == ["Sma(3)", "Sma(3)"]
    assert all(row[0] == row[1] or (row[0] is None and row[1] is None) for row in out["data"])


@needs_data_path
def test_timeframe_changes_nothing():
    def build(tf):
        store = FeatureStore(json.dumps(base(timeframe=tf)))
        return store.command(json.dumps({"cmd": "build_batch", "data": {"A": CANDLES}}))

    assert build("1h") == build("1d") == build(None)
