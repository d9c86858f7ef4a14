"""Arbitrary Python objects for every parameter: a result or a Python exception, never worse.

Every argument is drawn either from well-formed values or from a pool of nested objects:
ints of any size, floats with nan/inf, str, bytes, containers, and objects whose __len__,
__iter__, __getitem__, __index__ or __float__ raise or lie. A call must return a list of
covers or raise an Exception subclass (or PanicException for an internal failure). When the
arguments are plain, the covers are also checked against a brute-force model.
"""

import gc
import math
import operator

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import xcover
from conftest import brute_force_covers, panic_type
from signatures import FUNCTIONS, parameter_names

PANIC = panic_type()

PARAMETERS = {name: parameter_names(name) for name in FUNCTIONS}


# ---------------------------------------------------------------------------------------------
# Objects that misbehave. Each exception they raise is recorded, so that a pass-through can be
# checked to hand back the very object that was raised.

RAISED = []


class FuzzError(Exception):
    pass


class FuzzTypeError(TypeError):
    pass


ERROR_TYPES = [ValueError, TypeError, RuntimeError, IndexError, KeyError, ZeroDivisionError,
               OverflowError, StopIteration, FuzzError, FuzzTypeError]


def make_error(kind):
    error = kind("fuzz")
    RAISED.append(error)
    del RAISED[:-64]  # keep the list short; recent ones are enough for identity checks
    return error


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value!r})"


class IndexRaises:
    def __init__(self, kind):
        self.kind = kind

    def __index__(self):
        raise make_error(self.kind)

    def __repr__(self):
        return f"IndexRaises({self.kind.__name__})"


class Float:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"Float({self.value!r})"


class FloatRaises:
    def __init__(self, kind):
        self.kind = kind

    def __float__(self):
        raise make_error(self.kind)

    def __repr__(self):
        return f"FloatRaises({self.kind.__name__})"


class Seq:
    """A sequence by __len__ and __getitem__, optionally lying about its length and failing
    at one position."""

    def __init__(self, items, length=None, fail_at=None, kind=ValueError):
        self.items, self.length, self.fail_at, self.kind = items, length, fail_at, kind

    def __len__(self):
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        if i == self.fail_at:
            raise make_error(self.kind)
        return self.items[i]

    def __repr__(self):
        return f"Seq({self.items!r}, length={self.length!r}, fail_at={self.fail_at!r})"


class NoLen:
    """__getitem__ only: read until IndexError."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __repr__(self):
        return f"NoLen({self.items!r})"


class LenRaises(list):
    kind = RuntimeError

    def __len__(self):
        raise make_error(self.kind)


class IterRaises(list):
    kind = FuzzError

    def __iter__(self):
        raise make_error(self.kind)


class IterStopsEarly(list):
    """__iter__ yields only the first item, whatever __len__ says."""

    def __iter__(self):
        return iter(list(list.__iter__(self))[:1])


class IterFailsMidway(list):
    def __iter__(self):
        def gen():
            for k, item in enumerate(list.__iter__(self)):
                if k == 1:
                    raise make_error(FuzzError)
                yield item

        return gen()


class IterAddsItems(list):
    """Yields more items than __len__ reports."""

    def __iter__(self):
        yield from list.__iter__(self)
        yield from list.__iter__(self)


class NotASequence:
    def __len__(self):
        return 1


class Reentrant:
    """Calls into the module from inside a conversion, then converts like `value`."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        assert xcover.get_all([[0], [1], [0, 1]]) == [[0, 1], [2]]
        return self.value

    def __float__(self):
        assert xcover.get_topn([[0], [0]], [2.0, 1.0], 1) == [[1]]
        return float(self.value)

    def __repr__(self):
        return f"Reentrant({self.value!r})"


# ---------------------------------------------------------------------------------------------
# Strategies.

