#!/usr/bin/env bash
# Runs the main job: builds the package if needed and runs the example.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"
install_package OFF
"$PY" -c 'import ostrel_feature_store as f; print("ostrel_feature_store", f.__version__)'
