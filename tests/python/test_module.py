"""The Python surface: module attributes, docstrings and signatures, argument binding, errors,
thread binding and exclusive access."""

import gc
import inspect
import sys
import threading

import pytest

import ostrel_feature_store
from ostrel_feature_store import FeatureStore, _ostrel_feature_store as native

from conftest import make_store, spec_text


def test_version_everywhere():
    store = make_store()
    assert ostrel_feature_store.__version__ == "0.1.0"
    assert native.__version__ == "0.1.0"
    assert FeatureStore.version() == "0.1.0"
    assert store.version() == "0.1.0"
    assert ostrel_feature_store.FeatureStore is native.FeatureStore


def test_docstrings_and_signatures():
    assert native.__doc__ == "The native module (`ostrel_feature_store._ostrel_feature_store`)."
    assert FeatureStore.__doc__ == (
        "A feature store driven by JSON commands.\n\n"
        "`unsendable`: the store holds a streaming universe of stateful indicator\n"
        "evaluators, so a handle is bound to the thread that created it."
    )
    assert FeatureStore.__text_signature__ == "(spec_json)"
    assert str(inspect.signature(FeatureStore)) == "(spec_json)"
    assert list(inspect.signature(FeatureStore.command).parameters) == ["self", "cmd_json"]
    assert FeatureStore.command.__doc__ == "Apply a command JSON and return the resulting response JSON."
    assert str(inspect.signature(FeatureStore.version)) == "()"
    assert FeatureStore.version.__doc__ == "The library version."


@pytest.mark.parametrize(
    "call, argument",
    [
        pytest.param(lambda: FeatureStore(b"{}"), "spec_json", id="ctor-bytes"),
        pytest.param(lambda: FeatureStore(spec_json=1), "spec_json", id="ctor-int-keyword"),
        pytest.param(lambda: FeatureStore(), "spec_json", id="ctor-missing"),
        pytest.param(lambda: make_store().command(b'{"cmd":"version"}'), "cmd_json", id="cmd-bytes"),
        pytest.param(lambda: make_store().command(None), "cmd_json", id="cmd-none"),
        pytest.param(lambda: make_store().command(), "cmd_json", id="cmd-missing"),
    ],
)
def test_type_errors_name_the_argument(call, argument):
    with pytest.raises(TypeError, match=argument):
        call()


def test_surplus_arguments_are_type_errors():
    with pytest.raises(TypeError):
        FeatureStore(spec_text(), spec_text())
    with pytest.raises(TypeError):
        make_store().command('{"cmd":"version"}', "x")
    with pytest.raises(TypeError):
        FeatureStore.version(1)


def test_keyword_arguments():
    store = FeatureStore(spec_json=spec_text())
    assert store.command(cmd_json='{"cmd":"version"}') == '{"version":"0.1.0"}'


@pytest.mark.parametrize(
    "spec, message",
    [
        pytest.param('{"universe":[],"features":[]}', "bad spec: universe is empty", id="empty-universe"),
        pytest.param(
            '{"universe":["A"],"features":[{"kind":"indicator","name":"Foo"}]}',
            "unknown indicator: Foo: unknown indicator type: Foo",
            id="unknown-indicator",
        ),
    ],
)
def test_construction_errors_are_value_errors(spec, message):
    with pytest.raises(ValueError) as info:
        FeatureStore(spec)
    assert str(info.value) == message


def test_syntax_error_at_construction_has_a_position():
    with pytest.raises(ValueError) as info:
        FeatureStore("{")
    assert str(info.value).startswith("parse: ")
    assert str(info.value).endswith(" at line 1 column 1")


def test_store_keeps_working_after_errors():
    store = make_store()
    with pytest.raises(ValueError, match="^bad spec: unknown cmd: nope$"):
        store.command('{"cmd":"nope"}')
    with pytest.raises(TypeError):
        store.command(b"x")
    assert store.command('{"cmd":"version"}') == '{"version":"0.1.0"}'


def test_unencodable_text_is_an_error_not_a_crash():
    with pytest.raises(UnicodeEncodeError):
        make_store().command('{"cmd":"\ud800"}')


def run_in_thread(fn):
    outcome = {}

    def target():
        try:
            outcome["value"] = fn()
        except BaseException as e:  # noqa: BLE001 - the point is to see what escapes
            outcome["error"] = e

    t = threading.Thread(target=target)
    t.start()
    t.join()
    return outcome


def test_call_from_another_thread_is_refused_and_harmless():
    store = make_store(output="arrow")
    outcome = run_in_thread(lambda: store.command('{"cmd":"set_spec","spec":' + spec_text() + "}"))
    error = outcome["error"]
    assert not isinstance(error, Exception)
    assert "_ostrel_feature_store::PyFeatureStore is unsendable, but sent to another thread" in str(error)
    # The refused set_spec did not run: the arrow output of the first specification still holds.
    with pytest.raises(ValueError, match="^output: use CLI/native API for parquet$"):
        store.command('{"cmd":"build"}')
    assert store.command('{"cmd":"version"}') == '{"version":"0.1.0"}'


def test_foreign_thread_check_precedes_argument_conversion():
    store = make_store()
    outcome = run_in_thread(lambda: store.command(b"not even a str"))
    assert not isinstance(outcome["error"], Exception)


def test_release_on_another_thread_is_reported_not_performed(monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reports.append(str(u.exc_value)))
    holder = {}
    run_in_thread(lambda: holder.setdefault("store", make_store()))
    assert holder["store"].version() == "0.1.0"
    del holder["store"]
    gc.collect()
    assert reports == [
        "_ostrel_feature_store::PyFeatureStore is unsendable, but is being dropped on another thread"
    ]


def test_each_thread_may_own_its_own_store():
    outcome = run_in_thread(lambda: make_store().command('{"cmd":"version"}'))
    assert outcome == {"value": '{"version":"0.1.0"}'}


def test_store_made_on_a_finished_thread_stays_bound(monkeypatch):
    # Thread identifiers of finished threads are reused by the system; the binding must not be.
    monkeypatch.setattr(sys, "unraisablehook", lambda u: None)
    holder = {}
    run_in_thread(lambda: holder.setdefault("store", make_store()))
    for _ in range(3):
        outcome = run_in_thread(lambda: holder["store"].command('{"cmd":"version"}'))
        assert "error" in outcome and not isinstance(outcome["error"], Exception)
    del holder["store"]
    gc.collect()
