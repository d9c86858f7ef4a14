"""The type stub src/module/xcover.pyi agrees with the module and type-checks real use."""

import ast
import inspect
import os
import subprocess
import sys
import textwrap

import pytest

import signatures
import xcover
from conftest import ROOT

SOURCE_STUB = os.path.join(ROOT, "src", "module", "xcover.pyi")
# An installed module carries its stub beside it; a build tree does not, so the source is read.
INSTALLED_STUB = os.path.join(os.path.dirname(xcover.__file__), "xcover.pyi")
STUB = INSTALLED_STUB if os.path.exists(INSTALLED_STUB) else SOURCE_STUB
STUB_DIR = os.path.dirname(STUB)

# The annotation each parameter must carry, written as ast.unparse prints it.
BLOCKS = "_Blocks"
WEIGHTS = "_Numbers"
INTEGERS = "_Integers"
INDEX = "SupportsIndex"
CAP = "SupportsIndex | None"
COLORS = "_Colors | None"
EXPECTED_ANNOTATIONS = {
    "get_all": {"partitions": BLOCKS},
    "get_top": {"partitions": BLOCKS, "weights": WEIGHTS, "max_iter": CAP, "max_heap": CAP},
    "get_topn": {
        "partitions": BLOCKS, "weights": WEIGHTS, "n": INDEX, "max_iter": CAP, "max_heap": CAP,
    },
    "get_topp": {
        "partitions": BLOCKS, "weights": WEIGHTS, "alpha": "SupportsFloat | SupportsIndex",
        "max_iter": CAP, "max_heap": CAP,
    },
    "get_topn_sc": {
        "partitions": BLOCKS, "weights": WEIGHTS, "edge_counts": INTEGERS,
        "edge_total": INDEX, "labels": INTEGERS, "vertex_total": INDEX, "n": INDEX,
        "max_iter": CAP, "max_heap": CAP,
    },
    "count_all": {
        "partitions": BLOCKS, "include": INTEGERS, "secondary": INTEGERS, "colors": COLORS,
        "progress": "Callable[[float, int], object] | None",
    },
    "iter_all": {
        "partitions": BLOCKS, "include": INTEGERS, "secondary": INTEGERS, "seed": CAP,
        "colors": COLORS,
    },
    "split": {
        "partitions": BLOCKS, "parts": INDEX, "include": INTEGERS, "secondary": INTEGERS,
        "colors": COLORS, "progress": "Callable[[float, int], object] | None",
    },
    "iter_top": {
        "partitions": BLOCKS, "weights": WEIGHTS, "include": INTEGERS, "max_iter": CAP,
        "max_heap": CAP, "secondary": INTEGERS, "colors": COLORS,
    },
    "iter_top_sc": {
        "partitions": BLOCKS, "weights": WEIGHTS, "edge_counts": INTEGERS,
        "edge_total": INDEX, "labels": INTEGERS, "vertex_total": INDEX, "include": INTEGERS,
        "max_iter": CAP, "max_heap": CAP, "secondary": INTEGERS, "colors": COLORS,
    },
    "read_dlx": {"text": "str"},
    "read_dlx_file": {"path": "str | bytes | PathLike[str] | PathLike[bytes]"},
    "estimate_all": {
        "partitions": BLOCKS, "include": INTEGERS, "secondary": INTEGERS,
        "samples": INDEX, "seed": CAP, "colors": COLORS,
    },
    "main": {"argv": "Sequence[str] | None"},
    "number_blocks": {"blocks": "Sequence[Sequence[Hashable]]"},
    "blocks_from_matrix": {"matrix": "_Matrix"},
}
# Functions the module has beside those of __all__.
EXTRA = [
    "blocks_from_matrix", "count_all", "iter_all", "iter_top", "iter_top_sc", "split",
    "read_dlx", "read_dlx_file", "estimate_all", "main", "number_blocks",
    "set_threads", "get_threads",
]
RETURNS = {
    "count_all": "int",
    "iter_all": "CoverIterator",
    "iter_top": "RankedIterator",
    "iter_top_sc": "RankedIterator",
    "read_dlx": "_DlxProblem",
    "read_dlx_file": "_DlxProblem",
    "estimate_all": "_TreeEstimate",
    "main": "int",
    "number_blocks": "tuple[list[list[int]], list[Any]]",
}
ALL_FUNCTIONS = sorted(EXPECTED_ANNOTATIONS)
# The parameters of the five functions come from the one list the module test reads.
assert all(tuple(EXPECTED_ANNOTATIONS[name]) == signatures.parameter_names(name)
           for name in signatures.FUNCTIONS)


