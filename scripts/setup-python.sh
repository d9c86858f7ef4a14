#!/usr/bin/env bash
# Finds or builds a CPython for the tests and prints its path on stdout.
#
# usage: setup-python.sh [flavour]
#        setup-python.sh --source [flavour]
#        setup-python.sh --dry-run [flavour]
#   ft314  (default) free-threaded 3.14: $PYTHON if set (any free-threaded CPython >= 3.13),
#          else python3.14t on PATH, else built from Debian's python3.14 source (sid, or
#          testing when the mirror's pool lacks every version sid lists)
#   ft313  free-threaded 3.13: python3.13t on PATH, else built from python3.13 (trixie)
#   gil313 default (GIL) build of 3.13, built from python3.13 (trixie)
#   tsan313 free-threaded 3.13 built with ThreadSanitizer
# With --source it prints instead the path of the CPython source tarball that a build of that
# flavour uses (fetching it into the cache when missing), e.g. for files the interpreter's
# build does not install such as Tools/tsan/suppressions_free_threading.txt. With --dry-run it
# asks the archive which source it would fetch, prints "VERSION URI" and fetches nothing,
# even when a tarball is cached.
#
# The source version comes from the archive's own word: the versions its source indexes list
# (apt-cache showsrc), newest first, each checked with one HEAD request on the URI that
# apt-get source --print-uris gives, and the first the pool holds is fetched by apt-get source,
# which checks its hashes. Only when the pool holds none of them (a mirror whose pool lags
# behind its indexes) are earlier upstream releases of the series looked for in the pool,
# again by HEAD requests, and the tarball found fetched without a listed hash.
#
# Progress is one line per phase on stderr; the tools' own output goes to
# $XCOVER_CACHE/setup-<flavour>.log, whose path and last lines are printed on failure.
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
case "${1:-}" in
    --source) MODE=source; shift ;;
    --dry-run) MODE=dry-run; shift ;;
esac
FLAVOUR=${1:-ft314}
CACHE=${XCOVER_CACHE:-$HOME/.cache/xcover}
LOG="$CACHE/setup-$FLAVOUR.log"
log() { printf '[setup-python] %s\n' "$*" >&2; }

# One line on stderr per phase; the log gets a header for it.
phase() {
    log "$*"
    printf '\n== %s: %s\n' "$(date '+%F %T')" "$*" >>"$LOG"
}
# Runs a command with its output in the log; on failure names the log and shows its end.
quietly() {
    if ! "$@" >>"$LOG" 2>&1; then
        log "failed: $*"
        tail -n 25 "$LOG" | sed 's/^/    /' >&2
        log "the full output is in $LOG"
        exit 1
    fi
}

# SUITES: where the source package is looked for, in order of preference.
case "$FLAVOUR" in
    ft314)   SUITE=sid    SUITES="sid testing" PKG=python3.14 GIL=0 CONFIGURE="--disable-gil" ;;
    ft313)   SUITE=trixie SUITES=trixie PKG=python3.13 GIL=0 CONFIGURE="--disable-gil" ;;
    gil313)  SUITE=trixie SUITES=trixie PKG=python3.13 GIL=1 CONFIGURE="" ;;
    tsan313) SUITE=trixie SUITES=trixie PKG=python3.13 GIL=0 CONFIGURE="--disable-gil --with-thread-sanitizer" ;;
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

