#!/usr/bin/env bash
# Builds the engine's libFuzzer target into build-fuzz/ and runs it for ${FUZZ_SECONDS:-60}
# seconds. New inputs go to build-fuzz/corpus (scratch, kept between runs); fuzz/corpus is only
# read as seeds. Crashes are written under build-fuzz/artifacts/. Extra arguments go to the
# fuzzer, e.g. `scripts/fuzz.sh -jobs=2`. To replay a crash and print it decoded:
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
mkdir -p "$OUT/obj" "$OUT/corpus" "$OUT/artifacts"

# The engine's sources, as listed for the xcover_engine library in the top-level CMakeLists.txt.
mapfile -t SOURCES < <(awk '/add_library\(xcover_engine/{on=1; next} on && /\)/{exit} on {print $1}' CMakeLists.txt)
if [ ${#SOURCES[@]} -eq 0 ]; then
    echo "[fuzz] no xcover_engine sources found in CMakeLists.txt" >&2
    exit 1
fi

FLAGS=(-std=c++20 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -ffp-contract=off -O1 -g -Isrc -Itests -D_GLIBCXX_ASSERTIONS
       -Wall -Wextra -Wno-deprecated-declarations)

# Rebuild every object when the flags, the compiler or any header changed; otherwise only the
# sources newer than their object.
stamp="$OUT/flags.stamp"
want="$($CXX --version | head -1) ${FLAGS[*]}"
newest_header=$(find src/algorithms -name '*.hpp' -newer "$stamp" 2>/dev/null | head -1 || true)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ] || [ -n "$newest_header" ]; then
    rm -f "$OUT"/obj/*.o
fi

OBJECTS=()
pids=()
for src in "${SOURCES[@]}" fuzz/engine_fuzz.cpp; do
    obj="$OUT/obj/$(echo "$src" | tr '/' '_').o"
    OBJECTS+=("$obj")
    if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ]; then
        echo "[fuzz] compiling $src" >&2
        # Fuzzer instrumentation only: the fuzzer's main comes in at the link.
        $CXX "${FLAGS[@]/-fsanitize=fuzzer,address,undefined/-fsanitize=fuzzer-no-link,address,undefined}" \
            -c "$src" -o "$obj" &
        pids+=($!)
        # Two compilers at a time.
        if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
    fi
done
for pid in "${pids[@]}"; do wait "$pid"; done
echo "$want" > "$stamp"
$CXX "${FLAGS[@]}" "${OBJECTS[@]}" -o "$OUT/engine_fuzz"
echo "[fuzz] built $OUT/engine_fuzz" >&2

[ "${FUZZ_BUILD_ONLY:-0}" = 1 ] && exit 0

exec "$OUT/engine_fuzz" "$OUT/corpus" fuzz/corpus \
    -max_total_time="${FUZZ_SECONDS:-60}" -max_len=512 -timeout=20 \
    -artifact_prefix="$OUT/artifacts/" -print_final_stats=1 "$@"