def stub_tree():
    with open(STUB, encoding="utf-8") as f:
        return ast.parse(f.read(), filename=STUB)


def stub_functions():
    return {node.name: node for node in stub_tree().body if isinstance(node, ast.FunctionDef)}


def stub_all():
    for node in stub_tree().body:
        if isinstance(node, ast.Assign) and [ast.unparse(t) for t in node.targets] == ["__all__"]:
            return ast.literal_eval(node.value)
    raise AssertionError("the stub has no __all__")


def test_stub_names_match_the_module():
    assert stub_all() == xcover.__all__
    assert sorted(stub_functions()) == sorted(xcover.__all__ + EXTRA)
    assert not set(EXTRA) & set(xcover.__all__)
    for name in EXTRA:
        assert callable(getattr(xcover, name))
    # Nothing else at top level: the stub must not promise names the module lacks. Private
    # names (the protocol and aliases of its annotations) exist for the type checker only.
    public = set()
    for node in stub_tree().body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            public.add(node.name)
        elif isinstance(node, ast.Assign):
            public.update(t.id for t in node.targets if isinstance(t, ast.Name))
        elif isinstance(node, ast.AnnAssign):
            public.add(node.target.id)
        else:
            assert isinstance(node, (ast.ImportFrom, ast.Import)), ast.dump(node)
    public = {name for name in public if not name.startswith("_") or name.endswith("__")}
    types = ["CoverIterator", "RankedIterator"]
    assert public == set(xcover.__all__ + EXTRA + ["__all__", "__version__"] + types)
    assert all(isinstance(getattr(xcover, name), type) for name in types)
    assert isinstance(xcover.__version__, str)


@pytest.mark.parametrize("name", ALL_FUNCTIONS)
def test_stub_signature_matches_the_module(name):
    node = stub_functions()[name]
    runtime = inspect.signature(getattr(xcover, name))
    args = node.args
    assert not args.posonlyargs and not args.kwonlyargs
    assert args.vararg is None and args.kwarg is None
    stub_names = [a.arg for a in args.args]
    assert stub_names == list(runtime.parameters)
    for p in runtime.parameters.values():
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
    # Defaults align with the last parameters, as in a def statement.
    stub_defaults = [ast.literal_eval(d) for d in args.defaults]
    runtime_defaults = [
        p.default for p in runtime.parameters.values() if p.default is not inspect.Parameter.empty
    ]
    assert stub_defaults == runtime_defaults
    defaulted = stub_names[len(stub_names) - len(args.defaults):]
    assert defaulted == [
        p.name for p in runtime.parameters.values() if p.default is not inspect.Parameter.empty
    ]
    annotations = {a.arg: ast.unparse(a.annotation) if a.annotation else None for a in args.args}
    assert annotations == EXPECTED_ANNOTATIONS[name]
    expected_return = RETURNS.get(name, "list[list[int]]")
    assert node.returns is not None and ast.unparse(node.returns) == expected_return


@pytest.mark.parametrize("name", ALL_FUNCTIONS)
def test_stub_docstring_matches_the_module(name):
    node = stub_functions()[name]
    assert ast.get_docstring(node) == getattr(xcover, name).__doc__
    # A stub body is the docstring alone.
    assert len(node.body) == 1


def test_module_accepts_any_sequence_as_the_stub_says():
    # Tuples and ranges are Sequences but not lists: the stub's types must not overpromise.
    blocks = ((0, 1), range(2, 4), [0, 2], (1, 3))
    weights = (1.0, 1.0, 2.0, 2.0)
    assert xcover.get_all(blocks) == [[0, 1], [2, 3]]
    assert xcover.get_top(blocks, weights) == [[0, 1], [2, 3]]
    assert xcover.get_topn(blocks, weights, 1, None, None) == [[0, 1]]
    assert xcover.get_topp(blocks, weights, 0.5) == [[0, 1], [2, 3]]
    got = xcover.get_topn_sc(blocks, weights, (1, 1, 0, 0), 4, range(4), 4, 1)
    assert got == [[0, 1]]
    # Plain ints are fine where the stub says float.
    assert xcover.get_top(blocks, [1, 1, 2, 2]) == [[0, 1], [2, 3]]
    assert xcover.count_all(blocks, include=(0,)) == 1
    assert list(xcover.iter_all(blocks, range(2, 4))) == [[2, 3]]
    prefixes = xcover.split(blocks, 2, include=range(0))
    assert [c for p in prefixes for c in xcover.iter_all(blocks, tuple(p))] == [[0, 1], [2, 3]]
    assert xcover.blocks_from_matrix(((1, 1), range(0, 2))) == [[0, 1], [1]]


