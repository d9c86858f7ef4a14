#!/usr/bin/env bash
# Sets up the toolchain and builds into build/, for free-threaded CPython 3.14 (setup-python.sh's
# default flavour; $PYTHON, when set, names another free-threaded interpreter). Prints the
# interpreter's path on stdout.
#
# usage: build.sh              the module, the engine tests and the benchmarks (what make test,
#                              make test-all and make bench run; installs GoogleTest and Google
#                              Benchmark when missing)
#        build.sh TARGET...    those CMake targets only, e.g. `build.sh xcover` for the module
#                              alone (make demo), with no system packages installed
# Progress is one line per phase on stderr; CMake's output goes to build/configure.log and
# build/build.log, whose path and last lines are printed on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
log() { printf '[build] %s\n' "$*" >&2; }
# Runs a command with its output in the log $1; on failure shows the log's end and names it.
logged() {
    local file=$1; shift
    if ! "$@" >"$file" 2>&1; then
        log "failed: $*"
        tail -n 30 "$file" | sed 's/^/    /' >&2
        log "the full output is in $PWD/$file"
        exit 1
    fi
}

PY=$(bash scripts/setup-python.sh)
targets=()
for target in "$@"; do targets+=(--target "$target"); done
[ $# -gt 0 ] || bash scripts/setup-deps.sh
mkdir -p build
log "configuring build/ for $PY"
logged build/configure.log cmake -S . -B build -G Ninja -DPython_EXECUTABLE="$PY"
log "compiling ${*:-everything} (build/build.log)"
logged build/build.log cmake --build build "${targets[@]}"
echo "$PY"
