#!/usr/bin/env bash
# Runs the main job: builds the package if needed and runs a short example that constructs a
# store and drives it with commands.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
install_package OFF
"$PY" - <<'PY'
import json
import ostrel_feature_store as fs

spec = {"universe": ["BTC"], "features": [{"kind": "price", "field": "close"}],
        "labels": [{"kind": "forward_return", "horizon": 1}]}
store = fs.FeatureStore(json.dumps(spec))
print("ostrel_feature_store", fs.__version__)
candles = [[1, 10, 11, 9, 10.5, 100], [2, 10.5, 12, 10, 11, 120], [3, 11, 11.5, 10.5, 11.2, 90]]
for cmd in ({"cmd": "version"},
            {"cmd": "push_batch", "symbol": "BTC", "candles": candles},
            {"cmd": "build", "format": "csv"},
            {"cmd": "set_spec", "spec": {"universe": [], "features": []}},
            {"cmd": "reset"}):
    text = json.dumps(cmd)
    try:
        print(f"{text}\n  -> {store.command(text)}")
    except ValueError as e:
        print(f"{text}\n  -> error: {e}")
PY