def test_module_accepts_numpy_arrays_and_scalars_as_the_stub_says():
    np = pytest.importorskip("numpy")
    blocks = np.array([[0, 1], [2, 3], [0, 2], [1, 3]])
    weights = np.array([1.0, 1.0, 2.0, 2.0])
    assert xcover.get_all(blocks) == [[0, 1], [2, 3]]
    assert xcover.get_all(list(blocks)) == [[0, 1], [2, 3]]
    assert xcover.get_topn(blocks, weights, np.int64(1), np.uint32(100), None) == [[0, 1]]
    assert xcover.get_topp(blocks, weights, np.float32(0.5)) == [[0, 1], [2, 3]]
    got = xcover.get_topn_sc(blocks, weights, np.array([1, 1, 0, 0]), np.int64(4),
                             np.arange(4), np.uint8(4), n=np.int16(1))
    assert got == [[0, 1]]
    assert xcover.count_all(blocks, include=np.array([0])) == 1
    assert xcover.split(blocks, np.int64(2)) == xcover.split(blocks, 2)


GOOD_EXAMPLE = '''
from collections.abc import Iterator, Sequence

import xcover

blocks: list[list[int]] = [[0, 1], [2, 3], [0, 2], [1, 3]]
as_tuples: tuple[tuple[int, ...], ...] = ((0, 1), (2, 3))
weights: list[float] = [1.0, 1.0, 2.0, 2.0]

every: list[list[int]] = xcover.get_all(blocks)
also: list[list[int]] = xcover.get_all(as_tuples)
ranked: list[list[int]] = xcover.get_top(blocks, weights, max_iter=100, max_heap=None)
best: list[list[int]] = xcover.get_topn(blocks, weights, 2)
mass: list[list[int]] = xcover.get_topp(blocks, weights, 0.05, None, 1000)
counted: list[list[int]] = xcover.get_topn_sc(
    blocks, weights, [1, 1, 0, 0], 4, [2, 2, 2, 2], 4, 3, max_iter=None, max_heap=10
)
from_ints = xcover.get_top(blocks, [1, 2, 3, 4])
how_many: int = xcover.count_all(blocks, include=(0,))
streamed: Iterator[list[int]] = xcover.iter_all(as_tuples, [1])
iterator: xcover.CoverIterator = xcover.iter_all(blocks, secondary=[3], seed=7)
ranked_pairs: xcover.RankedIterator = xcover.iter_top(blocks, weights)
next_cover: list[int] = next(iterator)
prefixes: list[list[int]] = xcover.split(blocks, 8)
from_matrix: list[list[int]] = xcover.blocks_from_matrix([[1, 0], [False, True], (0.0, 1.0)])
version: str = xcover.__version__
again: list[list[int]] = [c for p in prefixes for c in xcover.iter_all(blocks, include=p)]


def total(cover: Sequence[int]) -> float:
    return sum(weights[b] for b in cover)


first_block: int = best[0][0]
costs: list[float] = [total(c) for c in ranked]
'''

# Each line is a call the stub must reject; mypy must report an error on each of them.
BAD_EXAMPLE = '''
import xcover

blocks = [[0, 1], [2, 3]]
weights = [1.0, 1.0]
xcover.get_topn(blocks, weights, "3")
xcover.get_all([["a"]])
xcover.get_top(blocks, ["1.0", "1.0"])
xcover.get_topp(blocks, weights, alpha="0.1")
xcover.get_topn_sc(blocks, weights, [1, 1], 2, ["x", "y"], 4, 3)
xcover.get_top(blocks, weights, max_iter=1.5)
xcover.get_topn(blocks, weights, 3, max_heep=10)
names: list[str] = xcover.get_all(blocks)
xcover.get_all(blocks, weights)
xcover.count_all(blocks, include=[1.5])
xcover.split(blocks)
listed: list[list[int]] = xcover.iter_all(blocks)
xcover.iter_all(blocks, 3)
xcover.blocks_from_matrix(["01", "10"])
xcover.blocks_from_matrix({0: [1]})
xcover.get_all("0123")
'''
FIRST_BAD_LINE = 6  # 1-based, counting the leading blank line of BAD_EXAMPLE


