"""iter_all with helper threads: the covers of one thread in the same order, with `include`
and `secondary`; iterators left midway, shared between threads, interrupted and resumed, and
a forked child."""

import os
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import xcover
from conftest import (PEAK_RSS, SEND_LATER, brute_force_covers, fork_with_helpers, run_in_threads,
                      run_python, run_script_words)
from langford import langford_blocks
from pentomino import pentomino_blocks


@pytest.fixture(autouse=True)
def one_thread_afterwards():
    yield
    xcover.set_threads(1)


@st.composite
def problems(draw):
    blocks = draw(st.lists(st.lists(st.integers(0, 7), min_size=1, max_size=3), max_size=22))
    indices = st.integers(0, len(blocks) - 1) if blocks else st.nothing()
    include = draw(st.lists(indices, max_size=2)) if blocks else []
    secondary = draw(st.lists(st.integers(0, 7), max_size=3))
    return blocks, include, secondary


@pytest.mark.concurrency
@settings(max_examples=200, deadline=None)
@given(problem=problems(), threads=st.sampled_from([2, 3, 4]))
def test_helpers_give_the_covers_of_one_thread(problem, threads):
    blocks, include, secondary = problem
    xcover.set_threads(1)
    one = list(xcover.iter_all(blocks, include, secondary))
    xcover.set_threads(threads)
    assert list(xcover.iter_all(blocks, include, secondary)) == one
    if not secondary and len(blocks) <= 12:
        model = [c for c in brute_force_covers(blocks) if set(include) <= set(c)]
        assert sorted(map(sorted, one)) == sorted(map(sorted, model))


@pytest.mark.concurrency
@pytest.mark.parametrize("picked", [(), (1,), (0, 2)])
def test_larger_trees_with_include(picked):
    blocks, _ = langford_blocks(11)
    some_cover = xcover.get_all(blocks)[777]
    include = [some_cover[i] for i in picked]  # blocks of a cover: the filter keeps some
    xcover.set_threads(1)
    one = list(xcover.iter_all(blocks, include))
    assert len(one) > 0
    xcover.set_threads(2)
    assert list(xcover.iter_all(blocks, include)) == one
    assert xcover.count_all(blocks, include) == len(one)


@pytest.mark.concurrency
def test_iterators_left_midway_stop_their_helpers():
    blocks, _ = pentomino_blocks(6, 10)  # thousands of covers, seconds of search
    xcover.set_threads(1)
    first = list(zip(range(300), xcover.iter_all(blocks)))
    xcover.set_threads(3)
    for taken in (0, 1, 300):
        it = xcover.iter_all(blocks)
        assert list(zip(range(taken), it)) == first[:taken]
        del it  # returns once the helpers have left its parts
    # The helpers serve other searches afterwards.
    assert list(xcover.iter_all(langford_blocks(7)[0])) == xcover.get_all(langford_blocks(7)[0])


@pytest.mark.concurrency
def test_threads_sharing_one_iterator_get_every_cover_once():
    blocks, _ = langford_blocks(11)
    expected = xcover.get_all(blocks)
    position = {tuple(c): i for i, c in enumerate(expected)}
    xcover.set_threads(2)
    it = xcover.iter_all(blocks, secondary=[])
    taken = [[] for _ in range(4)]

    def worker(k):
        for cover in it:
            taken[k].append(position[tuple(cover)])

    run_in_threads(worker, 4)
    assert sorted(i for mine in taken for i in mine) == list(range(len(expected)))
    for mine in taken:
        assert mine == sorted(mine)  # next() is serialised


@pytest.mark.concurrency
def test_many_threads_with_their_own_iterators():
    problems = [(langford_blocks(8)[0], ()), (langford_blocks(9)[0], (5,)), ([[0], [1], [0, 1]], (2,))]
    expected = [[c for c in xcover.get_all(b) if set(inc) <= set(c)] for b, inc in problems]
    xcover.set_threads(3)
    errors = []

    def worker(k):
        for round in range(3):
            i = (k + round) % len(problems)
            if list(xcover.iter_all(*problems[i])) != expected[i]:
                errors.append((k, i))

    run_in_threads(worker, 6)
    assert errors == []


