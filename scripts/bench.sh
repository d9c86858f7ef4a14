#!/usr/bin/env bash
# Engine benchmarks (Google Benchmark: get_all and count_all against the minimal counter on
# the six instances of bench/instances; the scaling cases: singletons, adversarial labels,
# signal polling; the ranked searches against the literal estimator; the block-count table
# against its quadratic fold; split against count_all and its former passes; the ranked
# block-count stream against get_topn_sc's search; every query with one thread and with two,
# from the same run, the ranked streams against get_topn and with two threads, and the memory
# of a long ranked search) and the end-to-end Python benchmarks (bench_streams.py: iter_top
# against get_topn, iter_top_sc with one thread and two; bench_top_sc_scale.py: iter_top_sc's
# first 10 partitions on planted-partition graphs of 24 to 60 vertices, at most 60 s each,
# with peak memory; bench_singletons.py: the ranked queries on 10^4 to 10^6 blocks no other
# block meets; memory_sweep.py: every call under an address-space limit, each child's outcome;
# bench_progress.py: count_all with a progress callable against without; bench_ranked_threads.py:
# get_topn and get_topn_sc without caps on one thread and two, with peak memory;
# bench_colors.py, when ctangle can build DLX2: count_all with colors against DLX2); then the
# pentomino 6x10 count on
# a local Dask cluster of two single-threaded worker processes against one process, and the
# cluster's overhead per task (when distributed is installed, as setup-python.sh does).
# Arguments go to the Google Benchmark binaries, e.g.
#   scripts/bench.sh --benchmark_filter=sudoku16 --benchmark_repetitions=3
set -euo pipefail
cd "$(dirname "$0")/.."
# ctangle for the comparisons with Knuth's programs; without it (no package manager or no
# network) they are left out, and every other benchmark runs.
bash scripts/setup-deps.sh --bench ||
    echo "[bench] texlive-binaries could not be installed: the DLX5 and DLX2 comparisons are skipped" >&2
PY=$(bash scripts/build.sh)
./build/engine_bench "$@"
./build/scaling_bench "$@"
./build/ranked_bench "$@"
./build/topn_cutoff_bench
if command -v ctangle >/dev/null; then bash bench/dlx5_ratio.sh; fi
./build/min_est_bench "$@"
./build/split_bench "$@"
./build/top_sc_bench "$@"
./build/parallel_bench "$@"
PYTHONPATH="$PWD/build" "$PY" bench/bench_python.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_matrix.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_estimate.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_latency.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_streams.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_top_sc_scale.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_singletons.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_progress.py
PYTHONPATH="$PWD/build" "$PY" bench/bench_ranked_threads.py
PYTHONPATH="$PWD/build" "$PY" bench/memory_sweep.py
if command -v ctangle >/dev/null; then PYTHONPATH="$PWD/build" "$PY" bench/bench_colors.py; fi
if "$PY" -c 'import distributed' >/dev/null 2>&1; then
    PYTHONPATH="$PWD/build:$PWD/examples" "$PY" examples/dask_cluster.py --bench \
        --file bench/instances/pent6x10.json
fi
