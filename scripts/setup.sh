# Shared set-up for the project's commands: system packages when missing, a virtual environment
# with the build tools, and the package built and installed into it (incrementally).
# Sourced by scripts/test.sh and scripts/run.sh; safe to run again and quick when nothing changed.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
PY="$VENV/bin/python"

need_apt=()
[ -f /usr/include/rapidjson/document.h ] || need_apt+=(rapidjson-dev)
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
command -v ccache >/dev/null 2>&1 || need_apt+=(ccache)
command -v g++ >/dev/null 2>&1 || need_apt+=(g++)
if [ ${#need_apt[@]} -gt 0 ]; then
  echo "installing system packages: ${need_apt[*]}" >&2
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi

if [ ! -x "$PY" ]; then
  python3 -m venv "$VENV"
fi
stamp="$VENV/.tools-installed"
if [ ! -f "$stamp" ] || [ "$ROOT/pyproject.toml" -nt "$stamp" ]; then
  "$PY" -m pip install -q --upgrade pip
  "$PY" -m pip install -q "scikit-build-core>=0.10" "cmake>=3.24" ninja "pytest>=7"
  touch "$stamp"
fi

# One build tree serves the package and the C++ tests: build/<wheel tag>, reused between runs.
install_package() {
  local tests="${1:-OFF}"
  "$PY" -m pip install -q --no-build-isolation --no-deps \
    -C cmake.define.OSTREL_BUILD_TESTS="$tests" "$ROOT"
}
