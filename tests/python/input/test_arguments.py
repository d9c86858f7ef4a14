"""Binding of arguments to parameters, and conversion of each argument."""

import pytest

import xcover

P = [[0, 1], [0], [1]]
W = [2.0, 0.9, 0.9]


def type_error(call):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    return str(info.value)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: xcover.get_all(), "get_all() missing 1 required positional argument: 'partitions'"),
        (lambda: xcover.get_top(), "get_top() missing 2 required positional arguments: 'partitions' and 'weights'"),
        (
            lambda: xcover.get_topn_sc(P, W, [], 0),
            "get_topn_sc() missing 3 required positional arguments: 'labels', 'vertex_total', and 'n'",
        ),
        (
            lambda: xcover.get_topn_sc(),
            "get_topn_sc() missing 7 required positional arguments: 'partitions', 'weights', "
            "'edge_counts', 'edge_total', 'labels', 'vertex_total', and 'n'",
        ),
        (
            lambda: xcover.get_topp(),
            "get_topp() missing 3 required positional arguments: 'partitions', 'weights', and 'alpha'",
        ),
        (
            lambda: xcover.get_topn_sc(P, W, [], 0, [], 0, 1, 1, 2, 3),
            "get_topn_sc() takes from 7 to 9 positional arguments but 10 were given",
        ),
        (lambda: xcover.get_topn(P, n=3), "get_topn() missing 1 required positional argument: 'weights'"),
        (lambda: xcover.get_all(P, P), "get_all() takes 1 positional arguments but 2 were given"),
        (lambda: xcover.get_top(P, W, 1, 2, 3), "get_top() takes from 2 to 4 positional arguments but 5 were given"),
        (lambda: xcover.get_all(P, P, foo=1), "get_all() takes 1 positional arguments but 2 were given"),
        (lambda: xcover.get_all(P, foo=1), "get_all() got an unexpected keyword argument 'foo'"),
        (lambda: xcover.get_all(P, Partitions=P), "get_all() got an unexpected keyword argument 'Partitions'"),
        (lambda: xcover.get_all(P, partitions=P), "get_all() got multiple values for argument 'partitions'"),
        (lambda: xcover.get_all(**{"\udc80": 1, "partitions": P}), None),
    ],
)
def test_binding_messages(call, message):
    text = type_error(call)
    if message is None:
        assert text.startswith("get_all() got an unexpected keyword argument")
    else:
        assert text == message


def test_keywords_in_any_order_and_none_caps():
    assert xcover.get_topn(weights=W, n=2, partitions=P) == xcover.get_topn(P, W, 2)
    assert xcover.get_top(P, W, None, None) == xcover.get_top(P, W) == [[1, 2], [0]]
    assert xcover.get_top(P, W, max_iter=0) == []
    assert xcover.get_all(partitions=P) == xcover.get_all(P)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: xcover.get_all("ab"), "argument 'partitions': Can't extract `str` to `Vec`"),
        (lambda: xcover.get_all(["ab"]), "argument 'partitions': Can't extract `str` to `Vec`"),
        (lambda: xcover.get_all(5), "argument 'partitions': 'int' object is not an instance of 'Sequence'"),
        (lambda: xcover.get_all(None), "argument 'partitions': 'None' is not an instance of 'Sequence'"),
        (lambda: xcover.get_all([{0, 1}]), "argument 'partitions': 'set' object is not an instance of 'Sequence'"),
        (lambda: xcover.get_all({0: [1]}), "argument 'partitions': 'dict' object is not an instance of 'Sequence'"),
        (lambda: xcover.get_all(iter([[0]])), "argument 'partitions': 'list_iterator' object is not an instance of 'Sequence'"),
    ],
)
def test_conversion_type_messages(call, message):
    assert type_error(call) == message


def test_accepted_sequences():
    assert xcover.get_all(((0, 1), range(2, 4))) == [[0, 1]]
    assert xcover.get_all([b"\x00\x01"]) == [[0]]
    assert xcover.get_all([bytearray(b"\x05")]) == [[0]]

    class Indexable:
        """__getitem__ without __len__: accepted, read until IndexError."""

        def __getitem__(self, i):
            if i < 3:
                return i
            raise IndexError

    assert xcover.get_all([Indexable()]) == [[0]]


def test_integer_and_float_conversion_errors():
    with pytest.raises(OverflowError) as info:
        xcover.get_all([[0, -1]])
    assert not str(info.value).startswith("argument")
    assert type_error(lambda: xcover.get_all([[0, 1.5]])).startswith("argument 'partitions': ")
    assert type_error(lambda: xcover.get_top(P, ["1"])).startswith("argument 'weights': ")
    with pytest.raises(OverflowError):
        xcover.get_top(P, [10**400])
    with pytest.raises(OverflowError):
        xcover.get_topn(P, W, 2**64)
    with pytest.raises(OverflowError):
        xcover.get_topn(P, W, -1)
    assert type_error(lambda: xcover.get_topn(P, W, 2.0)).startswith("argument 'n': ")
    # The first parameter in declaration order is the one reported.
    assert type_error(lambda: xcover.get_topn("x", "y", -1)).startswith("argument 'partitions': ")
    with pytest.raises(OverflowError):
        xcover.get_top(P, W, max_heap=-1)
    assert type_error(lambda: xcover.get_top(P, W, max_iter="3")).startswith("argument 'max_iter': ")


