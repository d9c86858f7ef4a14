"""get_all end to end: documented results, a brute-force model, threads."""

import gc
import threading
import time

import pytest
from hypothesis import given, settings, strategies as st

import xcover
from conftest import brute_force_covers, run_in_threads
from pentomino import pentomino_blocks


@pytest.mark.parametrize(
    "blocks, expected",
    [
        ([], [[]]),
        ([[]], [[]]),
        ([[], []], [[]]),
        ([[5, 5, 5]], [[0]]),
        ([[1], [1]], [[0], [1]]),
        ([[0, 1], [1, 2]], []),
        ([[0, 1], [0]], [[0]]),
        ([[0], [1], [0, 1], [1, 0]], [[0, 1], [2], [3]]),
        ([[0, 1], [2], [0], [1, 2], [1]], [[0, 1], [2, 1, 4], [2, 3]]),
        ([[10], [20], [10, 20], [30], [20, 30]], [[0, 3, 1], [0, 4], [2, 3]]),
        ([[18446744073709551615], [7]], [[1, 0]]),
    ],
)
def test_documented_results(blocks, expected):
    assert xcover.get_all(blocks) == expected


def test_results_are_new_lists_of_plain_ints():
    a = xcover.get_all([[0], [1]])
    b = xcover.get_all([[0], [1]])
    assert a == b and a is not b and a[0] is not b[0]
    assert all(type(i) is int for cover in a for i in cover)
    empty = xcover.get_all([[0, 1], [1, 2]])
    assert empty == [] and empty is not xcover.get_all([[0, 1], [1, 2]])


blocks_strategy = st.lists(
    st.lists(st.sampled_from([0, 1, 2, 3, 4, 2**64 - 1, 2**40]), max_size=4), max_size=9
)


@settings(max_examples=300, deadline=None)
@given(blocks_strategy)
def test_matches_brute_force(blocks):
    result = xcover.get_all(blocks)
    assert sorted(tuple(sorted(c)) for c in result) == sorted(brute_force_covers(blocks))
    for cover in result:
        assert len(set(cover)) == len(cover)


@settings(max_examples=100, deadline=None)
@given(blocks_strategy)
def test_order_inside_block_and_duplicates_do_not_matter(blocks):
    shuffled = [list(reversed(b)) + b[:1] for b in blocks]
    assert xcover.get_all(shuffled) == xcover.get_all(blocks)


def test_adversarial_element_values_are_not_quadratic():
    # Values that collide in a weak hash: all multiples of 2**32. Fast when numbered by sorting.
    n = 200_000
    values = [i << 32 for i in range(n)]
    blocks = [values, values[: n // 2], values[n // 2 :], [(1 << 63) + 1, 1 << 63]]
    start = time.perf_counter()
    result = xcover.get_all(blocks)
    assert result == [[3, 0], [3, 1, 2]]
    # Generous bound: quadratic numbering would take minutes here.
    assert time.perf_counter() - start < 30


def test_pentomino_count():
    blocks, _ = pentomino_blocks(3, 20)
    assert len(xcover.get_all(blocks)) == 8  # 2 essentially different tilings x 4


def langford(n):
    return [[k - 1, n + i, n + i + k + 1] for k in range(1, n + 1) for i in range(2 * n - k - 1)]


@pytest.mark.concurrency
def test_threads_share_inputs_and_match_serial_results():
    inputs = [langford(7), langford(8), pentomino_blocks(3, 20)[0], [[0], [1], [0, 1]]]
    expected = [xcover.get_all(p) for p in inputs]
    errors = []
    barrier = threading.Barrier(8)

    def worker(k):
        barrier.wait()
        for round in range(6):
            i = (k + round) % len(inputs)
            if xcover.get_all(inputs[i]) != expected[i]:
                errors.append((k, i))

    run_in_threads(worker, 8)
    assert errors == []


def test_mutation_by_another_thread_does_not_crash_or_change_a_running_search():
    blocks = langford(8)
    expected = xcover.get_all(blocks)
    shared = [list(b) for b in blocks]
    stop = threading.Event()

    def mutate():
        while not stop.is_set():
            shared.append([99])
            shared.pop()
            shared[0].append(5)
            shared[0].pop()

    t = threading.Thread(target=mutate)
    t.start()
    try:
        for _ in range(20):
            result = xcover.get_all(shared)
            # Mutation during conversion may give a different but valid problem; a search
            # started on a copy is never affected afterwards.
            assert isinstance(result, list)
        snapshot = [list(b) for b in blocks]
        assert xcover.get_all(snapshot) == expected
    finally:
        stop.set()
        t.join()


@pytest.mark.concurrency
def test_long_search_does_not_stall_garbage_collection_in_other_threads():
    blocks, _ = pentomino_blocks(6, 10)
    started = threading.Event()
    done = threading.Event()
    # What a collection costs here without a search: much more under a sanitizer or on a
    # loaded machine. A stalled collection would wait for the whole search, seconds at least.
    alone = 0.0
    for _ in range(3):
        begin = time.perf_counter()
        gc.collect()
        alone = max(alone, time.perf_counter() - begin)
    bound = max(1.0, 10 * alone)

    def search():
        started.set()
        xcover.get_all(blocks)
        done.set()

    t = threading.Thread(target=search)
    t.start()
    started.wait()
    time.sleep(0.3)  # the search is inside the engine by now
    worst = 0.0
    while not done.is_set():
        begin = time.perf_counter()
        gc.collect()
        worst = max(worst, time.perf_counter() - begin)
        time.sleep(0.05)
    t.join()
    assert worst < bound, f"gc.collect() took {worst:.2f} s while a search ran ({alone:.2f} s alone)"