small = st.integers(0, 5)
any_int = st.one_of(
    small,
    st.integers(),
    st.sampled_from([-1, -(2**63), 2**63 - 1, 2**63, 2**64 - 1, 2**64, 2**65, 10**400, -(10**400)]),
)
any_float = st.one_of(
    st.floats(),
    st.sampled_from([math.nan, math.inf, -math.inf, -0.0, 1e308, 5e-324]),
)
errors = st.sampled_from(ERROR_TYPES)

scalars = st.one_of(
    any_int,
    any_float,
    st.booleans(),
    st.none(),
    st.text(max_size=3),
    st.binary(max_size=4),
    st.binary(max_size=4).map(bytearray),
    st.builds(Index, st.one_of(any_int, any_float, st.none(), st.text(max_size=1))),
    st.builds(IndexRaises, errors),
    st.builds(Float, st.one_of(any_float, any_int, st.none(), st.text(max_size=1))),
    st.builds(FloatRaises, errors),
    st.builds(range, st.integers(-3, 6), st.integers(-3, 9)),
    st.builds(range, st.integers(0, 2**66), st.integers(0, 2**66), st.integers(2**60, 2**66)),
    st.frozensets(small, max_size=3),
    st.builds(NotASequence),
    st.builds(Reentrant, small),
)


def wrap(children):
    as_list = st.lists(children, max_size=5)
    return st.one_of(
        as_list,
        as_list.map(tuple),
        st.frozensets(small, max_size=3).map(set),
        st.dictionaries(small, children, max_size=3),
        st.builds(Seq, as_list, st.one_of(st.none(), st.sampled_from([0, 1, 2**40, 2**62, -1, 2**63, 2**64, "x"])),
                  st.one_of(st.none(), st.integers(0, 4)), errors),
        st.builds(NoLen, as_list),
        st.builds(LenRaises, as_list),
        st.builds(IterRaises, as_list),
        st.builds(IterStopsEarly, as_list),
        st.builds(IterFailsMidway, as_list),
        st.builds(IterAddsItems, as_list),
    )


anything = st.recursive(scalars, wrap, max_leaves=12)

# Well-formed values, mostly small so that every search stays tiny.
element = st.one_of(small, small, small, st.sampled_from([2**64 - 1, 2**40, 7]))
block = st.lists(element, max_size=4)
good_partitions = st.lists(block, max_size=8)
good_floats = st.lists(st.one_of(st.floats(0, 10), any_float, small), max_size=9)
good_u64s = st.lists(st.one_of(small, st.sampled_from([0, 1, 2**64 - 1])), max_size=9)
good_u64 = st.one_of(small, st.integers(0, 20), st.sampled_from([0, 2**64 - 1]), st.booleans())
good_cap = st.one_of(st.none(), st.just(200), st.integers(0, 50))

# Partitions that are well formed at the top but hold bad pieces somewhere.
mixed_block = st.one_of(block, block.map(tuple), anything, st.lists(st.one_of(element, anything), max_size=4))
mixed_partitions = st.lists(mixed_block, max_size=8)


def arg(good):
    return st.one_of(good, good, good, anything)


STRATEGIES = {
    "partitions": st.one_of(good_partitions, mixed_partitions, anything),
    "weights": arg(good_floats),
    "edge_counts": arg(good_u64s),
    "labels": arg(good_u64s),
    "edge_total": arg(good_u64),
    "vertex_total": arg(good_u64),
    "n": arg(st.one_of(st.integers(0, 4), st.just(2**64 - 1))),
    "alpha": arg(st.one_of(st.floats(0, 1), st.sampled_from([0.0, 0.3, 1.0]))),
    "max_iter": arg(good_cap),
    "max_heap": arg(good_cap),
}


# ---------------------------------------------------------------------------------------------
# A model of the conversion for plain values: None means "not plain" (the module may refuse it).

PLAIN_SEQUENCES = (list, tuple, range, bytes, bytearray)


