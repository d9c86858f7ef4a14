#!/usr/bin/env bash
# Finds or builds a CPython for the tests and prints its path on stdout.
#
# usage: setup-python.sh [flavour]
#        setup-python.sh --source [flavour]
#   ft314  (default) free-threaded 3.14: $PYTHON if set (any free-threaded CPython >= 3.13),
#          else python3.14t on PATH, else built from Debian's python3.14 source (sid)
#   ft313  free-threaded 3.13: python3.13t on PATH, else built from python3.13 (trixie)
#   gil313 default (GIL) build of 3.13, built from python3.13 (trixie)
#   tsan313 free-threaded 3.13 built with ThreadSanitizer
# With --source it prints instead the path of the CPython source tarball that a build of that
# flavour uses (fetching it into the cache when missing), e.g. for files the interpreter's
# build does not install such as Tools/tsan/suppressions_free_threading.txt.
#
# Builds go to $XCOVER_CACHE (default ~/.cache/xcover), keyed on version and flavour, and are
# reused by later runs. The test tools (pytest, hypothesis, mypy, numpy, tqdm, and except on
# tsan313 dask and distributed) are installed into the interpreter once, as published wheels;
# on ft313, where msgpack, tornado and pyyaml publish none, those three are built from their
# source distributions with the machine's compiler (msgpack falls back to its pure-Python form
# when that fails), and pip's wheel cache keeps the result for the next interpreter built.
# Everything but the final path goes to stderr.
set -euo pipefail
shopt -s inherit_errexit

MODE=interpreter
if [ "${1:-}" = --source ]; then MODE=source; shift; fi
FLAVOUR=${1:-ft314}
CACHE=${XCOVER_CACHE:-$HOME/.cache/xcover}
log() { printf '[setup-python] %s\n' "$*" >&2; }

case "$FLAVOUR" in
    ft314)   SUITE=sid    PKG=python3.14 GIL=0 CONFIGURE="--disable-gil" ;;
    ft313)   SUITE=trixie PKG=python3.13 GIL=0 CONFIGURE="--disable-gil" ;;
    gil313)  SUITE=trixie PKG=python3.13 GIL=1 CONFIGURE="" ;;
    tsan313) SUITE=trixie PKG=python3.13 GIL=0 CONFIGURE="--disable-gil --with-thread-sanitizer" ;;
    *) log "unknown flavour $FLAVOUR"; exit 2 ;;
esac

# Checks that $1 is a CPython of the wanted kind: of the flavour's version, or with
# "any" as $2 of any version from 3.13 on.
is_wanted() {
    local want_gil=$GIL want_minor=${PKG#python3.}
    [ "${2:-}" = any ] && want_minor=""
    "$1" -c "
import sys, sysconfig
assert sys.version_info >= (3, 13)
assert '$want_minor' in ('', str(sys.version_info.minor))
ft = bool(sysconfig.get_config_var('Py_GIL_DISABLED'))
assert ft == (not $want_gil)
if ft: assert not sys._is_gil_enabled()
" >/dev/null 2>&1
}

pick_existing() {
    case "$FLAVOUR" in
        ft314)
            if [ -n "${PYTHON:-}" ]; then
                is_wanted "$PYTHON" any && { echo "$PYTHON"; return 0; }
                log "PYTHON=$PYTHON is not a free-threaded CPython >= 3.13"; exit 1
            fi
            if command -v python3.14t >/dev/null 2>&1 && is_wanted "$(command -v python3.14t)"; then
                command -v python3.14t; return 0
            fi ;;
        ft313)
            if command -v python3.13t >/dev/null 2>&1 && is_wanted "$(command -v python3.13t)"; then
                command -v python3.13t; return 0
            fi ;;
    esac
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
        if ! (cd "$state/src" && apt-get "${apt[@]}" source --download-only "$PKG" >&2); then
            fetch_from_pool "$state" "${apt[@]}"
        fi
    fi
    local tarball
    tarball=$(compgen -G "$state/src/${PKG}_*.orig.tar.xz" | sort -V | tail -n1) \
        || { log "no source tarball for $PKG"; exit 1; }
    echo "$tarball"
}