def run_mypy(tmp_path, *, installed, examples=None, site_packages=False):
    """mypy --strict over the examples ({file name: code}; by default the good and the bad
    one): the stub comes from MYPYPATH, or, for an installed module, from site-packages as
    any user of the package would get it. `site_packages` lets a MYPYPATH run see the
    packages installed beside it (numpy's own types); MYPYPATH still comes first."""
    if examples is None:
        examples = {"good_use.py": GOOD_EXAMPLE, "bad_use.py": BAD_EXAMPLE}
    files = []
    for name, code in examples.items():
        (tmp_path / name).write_text(textwrap.dedent(code))
        files.append(str(tmp_path / name))
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    env.pop("MYPYPATH", None)
    options = []
    if not installed:
        env["MYPYPATH"] = STUB_DIR
        if not site_packages:
            options = ["--no-site-packages"]
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--show-error-codes",
         "--cache-dir", str(tmp_path / "mypy-cache"), *options, *files],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=300,
    )


@pytest.mark.parametrize("installed", [False, True], ids=["mypypath", "site-packages"])
def test_mypy_accepts_typed_use_and_rejects_wrong_types(tmp_path, installed):
    pytest.importorskip("mypy")
    if installed and STUB != INSTALLED_STUB:
        pytest.skip("the module is not installed with its stub (a build tree)")
    if not installed and STUB == INSTALLED_STUB:
        pytest.skip("the module is installed: its stub is checked through site-packages")
    result = run_mypy(tmp_path, installed=installed)
    lines = [line for line in result.stdout.splitlines() if ": error:" in line]
    # The stub is found (no import-not-found) and the typed example is clean.
    assert not [line for line in lines if "good_use.py" in line], result.stdout + result.stderr
    bad_lines = {int(line.split(":")[1]) for line in lines if "bad_use.py" in line}
    expected = set(range(FIRST_BAD_LINE, len(BAD_EXAMPLE.splitlines()) + 1))
    assert bad_lines == expected, result.stdout + result.stderr
    assert (
        'Argument 3 to "get_topn" has incompatible type "str"; expected "SupportsIndex"'
        in result.stdout
    )
    assert result.returncode == 1


# Arrays where the guide says arrays work: numpy's own types, checked against the stub.
NUMPY_EXAMPLE = '''
import numpy as np
import numpy.typing as npt

import xcover

matrix: npt.NDArray[np.int64] = np.array([[0, 1, 1], [1, 0, 0], [0, 1, 0], [0, 0, 1]])
as_bools: npt.NDArray[np.bool_] = matrix.astype(bool)
blocks: list[list[int]] = xcover.blocks_from_matrix(matrix)
also: list[list[int]] = xcover.blocks_from_matrix(as_bools)
rows: list[list[int]] = xcover.blocks_from_matrix(list(matrix))
weights = np.array([1.0, 0.5, 0.25, 0.25])
every: list[list[int]] = xcover.get_all(blocks)
values_as_blocks: list[list[int]] = xcover.get_all(matrix)
ranked = xcover.get_topn([np.array([0, 1]), np.array([2])], weights, np.int64(2))
counted = xcover.get_topn_sc(
    matrix, weights, edge_counts=np.zeros(4, dtype=np.int64), edge_total=np.uint64(3),
    labels=np.arange(4), vertex_total=3, n=np.int32(2), max_iter=np.int64(1000),
)
share = xcover.get_topp(blocks, weights, np.float64(0.1))
how_many: int = xcover.count_all(matrix, include=np.array([1]))
'''


def test_mypy_accepts_numpy_arrays_where_the_module_does(tmp_path):
    pytest.importorskip("mypy")
    pytest.importorskip("numpy")
    installed = STUB == INSTALLED_STUB
    result = run_mypy(tmp_path, installed=installed, site_packages=True,
                      examples={"numpy_use.py": NUMPY_EXAMPLE})
    assert result.returncode == 0, result.stdout + result.stderr
    assert ": error:" not in result.stdout
