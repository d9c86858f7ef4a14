#!/usr/bin/env bash
# Finds or builds a free-threaded CPython (3.13 or later) and prints its path on stdout.
#
# Order: $PYTHON if set, then python3.14t / python3.13t on PATH, then a build cached under
# $XCOVER_CACHE (default ~/.cache/xcover), made from Debian's python3.13 source package.
# Idempotent: a cached interpreter that passes the checks is reused as is.
# Everything but the final path goes to stderr.
set -euo pipefail

CACHE=${XCOVER_CACHE:-$HOME/.cache/xcover}
SUITE=${XCOVER_PY_SUITE:-trixie}
PKG=${XCOVER_PY_PKG:-python3.13}
log() { printf '[setup-python] %s\n' "$*" >&2; }

is_free_threaded() {
    "$1" -c 'import sys; assert sys.version_info >= (3, 13); assert not sys._is_gil_enabled()' >/dev/null 2>&1
}

pick_existing() {
    if [ -n "${PYTHON:-}" ]; then
        if is_free_threaded "$PYTHON"; then echo "$PYTHON"; return 0; fi
        log "PYTHON=$PYTHON is not a free-threaded CPython >= 3.13"; exit 1
    fi
    for name in python3.14t python3.13t; do
        if command -v "$name" >/dev/null 2>&1 && is_free_threaded "$(command -v "$name")"; then
            command -v "$name"; return 0
        fi
    done
    return 1
}

mirror_uri() {
    # The base URI of the Debian archive this machine already uses.
    local uri=""
    if compgen -G '/etc/apt/sources.list.d/*.sources' >/dev/null; then
        uri=$(awk '/^URIs:/ {print $2}' /etc/apt/sources.list.d/*.sources | grep -v -- '-security' | head -n1)
    fi
    if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
        uri=$(awk '$1 == "deb" && $0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' /etc/apt/sources.list)
    fi
    [ -n "$uri" ] || { log "no Debian mirror found in the apt sources"; exit 1; }
    echo "$uri"
}

fetch_source() {
    local state="$CACHE/apt-$SUITE"
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/src"
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
        "$(mirror_uri)" "$SUITE" > "$state/sources.list"
    local apt=(-o "Dir::Etc::SourceList=$state/sources.list" -o Dir::Etc::SourceParts=-
               -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache")
    if ! compgen -G "$state/src/${PKG}_*.orig.tar.xz" >/dev/null; then
        log "fetching the $PKG source package from $SUITE"
        apt-get "${apt[@]}" update >&2
        (cd "$state/src" && apt-get "${apt[@]}" source --download-only "$PKG" >&2)
    fi
    compgen -G "$state/src/${PKG}_*.orig.tar.xz" | sort | tail -n1
}

build_python() {
    local tarball version prefix work
    tarball=$(fetch_source)
    version=$(basename "$tarball" | sed -E 's/^[^_]+_([0-9]+\.[0-9]+\.[0-9]+).*$/\1/')
    prefix="$CACHE/python-$version-ft${XCOVER_PY_VARIANT:+-$XCOVER_PY_VARIANT}"
    local exe="$prefix/bin/python${version%.*}t"
    if [ -x "$exe" ] && is_free_threaded "$exe"; then echo "$exe"; return 0; fi
    log "building free-threaded CPython $version into $prefix (a few minutes)"
    work=$(mktemp -d "$CACHE/build.XXXXXX")
    tar -xf "$tarball" -C "$work"
    (
        cd "$work"/Python-*/
        ./configure --disable-gil --prefix="$prefix" --with-ensurepip=install ${XCOVER_PY_CONFIGURE:-} >"$work/configure.log" 2>&1 \
            || { tail -n 40 "$work/configure.log" >&2; exit 1; }
        make -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -n 60 "$work/make.log" >&2; exit 1; }
        make install >"$work/install.log" 2>&1 || { tail -n 40 "$work/install.log" >&2; exit 1; }
    )
    rm -rf "$work"
    is_free_threaded "$exe" || { log "built interpreter $exe is not free-threaded"; exit 1; }
    echo "$exe"
}

mkdir -p "$CACHE"
py=$(pick_existing || build_python)

# Test tools inside that interpreter, installed once.
if ! "$py" -c 'import pytest, hypothesis' >/dev/null 2>&1; then
    log "installing pytest and hypothesis into $py"
    "$py" -m pip install --quiet --disable-pip-version-check --only-binary=:all: pytest hypothesis >&2
fi
echo "$py"
