#!/usr/bin/env bash
# Sets up the toolchain and builds the module, the engine tests and the benchmarks into
# build/, for free-threaded CPython 3.14 (setup-python.sh's default flavour; $PYTHON, when
# set, names another free-threaded interpreter). Prints the interpreter's path on stdout.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=$(bash scripts/setup-python.sh)
bash scripts/setup-deps.sh
cmake -S . -B build -G Ninja -DPython_EXECUTABLE="$PY" >&2
cmake --build build >&2
echo "$PY"
