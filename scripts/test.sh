#!/usr/bin/env bash
# Runs every test of the project, one part after another:
#   main     engine C++ tests (ctest) and the Python tests, Dask cluster tests included, on
#            free-threaded CPython 3.14 (the interpreter of build.sh and demo.sh)
#   ft313    the Python tests, Dask cluster tests included, on free-threaded CPython 3.13
#   gil313   the Python tests, Dask cluster tests included, on a default (GIL) CPython 3.13
#   asan     engine and Python tests with AddressSanitizer and UndefinedBehaviorSanitizer, on
#            free-threaded 3.14 (the cluster tests left out: they test Dask, not the module)
#   tsan     the concurrency tests on an interpreter (free-threaded 3.13) and a module built
#            with ThreadSanitizer
#   valgrind memcheck over the engine tests
#   wheel    a wheel for free-threaded 3.14 built, repaired and installed into a fresh
#            environment, examples run
#   fuzz     the engine's libFuzzer target for ${FUZZ_SECONDS:-60} seconds from the seed corpus
# `make test` runs the main part, `make test-all` every part.
# XCOVER_TEST_PARTS="main asan" runs only those parts; extra arguments go to every pytest.
# Every requested part runs even when an earlier one fails; a part stops at its own first
# failing command. The summary gives each part's outcome and time, and the exit status is
# non-zero when any part failed.
# Interpreters are built once and cached outside the repo (see setup-python.sh).
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
PARTS=${XCOVER_TEST_PARTS:-"main ft313 gil313 asan tsan valgrind wheel fuzz"}
PYTEST_ARGS=("$@")

banner() { printf '\n=== %s ===\n' "$*"; }

