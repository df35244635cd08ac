#!/usr/bin/env bash
# Benchmarks the data path: a build_batch of 10 symbols x 100000 candles over every implemented
# candle-only indicator. Prints decode MB/s, evaluation ns per (step, feature), render MB/s and
# peak memory. Extra arguments go to the benchmark (--symbols S --candles N --max-features F).
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
export PATH="$VENV/bin:$PATH"
cmake -S . -B build/bench-data -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_BENCH=ON \
  -DOSTREL_BUILD_MODULE=OFF >/dev/null
cmake --build build/bench-data --target data_path_bench >/dev/null
./build/bench-data/bench/data_path_bench "$@"
