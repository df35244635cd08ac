#!/usr/bin/env bash
# Builds the engine and its C++ tests with AddressSanitizer + UndefinedBehaviorSanitizer (the
# `dev` preset) and runs them. Part of the test suite; also usable on its own.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
CMAKE="$VENV/bin/cmake"
[ -x "$CMAKE" ] || CMAKE=cmake
export PATH="$VENV/bin:$PATH"
"$CMAKE" --preset dev >/dev/null
"$CMAKE" --build build/asan --target ostrel_tests
# The allocation counter of the contract test replaces operator new, which the sanitizer
# runtime also provides; the memory bound is checked by the optimised build instead.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build/asan/ostrel_tests --gtest_brief=1
