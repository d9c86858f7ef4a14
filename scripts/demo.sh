#!/usr/bin/env bash
# Builds the module and runs the pentomino demo with it.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=$(bash scripts/build.sh)
PYTHONPATH="$PWD/build" "$PY" examples/pentomino.py
echo
PYTHONPATH="$PWD/build" "$PY" examples/communities.py