# The apt options of this flavour's own state, in the cache (STATE): the system's apt is left
# alone. Sets STATE and APT.
STATE="$CACHE/apt-$SUITE"
APT=()
apt_state() {
    local state=$STATE suite
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/src"
    : >"$state/sources.list"
    for suite in $SUITES; do
        printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
            "$(mirror_uri)" "$suite" >>"$state/sources.list"
    done
    # Sandbox: the downloads go to the cache, which apt's own user may not be able to write.
    APT=(-o "Dir::Etc::SourceList=$state/sources.list" -o Dir::Etc::SourceParts=-
         -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache" -o APT::Sandbox::User=root)
}

# Whether the archive answers for a URI (one HEAD request).
in_pool() { curl -fsSI --max-time 60 -o /dev/null "$1" >>"$LOG" 2>&1; }

# Prints "VERSION URI METHOD" for the source to fetch: METHOD "listed" when the version is one
# the indexes list (fetched by apt-get source=VERSION), "pool" for an earlier upstream tarball
# found in the pool (fetched by URI).
choose_source() {
    local listed version uri
    listed=$(apt-cache "${APT[@]}" showsrc "$PKG" 2>>"$LOG" | awk '/^Version:/ {print $2}' | sort -Vru)
    [ -n "$listed" ] || { log "$PKG is in none of: $SUITES (see $LOG)"; exit 1; }
    for version in $listed; do
        uri=$(apt-get "${APT[@]}" source --print-uris "$PKG=$version" 2>>"$LOG" \
              | awk -F"'" '/\.orig\.tar\./ {print $2; exit}')
        if [ -n "$uri" ] && in_pool "$uri"; then echo "$version $uri listed"; return 0; fi
        printf 'not in the pool: %s %s\n' "$version" "$uri" >>"$LOG"
    done
    # The pool lags behind every index: an earlier upstream release of the same series.
    local newest oldest major minor patch p base
    newest=$(head -n1 <<<"$listed")
    oldest=$(tail -n1 <<<"$listed")
    IFS=. read -r major minor patch <<<"$(sed -E 's/^[0-9]+://; s/[-+~].*$//' <<<"$oldest")"
    base="$(mirror_uri)/pool/main/${PKG:0:1}/$PKG"
    log "the pool holds none of the listed versions ($(tr '\n' ' ' <<<"$listed" | sed 's/ $//')); looking for an earlier $major.$minor release in it"
    for ((p = patch - 1; p >= 0; p--)); do
        uri="$base/${PKG}_${major}.${minor}.${p}.orig.tar.xz"
        if in_pool "$uri"; then echo "$major.$minor.$p $uri pool"; return 0; fi
    done
    log "no $PKG $major.$minor source tarball in the pool (newest listed: $newest; see $LOG)"
    exit 1
}

fetch_source() {
    local state=$STATE
    apt_state
    if [ "$MODE" = dry-run ] || ! compgen -G "$state/src/${PKG}_*.orig.tar.xz" >/dev/null; then
        phase "asking the archive ($SUITES) for the $PKG source"
        quietly apt-get "${APT[@]}" update
        local chosen version uri how
        chosen=$(choose_source)
        read -r version uri how <<<"$chosen"
        if [ "$MODE" = dry-run ]; then
            echo "$version $uri"
            return 0
        fi
        phase "fetching $PKG $version ($how)"
        if [ "$how" = listed ]; then
            (cd "$state/src" && quietly apt-get "${APT[@]}" source --download-only "$PKG=$version")
        else
            quietly curl -fsSL --max-time 900 -o "$state/src/$(basename "$uri").part" "$uri"
            mv "$state/src/$(basename "$uri").part" "$state/src/$(basename "$uri")"
        fi
    fi
    local tarball
    tarball=$(compgen -G "$state/src/${PKG}_*.orig.tar.xz" | sort -V | tail -n1) \
        || { log "no source tarball for $PKG (see $LOG)"; exit 1; }
    echo "$tarball"
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
    mkdir -p "$CACHE"
    work=$(mktemp -d "$CACHE/build.XXXXXX")
    phase "building CPython $version ($FLAVOUR) into $prefix (a few minutes)"
    quietly tar -xf "$tarball" -C "$work"
    (
        cd "$work"/Python-*/
        # shellcheck disable=SC2086
        quietly ./configure --prefix="$prefix" --with-ensurepip=install $CONFIGURE
        quietly make -j"$(nproc)"
        quietly make install
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
        phase "building msgpack from its source distribution"
        if ! "$py" -m pip install "${PIP[@]}" --no-binary=msgpack msgpack >>"$LOG" 2>&1; then
            phase "msgpack's extension did not build: installing its pure-Python form"
            MSGPACK_PUREPYTHON=1 quietly "$py" -m pip install "${PIP[@]}" --no-binary=msgpack msgpack
        fi
    fi
    if ! "$py" -c 'import tornado, yaml' >/dev/null 2>&1; then
        phase "building tornado and pyyaml from their source distributions"
        quietly "$py" -m pip install "${PIP[@]}" --no-binary=tornado,pyyaml tornado pyyaml
    fi
}

mkdir -p "$CACHE"
if [ "$MODE" != interpreter ]; then
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
PIP=(--disable-pip-version-check --quiet --root-user-action=ignore)
TOOLS=(pytest hypothesis mypy numpy tqdm)
# dask and distributed, for the tests that run searches on a local cluster (not under
# ThreadSanitizer, which runs only the concurrency tests).
[ "$FLAVOUR" = tsan313 ] || TOOLS+=(dask distributed)
if ! "$py" -c "import $(IFS=,; echo "${TOOLS[*]}")" >/dev/null 2>&1; then
    if [ "$FLAVOUR" = ft313 ]; then install_from_source "$py"; fi
    phase "installing ${TOOLS[*]} into $py"
    # Wheels only: a release whose wheel is missing for this interpreter would otherwise be
    # built from source, which for numpy takes a toolchain of its own; pip picks instead the
    # newest release that has a wheel (numpy 2.4 on 3.13t).
    quietly "$py" -m pip install "${PIP[@]}" --only-binary=:all: "${TOOLS[@]}"
fi
echo "$py"
