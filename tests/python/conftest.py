"""Shared specifications and probes for the store tests."""

import json

import pytest

from ostrel_feature_store import FeatureStore

PRICE_SPEC = {"universe": ["A"], "features": [{"kind": "price", "field": "close"}]}


def spec_text(**changes):
    spec = dict(PRICE_SPEC)
    spec.update(changes)
    return json.dumps(spec)


def make_store(**changes):
    return FeatureStore(spec_text(**changes))


def error_of(fn, *args, **kwargs):
    """The ValueError text raised by fn (fails the test when nothing is raised)."""
    with pytest.raises(ValueError) as info:
        fn(*args, **kwargs)
    return str(info.value)


CANDLES = [[1, 10, 11, 9, 10.5, 100], [2, 10.5, 12, 10, 11, 120], [3, 11, 11.5, 10.5, 11.2, 90]]


def data_path_available():
    """Whether the data commands are built in (they answer "data: not available" otherwise)."""
    store = make_store()
    try:
        store.command(json.dumps({"cmd": "build_batch", "data": {"A": CANDLES}}))
    except ValueError as e:
        return str(e) != "data: not available"
    return True


def indicator_available(name, params):
    try:
        make_store(features=[{"kind": "indicator", "name": name, "params": params}])
    except ValueError as e:
        if "unknown indicator type" in str(e):
            return False
    return True


needs_data_path = pytest.mark.skipif(
    not data_path_available(), reason="data commands not built in yet"
)
needs_sma = pytest.mark.skipif(not indicator_available("Sma", [3]), reason="Sma not registered yet")
