#!/usr/bin/env bash
# Fuzzes the command entry point with libFuzzer under AddressSanitizer + UndefinedBehaviorSanitizer.
#   ./scripts/fuzz.sh [seconds]      (default 600)
# Builds build/fuzz with clang (installed when missing), runs from the seeds in fuzz/seeds and
# keeps the growing corpus in build/fuzz/corpus; a crashing input is written to build/fuzz/.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TO_RUN="${1:-600}"
need_apt=()
command -v clang++ >/dev/null 2>&1 || need_apt+=(clang)
command -v ninja >/dev/null 2>&1 || need_apt+=(ninja-build)
command -v cmake >/dev/null 2>&1 || need_apt+=(cmake)
[ -f /usr/include/rapidjson/document.h ] || need_apt+=(rapidjson-dev)
if [ ${#need_apt[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi
BUILD="$ROOT/build/fuzz"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTREL_BUILD_FUZZ=ON -DOSTREL_SANITIZE=ON -DOSTREL_BUILD_MODULE=OFF -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target command_fuzz
mkdir -p "$BUILD/corpus"
cd "$BUILD"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ./command_fuzz -max_total_time="$SECONDS_TO_RUN" -max_len=65536 -rss_limit_mb=2048 \
  -timeout=10 -dict="$ROOT/fuzz/json.dict" -print_final_stats=1 corpus "$ROOT/fuzz/seeds"