# configure_and_build DIR PYTHON [cmake args...]: quiet, but the log is shown on failure.
configure_and_build() {
    local dir=$1 py=$2; shift 2
    local log
    log=$(mktemp)
    if ! { cmake -S . -B "$dir" -G Ninja -DPython_EXECUTABLE="$py" "$@" && cmake --build "$dir"; } >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

# The parts whose interpreter has Dask fail, rather than skip, a cluster test that finds no
# Dask (see conftest.py).
run_pytest() {
    local dir=$1 py=$2; shift 2
    PYTHONPATH="$PWD/$dir" "$py" -m pytest tests/python -q -p no:cacheprovider "$@" "${PYTEST_ARGS[@]}"
}

part_main() {
    local py; py=$(bash scripts/build.sh)
    ctest --test-dir build --output-on-failure -j2
    XCOVER_REQUIRE_DASK=1 run_pytest build "$py"
}

part_interpreter() {
    local flavour=$1 py
    py=$(bash scripts/setup-python.sh "$flavour")
    bash scripts/setup-deps.sh
    configure_and_build "build-$flavour" "$py" -DXCOVER_BUILD_TESTS=OFF -DXCOVER_BUILD_BENCH=OFF
    XCOVER_REQUIRE_DASK=1 run_pytest "build-$flavour" "$py"
}

part_asan() {
    local py; py=$(bash scripts/setup-python.sh ft314)
    bash scripts/setup-deps.sh
    configure_and_build build-asan "$py" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DXCOVER_SANITIZE=address,undefined -DXCOVER_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j2 -E '^Allocations[.]'
    # The allocation tests replace operator new and delete within their program only, while
    # the shared libraries it uses keep the sanitizer's: a block can cross from one to the
    # other, which is not a fault of the engine's.
    ASAN_OPTIONS=detect_leaks=1:alloc_dealloc_mismatch=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -R '^Allocations[.]'
    # The interpreter is not instrumented: the runtime is preloaded, with the C++ runtime so
    # that the sanitizer can intercept exceptions. Leak checking is off here because the
    # interpreter keeps memory until exit by design; the leak tests and the engine run above
    # cover the module.
    local preload
    preload="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)"
    XCOVER_SANITIZER=address LD_PRELOAD="$preload" \
        ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        run_pytest build-asan "$py" -m "not cluster"
}

part_tsan() {
    local py; py=$(bash scripts/setup-python.sh tsan313)
    bash scripts/setup-deps.sh
    configure_and_build build-tsan "$py" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DXCOVER_SANITIZE=thread -DXCOVER_BUILD_TESTS=OFF -DXCOVER_BUILD_BENCH=OFF
    # The interpreter's own suppressions come from its source tarball in the cache.
    local tarball suppressions=$PWD/build-tsan/suppressions.txt
    tarball=$(bash scripts/setup-python.sh --source tsan313)
    tar -xJOf "$tarball" --wildcards '*/Tools/tsan/suppressions_free_threading.txt' > "$suppressions"
    cat tests/tsan-suppressions.txt >> "$suppressions"
    # Reports go to files: a report written to the standard error of a process that pytest
    # captures would be lost with the capture, leaving only the exit status 66.
    local reports=$PWD/build-tsan/report
    rm -f "$reports".*
    if ! XCOVER_SANITIZER=thread \
        TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$suppressions log_path=$reports" \
        run_pytest build-tsan "$py" -m concurrency; then
        cat "$reports".* >&2 2>/dev/null || echo "no ThreadSanitizer report was written" >&2
        return 1
    fi
    # The engine's helper threads: the pool, the ranked searches and streams and the cover
    # stream on it.
    # (A fork of a threaded process is beyond what ThreadSanitizer supports.)
    configure_and_build build-tsan-engine "$py" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DXCOVER_SANITIZE=thread -DXCOVER_BUILD_MODULE=OFF -DXCOVER_BUILD_BENCH=OFF
    TSAN_OPTIONS="halt_on_error=1 exitcode=66" ./build-tsan-engine/engine_tests --gtest_brief=1 \
        --gtest_filter='Parallel*:ThreadPool*:TopScStream.Helpers*:-ThreadPool.*InAForkedChild'
}

part_valgrind() {
    bash scripts/build.sh >/dev/null
    # Not the fork tests: in the child, the state that the parent's helper threads own is only
    # reachable from their stacks, which the child does not have, so memcheck reports it lost.
    # The allocation tests (a program of their own) are left out: they replace operator new
    # and delete with malloc and free, which memcheck would report as mismatched.
    XCOVER_TEST_SERIAL_THREADS=1 valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        ./build/engine_tests --gtest_brief=1 --gtest_filter='-ThreadPool.*InAForkedChild'
}

part_wheel() {
    local py; py=$(bash scripts/setup-python.sh ft314)
    bash scripts/wheel-test.sh "$py"
}

run_part() {
    case "$1" in
        main) part_main ;;
        ft313|gil313) part_interpreter "$1" ;;
        asan) part_asan ;;
        tsan) part_tsan ;;
        valgrind) part_valgrind ;;
        wheel) part_wheel ;;
        fuzz) FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash scripts/fuzz.sh ;;
    esac
}

for part in $PARTS; do
    case "$part" in
        main|ft313|gil313|asan|tsan|valgrind|wheel|fuzz) ;;
        *) echo "unknown test part: $part" >&2; exit 2 ;;
    esac
done

passed=0
failed=0
failed_parts=()
summary=()
for part in $PARTS; do
    banner "$part"
    start=$SECONDS
    # A subshell of its own, run as a plain command: errexit stays on inside it (it would be
    # off in an if or && list) and a failure ends only this part.
    set +e
    (set -e; run_part "$part")
    status=$?
    set -e
    # Interrupted: stop here rather than go on to the next part.
    [ "$status" -eq 130 ] && exit 130
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1)); outcome=ok
    else
        failed=$((failed + 1)); outcome="FAILED (exit $status)"; failed_parts+=("$part")
    fi
    summary+=("$(printf '  %-9s %5d s  %s' "$part" $((SECONDS - start)) "$outcome")")
done
echo
echo "=== summary ==="
printf '%s\n' "${summary[@]}"
[ "$failed" -eq 0 ] || echo "failed parts: ${failed_parts[*]}"
echo "parts: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