def plain_u64(value):
    if type(value) in (int, bool) and 0 <= value < 2**64:
        return int(value)
    return None


def plain_f64(value):
    if type(value) in (int, bool, float):
        try:
            return float(value)
        except OverflowError:
            return None
    return None


def plain_list(value, convert):
    if type(value) not in PLAIN_SEQUENCES:
        return None
    out = [convert(v) for v in value]
    return None if any(v is None for v in out) else out


def plain_partitions(value):
    if type(value) not in PLAIN_SEQUENCES:
        return None
    blocks = [plain_list(b, plain_u64) for b in value]
    return None if any(b is None for b in blocks) else blocks


def plain_cap(value):
    return "none" if value is None else plain_u64(value)


# ---------------------------------------------------------------------------------------------


def check_outcome(name, kwargs, call):
    """Runs call(); checks the kind of result or exception. Returns the result or None."""
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - classifying every outcome is the point
        if type(error) is PANIC:
            return None
        assert isinstance(error, Exception), f"{type(error).__name__} escaped: {error!r}"
        if type(error) is TypeError:
            # Every plain TypeError of a conversion is replaced by one naming the parameter.
            assert not any(error is e for e in RAISED), "a TypeError passed through unlabelled"
            message = str(error)
            assert message.startswith("argument '"), message
            param = message[len("argument '") :].split("'", 1)[0]
            assert param in PARAMETERS[name], message
        if isinstance(error, (FuzzError, FuzzTypeError)):
            # Raised by one of our objects and passed through unchanged (a subclass of
            # TypeError is not relabelled either).
            assert any(error is e for e in RAISED), repr(error)
        return None
    assert type(result) is list, type(result)
    for cover in result:
        assert type(cover) is list, type(cover)
        assert all(type(i) is int and i >= 0 for i in cover), cover
        assert len(set(cover)) == len(cover), cover
    blocks = plain_partitions(kwargs["partitions"])
    if blocks is not None:
        assert all(i < len(blocks) for cover in result for i in cover), (result, len(blocks))
    return result


def check_plain(name, kwargs, result, raised):
    """When every argument is plain and long enough, the call succeeds with exact covers."""
    blocks = plain_partitions(kwargs["partitions"])
    if blocks is None:
        return
    needed = {"partitions": lambda v: v}
    if name != "get_all":
        needed["weights"] = lambda v: plain_list(v, plain_f64)
        needed["max_iter"] = plain_cap
        needed["max_heap"] = plain_cap
    if name in ("get_topn", "get_topn_sc"):
        needed["n"] = plain_u64
    if name == "get_topp":
        needed["alpha"] = plain_f64
    if name == "get_topn_sc":
        needed["edge_counts"] = lambda v: plain_list(v, plain_u64)
        needed["labels"] = lambda v: plain_list(v, plain_u64)
        needed["edge_total"] = plain_u64
        needed["vertex_total"] = plain_u64
    values = {}
    for key, convert in needed.items():
        values[key] = convert(kwargs[key]) if key != "partitions" else blocks
        if values[key] is None:
            return
    for key in ("weights", "edge_counts", "labels"):
        if key in values and len(values[key]) < len(blocks):
            return  # a short list may or may not be read: an internal failure is allowed
    assert not raised, f"plain arguments raised: {kwargs!r}"
    expected = sorted(brute_force_covers(blocks))
    got = sorted(tuple(sorted(c)) for c in result)
    assert len(set(got)) == len(got), result
    if name == "get_all":
        assert got == expected
    else:
        assert set(got) <= set(expected), (got, expected)
        capped = values["max_iter"] != "none" or values["max_heap"] != "none"
        if not capped:
            if name == "get_top":
                assert got == expected
            elif name in ("get_topn", "get_topn_sc"):
                assert len(got) == min(values["n"], len(expected))
        if name in ("get_topn", "get_topn_sc"):
            assert len(got) <= values["n"]