def test_accepted_numbers():
    assert xcover.get_top([[0], [1], [0, 1]], [1, True, 2.5]) == [[0, 1], [2]]
    assert xcover.get_topn(P, W, True) == [[1, 2]]
    assert xcover.get_topn(P, W, 2**64 - 1) == [[1, 2], [0]]
    assert xcover.get_all([[2**64 - 1], [0]]) == [[1, 0]]

    class Index:
        def __index__(self):
            return 1

    assert xcover.get_topn(P, W, Index()) == [[1, 2]]
    assert xcover.get_all([[Index()]]) == [[0]]

    class Float:
        def __float__(self):
            return 0.5

    assert xcover.get_top([[0]], [Float()]) == [[0]]


def test_type_error_cause_is_kept_and_subclasses_pass_unchanged():
    class Boom(TypeError):
        pass

    class RaisesSub:
        def __index__(self):
            raise Boom("inner")

    with pytest.raises(Boom) as info:
        xcover.get_all([[RaisesSub()]])
    assert str(info.value) == "inner"

    cause = ValueError("root")

    class RaisesWithCause:
        def __index__(self):
            raise TypeError("outer") from cause

    with pytest.raises(TypeError) as info:
        xcover.get_all([[RaisesWithCause()]])
    assert str(info.value) == "argument 'partitions': outer"
    assert info.value.__cause__ is cause


def test_methods_that_raise():
    class LenRaises(list):
        def __len__(self):
            raise RuntimeError("no len")

    assert xcover.get_all(LenRaises([[0], [1]])) == [[0, 1]]

    class IterRaises(list):
        def __iter__(self):
            raise KeyError("iter")

    with pytest.raises(KeyError):
        xcover.get_all(IterRaises([[0]]))

    class Midway:
        def __len__(self):
            return 3

        def __getitem__(self, i):
            if i == 1:
                raise ValueError("midway")
            return [i]

    with pytest.raises(ValueError, match="midway"):
        xcover.get_all(Midway())

    class MidwayType(Midway):
        def __getitem__(self, i):
            if i == 1:
                raise TypeError("bad item")
            return [i]

    assert type_error(lambda: xcover.get_all(MidwayType())) == "argument 'partitions': bad item"

    class FloatRaises:
        def __float__(self):
            raise ZeroDivisionError

    with pytest.raises(ZeroDivisionError):
        xcover.get_top([[0]], [FloatRaises()])


class Fake:
    pass


def test_registered_but_not_a_sequence_is_refused():
    import collections.abc

    collections.abc.Sequence.register(Fake)
    assert isinstance(Fake(), collections.abc.Sequence)
    assert type_error(lambda: xcover.get_all(Fake())) == (
        "argument 'partitions': 'Fake' object is not an instance of 'Sequence'"
    )


def test_overstated_length_hint():
    class Liar:
        def __len__(self):
            return 2**62

        def __getitem__(self, i):
            if i < 2:
                return [i]
            raise IndexError

    class LiarInts(Liar):
        def __getitem__(self, i):
            return [0, 1][i]

    assert xcover.get_all(Liar()) == [[0, 1]]
    assert xcover.get_all([LiarInts()]) == [[0]]


def test_nested_and_huge_inputs():
    deep = [[[[0]]]]
    assert type_error(lambda: xcover.get_all(deep)).startswith("argument 'partitions': ")
    assert xcover.get_all([list(range(100_000))]) == [[0]]
    with pytest.raises(OverflowError):
        xcover.get_all([[2**64]])


@pytest.mark.parametrize("stop", [KeyboardInterrupt, SystemExit])
def test_stop_requests_from_a_length_hint_propagate(stop):
    # The length hint is optional and its errors are dropped, but not a request to stop.
    raised = stop("from __len__")

    class Stopping(list):
        def __len__(self):
            raise raised

    for call in (
        lambda: xcover.get_all(Stopping(P)),
        lambda: xcover.get_all([Stopping([0, 1])]),
        lambda: xcover.get_top(P, Stopping(W)),
        lambda: xcover.get_topn_sc(P, W, Stopping([1]), 1, [0, 1], 2, 1),
    ):
        with pytest.raises(stop) as info:
            call()
        assert info.value is raised


def test_other_length_hint_errors_are_dropped():
    class Failing(list):
        def __len__(self):
            raise ValueError("no length")

    assert xcover.get_all(Failing(P)) == xcover.get_all(P)
    assert xcover.get_all([Failing([0, 1])]) == [[0]]
