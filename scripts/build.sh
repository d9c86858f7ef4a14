#!/usr/bin/env bash
# Sets up the toolchain and builds the module, the engine tests and the benchmarks into
# build/. Prints the free-threaded interpreter's path on stdout.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=$(bash scripts/setup-python.sh)
bash scripts/setup-deps.sh
cmake -S . -B build -G Ninja -DPython_EXECUTABLE="$PY" >&2
cmake --build build >&2
echo "$PY"
