#!/usr/bin/env bash
# Benchmarks every registered indicator and compares the common members with the peer batch
# library (installed into the project's environment as a benchmark-only extra). Writes
# bench/results.md.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
"$PY" -m pip install -q numpy ta-lib
export PATH="$VENV/bin:$PATH"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_BENCH=ON \
  -DOSTREL_BUILD_MODULE=OFF >/dev/null
cmake --build build/bench --target ostrel_bench
"$PY" bench/peer_compare.py build/bench/bench/ostrel_bench "$@"
