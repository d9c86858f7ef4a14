#!/usr/bin/env bash
# Engine benchmarks (Google Benchmark) and the end-to-end Python benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=$(bash scripts/build.sh)
./build/engine_bench "$@"
PYTHONPATH="$PWD/build" "$PY" bench/bench_python.py
