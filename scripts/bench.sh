#!/usr/bin/env bash
# Engine benchmarks (Google Benchmark: get_all against a minimal counter, the ranked
# searches against the literal estimator) and the end-to-end Python benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=$(bash scripts/build.sh)
./build/engine_bench "$@"
./build/ranked_bench "$@"
PYTHONPATH="$PWD/build" "$PY" bench/bench_python.py