@pytest.mark.concurrency
@pytest.mark.skipif(bool(os.environ.get("XCOVER_SANITIZER")),
                    reason="a sanitizer's shadow memory and quarantine inflate the resident size")
def test_memory_with_helpers_does_not_grow_with_the_covers():
    # Peak resident size of a fresh process walking 216288 covers with helpers: a window of
    # parts ahead, each paused at a bound, where get_all holds every cover (tens of MiB).
    code = """
        import xcover
        from langford import langford_blocks

        blocks = langford_blocks(12)[0]
        xcover.set_threads(3)
        list(xcover.iter_all(langford_blocks(7)[0]))  # the helpers' threads and stacks exist
        before = peak()
        print(sum(1 for _ in xcover.iter_all(blocks)), peak() - before)
        xcover.set_threads(1)
        print(len(xcover.get_all(blocks)), peak() - before)
    """
    result = run_python(PEAK_RSS + textwrap.dedent(code))
    assert result.returncode == 0, result.stderr
    (walked, iter_kib), (listed, get_all_kib) = [map(int, line.split())
                                                  for line in result.stdout.splitlines()]
    print("peak growth, KiB: iter_all with helpers", iter_kib, "get_all", get_all_kib)
    assert walked == listed == 216288
    assert iter_kib < 8192 < get_all_kib


PRELUDE = SEND_LATER + """
import xcover
from pentomino import pentomino_blocks
xcover.set_threads(2)
"""


@pytest.mark.concurrency
def test_interrupted_iteration_with_helpers_loses_and_repeats_nothing():
    board = (4, 15) if os.environ.get("XCOVER_SANITIZER") else (5, 12)
    out = run_script_words(PRELUDE + textwrap.dedent(f"""
        blocks, _ = pentomino_blocks{board}
        it = xcover.iter_all(blocks)
        produced = [next(it)]
        sent = send_later(signal.SIGINT, 0.4)
        interrupts = 0
        while True:
            try:
                produced.extend(it)
                break
            except KeyboardInterrupt:
                interrupts += 1
                print("at", len(produced))
        expected = xcover.get_all(blocks)
        print(len(expected), interrupts, produced == expected)
        """))
    total = int(out[2])
    assert out[0] == "at" and 0 < int(out[1]) < total  # interrupted midway
    assert out[3:] == ["1", "True"]


@pytest.mark.concurrency
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@fork_with_helpers
def test_a_forked_child_is_told_the_helpers_are_the_parents():
    out = run_script_words(PRELUDE + textwrap.dedent("""
        import warnings
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads
        blocks, _ = pentomino_blocks(4, 15)
        it = xcover.iter_all(blocks)
        first = [next(it) for _ in range(3)]
        pid = os.fork()
        if pid == 0:
            try:
                for _ in range(10_000):
                    next(it)
                code = 1
            except RuntimeError:
                code = 0 if list(xcover.iter_all([[0], [1], [0, 1]])) == [[0, 1], [2]] else 2
            del it
            os._exit(code)
        _, status = os.waitpid(pid, 0)
        print("exit", os.waitstatus_to_exitcode(status))
        print(first + list(it) == xcover.get_all(blocks))
        """))
    assert out == ["exit", "0", "True"]


@pytest.mark.concurrency
@settings(max_examples=60, deadline=None)
@given(problem=problems(), seed=st.integers(0, 2**64 - 1))
def test_a_seeded_order_is_the_same_with_helpers_set(problem, seed):
    blocks, include, secondary = problem
    xcover.set_threads(1)
    one = list(xcover.iter_all(blocks, include, secondary, seed=seed))
    xcover.set_threads(3)
    assert list(xcover.iter_all(blocks, include, secondary, seed=seed)) == one
