#!/usr/bin/env bash
# Builds the engine's libFuzzer target (CMake option XCOVER_BUILD_FUZZ) into build-fuzz/ and
# runs it for ${FUZZ_SECONDS:-60} seconds. New inputs go to build-fuzz/corpus (scratch, kept
# between runs); fuzz/corpus is only read as seeds. Crashes are written under
# build-fuzz/artifacts/. Extra arguments go to the fuzzer, e.g. `scripts/fuzz.sh -jobs=2`.
# To replay a crash and print it decoded:
#   XCOVER_FUZZ_PRINT=1 build-fuzz/engine_fuzz build-fuzz/artifacts/crash-...
#
# Debian 12's default clang (14) lacks __builtin_source_location, which the engine's
# std::source_location needs with libstdc++ 12, so a newer clang from the same release is used.
# Environment:
#   FUZZ_SECONDS   run time (default 60)
#   CLANG_VERSION  clang major version to install and use (default 19)
#   FUZZ_BUILD_ONLY=1  build, do not run
set -euo pipefail
cd "$(dirname "$0")/.."

CLANG_VERSION=${CLANG_VERSION:-19}
CXX=clang++-$CLANG_VERSION

# Install the compiler and the sanitizer/libFuzzer runtimes when missing.
missing=()
for pkg in "clang-$CLANG_VERSION" "libclang-rt-$CLANG_VERSION-dev"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    echo "[fuzz] installing ${missing[*]}" >&2
    $SUDO apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
fi

OUT=build-fuzz
cmake -S . -B "$OUT" -G Ninja -DCMAKE_CXX_COMPILER="$CXX" -DXCOVER_BUILD_FUZZ=ON \
    -DXCOVER_BUILD_MODULE=OFF -DXCOVER_BUILD_TESTS=OFF -DXCOVER_BUILD_BENCH=OFF >&2
# Two compilers at a time.
cmake --build "$OUT" --target engine_fuzz -j2 >&2
echo "[fuzz] built $OUT/engine_fuzz" >&2

[ "${FUZZ_BUILD_ONLY:-0}" = 1 ] && exit 0

mkdir -p "$OUT/corpus" "$OUT/artifacts"
exec "$OUT/engine_fuzz" "$OUT/corpus" fuzz/corpus \
    -max_total_time="${FUZZ_SECONDS:-60}" -max_len=512 -timeout=20 \
    -artifact_prefix="$OUT/artifacts/" -print_final_stats=1 "$@"