def arguments(name):
    return st.fixed_dictionaries({p: STRATEGIES[p] for p in PARAMETERS[name]})


@pytest.mark.parametrize("name", list(PARAMETERS))
def test_arbitrary_arguments(name):
    function = getattr(xcover, name)

    @settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
    @given(arguments(name), st.booleans())
    def run(kwargs, as_keywords):
        if as_keywords:
            call = lambda: function(**kwargs)  # noqa: E731
        else:
            call = lambda: function(*(kwargs[p] for p in PARAMETERS[name]))  # noqa: E731
        outcome = check_outcome(name, kwargs, call)
        check_plain(name, kwargs, outcome or [], outcome is None)

    run()


# ---------------------------------------------------------------------------------------------
# The same data in other sequence types gives the same covers.

def as_range_or_tuple(b):
    if b and b == list(range(b[0], b[0] + len(b))):
        return range(b[0], b[0] + len(b))
    return tuple(b)


BLOCK_FORMS = [
    list,
    tuple,
    bytes,
    bytearray,
    as_range_or_tuple,
    lambda b: Seq(list(b)),
    lambda b: Seq(list(b), length=2**62),
    lambda b: NoLen(list(b)),
    lambda b: [Index(v) for v in b],
    lambda b: [Reentrant(v) for v in b],
    lambda b: [bool(v) if v < 2 else v for v in b],
]
OUTER_FORMS = [list, tuple, lambda p: Seq(p), lambda p: NoLen(p), lambda p: Seq(p, length=0)]
FLOAT_FORMS = [list, tuple, lambda w: [Float(v) for v in w], lambda w: Seq(w),
               lambda w: [Reentrant(v) for v in w]]
U64_FORMS = [list, tuple, bytes, bytearray, lambda v: NoLen(v), lambda v: [Index(x) for x in v]]

equivalent_instance = st.lists(st.lists(st.integers(0, 6), max_size=4), max_size=8).flatmap(
    lambda blocks: st.fixed_dictionaries(
        {
            "blocks": st.just(blocks),
            "weights": st.lists(st.floats(0, 5), min_size=len(blocks), max_size=len(blocks)),
            "edges": st.lists(st.integers(0, 3), min_size=len(blocks), max_size=len(blocks)),
            "labels": st.lists(st.integers(0, 3), min_size=len(blocks), max_size=len(blocks)),
            "n": st.integers(0, 5),
            "alpha": st.floats(0, 0.6),
            "block_forms": st.lists(st.sampled_from(BLOCK_FORMS), min_size=len(blocks), max_size=len(blocks)),
            "outer_form": st.sampled_from(OUTER_FORMS),
            "float_form": st.sampled_from(FLOAT_FORMS),
            "u64_forms": st.tuples(st.sampled_from(U64_FORMS), st.sampled_from(U64_FORMS)),
            "int_form": st.sampled_from([int, Index, lambda v: bool(v) if v < 2 else v]),
        }
    )
)


@settings(max_examples=150, deadline=None)
@given(equivalent_instance)
def test_equivalent_sequence_types_give_identical_results(d):
    blocks, weights, edges, labels, n = d["blocks"], d["weights"], d["edges"], d["labels"], d["n"]
    edge_total = sum(edges) + 1
    vertex_total = len({e for b in blocks for e in b})

    def calls(p, w, e, lab, k, et, vt):
        return [
            xcover.get_all(p),
            xcover.get_top(p, w),
            xcover.get_topn(p, w, k),
            xcover.get_topp(p, w, d["alpha"]),
            xcover.get_topn_sc(p, w, e, et, lab, vt, k),
        ]

    expected = calls(blocks, weights, edges, labels, n, edge_total, vertex_total)
    p = d["outer_form"]([form(b) for form, b in zip(d["block_forms"], blocks)])
    w = d["float_form"](weights)
    e = d["u64_forms"][0](edges)
    lab = d["u64_forms"][1](labels)
    f = d["int_form"]
    assert calls(p, w, e, lab, f(n), f(edge_total), f(vertex_total)) == expected


