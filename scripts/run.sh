#!/usr/bin/env bash
# Runs the main job: builds the package if needed, generates the example market data if missing,
# builds the example specification's feature table with the command line and prints its first rows.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
install_package OFF
[ -f examples/sample.json ] || "$PY" examples/make_sample.py examples/sample.json
mkdir -p out
"$PY" -m ostrel_feature_store examples/spec.json examples/sample.json --format csv -o out/features.csv
echo "wrote out/features.csv ($(($(wc -l < out/features.csv) - 1)) rows); the first rows:" >&2
head -n 8 out/features.csv
