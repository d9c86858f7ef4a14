#!/usr/bin/env bash
# Builds the module (only the module: no benchmarks or engine tests) and runs the pentomino
# and communities demos with it.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=$(bash scripts/build.sh xcover)
PYTHONPATH="$PWD/build" "$PY" examples/pentomino.py
echo
PYTHONPATH="$PWD/build" "$PY" examples/communities.py
