#!/usr/bin/env bash
# Builds everything, then runs the engine's C++ tests and the Python tests against the built
# module in the free-threaded interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=$(bash scripts/build.sh)
ctest --test-dir build --output-on-failure -j2
PYTHONPATH="$PWD/build" "$PY" -m pytest tests/python -q -p no:cacheprovider "$@"