# ---------------------------------------------------------------------------------------------
# Conversion hooks that change the very lists being converted. The module reads each list
# with the ordinary iteration protocol, so it must see what a Python loop over the same
# structure sees: checked by building the structure twice, converting one copy in Python.


class Hook:
    """An element whose __index__ / __float__ runs `action` once, then gives `value`."""

    def __init__(self, value, action):
        self.value, self.action, self.fired = value, action, False

    def fire(self):
        if not self.fired:
            self.fired = True
            self.action()

    def __index__(self):
        self.fire()
        return self.value

    def __float__(self):
        self.fire()
        return float(self.value)


def hooked_partitions(case):
    p = [[0], [1, 2], [0, 1], [2], [3], [2, 3]]
    actions = {
        "clear outer": lambda: p.clear(),
        "clear own block": lambda: p[1].clear(),
        "grow outer": lambda: p.extend([[4], [3, 4]]),
        "shrink outer": lambda: p.pop(),
        "replace later block": lambda: p.__setitem__(4, [3, 1]),
        "replace own block": lambda: p.__setitem__(1, []),
        "bad later block": lambda: p.__setitem__(3, "x"),
        "bad later element": lambda: p[5].__setitem__(0, -1),
        "reverse outer": lambda: p.reverse(),
        "collect": lambda: (p.__setitem__(slice(None), p[:2]), gc.collect()),
    }
    p[1][1] = Hook(2, actions[case])
    return p


def as_u64(x):
    value = operator.index(x)
    if not 0 <= value < 2**64:
        raise OverflowError(value)
    return value


def as_f64(x):
    if isinstance(x, (str, bytes, bytearray)):
        raise TypeError("must be real number")  # float() would parse it; the module does not
    return float(x)


def convert_like_the_module(p):
    return [[as_u64(x) for x in block] for block in p]


HOOK_CASES = [
    "clear outer", "clear own block", "grow outer", "shrink outer", "replace later block",
    "replace own block", "bad later block", "bad later element", "reverse outer", "collect",
]


@pytest.mark.parametrize("case", HOOK_CASES)
def test_hooks_that_mutate_partitions_during_conversion(case):
    try:
        seen = convert_like_the_module(hooked_partitions(case))
    except Exception as error:  # noqa: BLE001 - the module must fail the same way
        with pytest.raises(type(error)):
            xcover.get_all(hooked_partitions(case))
        return
    assert xcover.get_all(hooked_partitions(case)) == xcover.get_all(seen)
    weights = [0.5 * (i + 1) for i in range(len(seen))]
    assert xcover.get_top(hooked_partitions(case), weights) == xcover.get_top(seen, weights)


@pytest.mark.parametrize("case", ["clear", "pop", "extend", "replace", "bad"])
def test_hooks_that_mutate_weights_during_conversion(case):
    p = [[0], [1], [0, 1], [2], [1, 2]]

    def make():
        w = [1.0, 2.0, 0.5, 1.5, 0.25, 3.0]
        actions = {
            "clear": w.clear,
            "pop": lambda: w.pop(),
            "extend": lambda: w.extend([9.0, 9.0]),
            "replace": lambda: w.__setitem__(3, 0.125),
            "bad": lambda: w.__setitem__(4, "x"),
        }
        w[1] = Hook(2, actions[case])
        return w

    try:
        seen = [as_f64(x) for x in make()]
    except Exception as error:  # noqa: BLE001
        with pytest.raises(type(error)):
            xcover.get_top(p, make())
        return
    if len(seen) < len(p):
        # Too short for the blocks: the search may read past it, an internal failure.
        with pytest.raises(BaseException) as info:
            xcover.get_top(p, make())
        assert type(info.value) is PANIC
    else:
        assert xcover.get_top(p, make()) == xcover.get_top(p, seen)