# A mirror whose package pool lags behind its index serves an older upstream release of the
# same series: take the newest one the pool has.
fetch_from_pool() {
    local state=$1; shift
    local listed major minor patch uri
    listed=$(apt-cache "$@" showsrc "$PKG" | awk '/^Version:/ {print $2; exit}')
    [ -n "$listed" ] || { log "$PKG is not in $SUITE"; exit 1; }
    IFS=. read -r major minor patch <<<"${listed%%[-+~]*}"
    uri=$(mirror_uri)
    for ((p = patch; p >= 0; p--)); do
        local name="${PKG}_${major}.${minor}.${p}.orig.tar.xz"
        if curl -fsSL -o "$state/src/$name.part" "$uri/pool/main/p/$PKG/$name"; then
            mv "$state/src/$name.part" "$state/src/$name"
            log "the pool lacks $listed; using upstream $major.$minor.$p"
            return 0
        fi
    done
    rm -f "$state/src/"*.part
    log "no $PKG source tarball in the pool"; exit 1
}

build_python() {
    local tarball version prefix work suffix
    tarball=$(fetch_source)
    version=$(basename "$tarball" | sed -E 's/^[^_]+_([0-9]+\.[0-9]+\.[0-9]+).*$/\1/')
    case "$FLAVOUR" in
        ft313|ft314) prefix="$CACHE/python-$version-ft" ;;
        *)           prefix="$CACHE/python-$version-$FLAVOUR" ;;
    esac
    suffix=t
    [ "$GIL" = 1 ] && suffix=""
    local exe="$prefix/bin/python${version%.*}$suffix"
    if [ -x "$exe" ] && is_wanted "$exe"; then echo "$exe"; return 0; fi
    log "building CPython $version ($FLAVOUR) into $prefix (a few minutes)"
    mkdir -p "$CACHE"
    work=$(mktemp -d "$CACHE/build.XXXXXX")
    tar -xf "$tarball" -C "$work"
    (
        cd "$work"/Python-*/
        # shellcheck disable=SC2086
        ./configure --prefix="$prefix" --with-ensurepip=install $CONFIGURE >"$work/configure.log" 2>&1 \
            || { tail -n 40 "$work/configure.log" >&2; exit 1; }
        make -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -n 60 "$work/make.log" >&2; exit 1; }
        make install >"$work/install.log" 2>&1 || { tail -n 40 "$work/install.log" >&2; exit 1; }
    )
    rm -rf "$work"
    is_wanted "$exe" || { log "built interpreter $exe is not a $FLAVOUR CPython"; exit 1; }
    echo "$exe"
}

# The dependencies of distributed that publish no wheel for free-threaded 3.13, built from
# their source distributions. pip keeps each built wheel in its cache and reuses it while the
# release is the same, so only the first interpreter pays for the build.
install_from_source() {
    local py=$1
    if ! "$py" -c 'import msgpack' >/dev/null 2>&1; then
        log "building msgpack from its source distribution"
        if ! "$py" -m pip install "${PIP[@]}" --no-binary=msgpack msgpack >&2; then
            log "msgpack's extension did not build: installing its pure-Python form"
            MSGPACK_PUREPYTHON=1 "$py" -m pip install "${PIP[@]}" --no-binary=msgpack msgpack >&2
        fi
    fi
    if ! "$py" -c 'import tornado, yaml' >/dev/null 2>&1; then
        log "building tornado and pyyaml from their source distributions"
        "$py" -m pip install "${PIP[@]}" --no-binary=tornado,pyyaml tornado pyyaml >&2
    fi
}

mkdir -p "$CACHE"
if [ "$MODE" = source ]; then
    fetch_source
    exit 0
fi
# One set-up at a time per cache: checkouts sharing it (worktrees, parallel jobs) wait for
# the one building instead of building into the same prefix at once.
exec {lock_fd}>"$CACHE/.setup-$FLAVOUR.lock"
if ! flock -n "$lock_fd"; then
    log "waiting for another set-up of $FLAVOUR in $CACHE"
    flock "$lock_fd"
fi
py=$(pick_existing || build_python)

# Test tools inside that interpreter, installed once (nothing is fetched when they import).
PIP=(--disable-pip-version-check --quiet)
TOOLS=(pytest hypothesis mypy numpy tqdm)
# dask and distributed, for the tests that run searches on a local cluster (not under
# ThreadSanitizer, which runs only the concurrency tests).
[ "$FLAVOUR" = tsan313 ] || TOOLS+=(dask distributed)
if ! "$py" -c "import $(IFS=,; echo "${TOOLS[*]}")" >/dev/null 2>&1; then
    if [ "$FLAVOUR" = ft313 ]; then install_from_source "$py"; fi
    log "installing ${TOOLS[*]} into $py"
    # Wheels only: a release whose wheel is missing for this interpreter would otherwise be
    # built from source, which for numpy takes a toolchain of its own; pip picks instead the
    # newest release that has a wheel (numpy 2.4 on 3.13t).
    "$py" -m pip install "${PIP[@]}" --only-binary=:all: "${TOOLS[@]}" >&2
fi
echo "$py"
