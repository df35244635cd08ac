#!/usr/bin/env bash
# Runs the whole test suite: the C++ engine tests and the Python tests of the package.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

install_package ON
build_dir=$(ls -d "$ROOT"/build/cp3* | head -n 1)
echo "== C++ tests" >&2
"$build_dir/ostrel_tests" --gtest_brief=1
echo "== C++ tests under AddressSanitizer + UndefinedBehaviorSanitizer" >&2
"$ROOT/scripts/asan.sh"
echo "== Python tests" >&2
"$PY" -m pytest -q tests/python
