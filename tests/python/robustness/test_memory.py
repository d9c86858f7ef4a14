"""Memory exhaustion: MemoryError, never a crash, and the interpreter stays usable."""

import os

import pytest

from conftest import run_python

pytestmark = pytest.mark.skipif(
    bool(os.environ.get("XCOVER_SANITIZER")),
    reason="sanitizer runtimes reserve more address space than the limit leaves",
)

LIMIT = 1 << 30  # 1 GiB of address space beyond what the interpreter has mapped


def test_too_many_covers_raise_memory_error_and_the_module_stays_usable():
    result = run_python(
        """
        import xcover
        # 30 independent pairs of elements, each covered by one block or by two: 2**30 covers.
        blocks = []
        for k in range(30):
            blocks += [[2 * k], [2 * k + 1], [2 * k, 2 * k + 1]]
        try:
            xcover.get_all(blocks)
        except MemoryError:
            print("memory-error")
        else:
            print("completed")
        print(xcover.get_all([[0], [1]]))
        """,
        limit_as=LIMIT,
        timeout=600,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["memory-error", "[[0,", "1]]"]


def test_overstated_len_under_address_space_limit():
    result = run_python(
        """
        import xcover
        class Liar(list):
            def __len__(self):
                return 2**62
        print(xcover.get_all(Liar([[0], [1]])))
        print(xcover.get_all([Liar([0, 1])]))
        """,
        limit_as=LIMIT,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["[[0,", "1]]", "[[0]]"]


@pytest.mark.concurrency
@pytest.mark.parametrize("limit", [60 << 20, 100 << 20, 150 << 20])
def test_memory_error_on_a_fresh_thread_whose_first_exception_is_the_refusal(limit):
    # A thread started under the limit goes straight into a call that exhausts memory: the
    # refused allocation is the first C++ exception the thread ever throws.
    result = run_python(
        """
        import threading, xcover
        blocks = []
        for k in range(30):
            blocks += [[2 * k], [2 * k + 1], [2 * k, 2 * k + 1]]
        outcomes = []
        def work():
            try:
                xcover.get_all(blocks)
            except MemoryError:
                outcomes.append("memory-error")
            else:
                outcomes.append("completed")
        for _ in range(2):
            thread = threading.Thread(target=work)
            thread.start()
            thread.join()
        print(*outcomes)
        print(xcover.get_all([[0], [1]]))
        """,
        limit_as=limit,
        timeout=600,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["memory-error", "memory-error", "[[0,", "1]]"]


@pytest.mark.concurrency
def test_get_topn_sc_on_a_thread_runs_out_of_memory_promptly():
    # A thread's malloc arena cannot reserve a new heap under the limit, so every small
    # allocation then gets its own mapping: a search that allocated per scored child spent
    # minutes in the kernel before its frontier's next growth failed. Scoring reuses its
    # storage, so the call meets the failing growth within seconds and raises MemoryError.
    # (A step cap never reached keeps the plain search: without caps the call takes its
    # candidates from the block-count stream and finishes in a moment.)
    result = run_python(
        """
        import random, threading, xcover
        rng = random.Random(3)
        n = 36
        blocks = [[i] for i in range(n)]
        blocks += [[i, j] for i in range(n) for j in range(i + 1, n) if rng.random() < 0.3]
        blocks += [[i, j, k] for i in range(n) for j in range(i + 1, n) for k in range(j + 1, n)
                   if rng.random() < 0.01]
        weights = [1.0 + rng.random() for _ in blocks]
        outcomes = []
        def work():
            try:
                xcover.get_topn_sc(blocks, weights, [len(b) - 1 for b in blocks], 3 * n,
                                   [len(b) for b in blocks], n, 1, max_iter=2**62)
            except MemoryError:
                outcomes.append("memory-error")
            else:
                outcomes.append("completed")
        thread = threading.Thread(target=work)
        thread.start()
        thread.join()
        print(*outcomes)
        print(xcover.get_topn_sc([[0], [1]], [0.5, 0.5], [0, 0], 1, [1, 1], 2, 1))
        """,
        limit_as=120 << 20,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["memory-error", "[[0,", "1]]"]


@pytest.mark.parametrize("limit", [70 << 20, 150 << 20, 250 << 20], ids=lambda b: f"{b >> 20}MiB")
@pytest.mark.parametrize("threads", [2, 4, 16, 64])
def test_helpers_under_a_limit_from_the_start_end_in_memory_error_never_an_abort(threads, limit):
    # With the limit in force from the start, helpers meet it too: one whose first exception
    # was a refused allocation used to need memory for its thread-local runtime state right
    # then, and the C library ended the process ("cannot allocate memory for thread-local
    # data"). Every call must end with its result or MemoryError, and the pool serve on.
    result = run_python(
        f"""
        import warnings, xcover
        warnings.simplefilter("ignore")  # a setting above the machine's limit is reduced
        n = 11
        blocks = [[k - 1, n + i, n + i + k + 1] for k in range(1, n + 1) for i in range(2 * n - k - 1)]
        weights = [1.0 + (i % 7) / 3 for i in range(len(blocks))]
        calls = {{
            "get_topn": lambda: len(xcover.get_topn(blocks, weights, 10**6)),
            "get_top": lambda: len(xcover.get_top(blocks, weights)),
            "iter_top": lambda: sum(1 for _ in xcover.iter_top(blocks, weights)),
            "get_all": lambda: len(xcover.get_all(blocks)),
            "count_all": lambda: xcover.count_all(blocks),
            "iter_all": lambda: sum(1 for _ in xcover.iter_all(blocks)),
        }}
        xcover.set_threads({threads})
        for name, call in calls.items():
            try:
                print(name, call())
            except MemoryError:
                print(name, "memory-error")
        # Idle helpers keep their stacks: with many, a small call may find no room left.
        try:
            print("small", len(xcover.get_all([[0], [1]]) + xcover.get_topn([[0], [1]], [1.0, 1.0], 1)))
        except MemoryError:
            print("small", "memory-error")
        xcover.set_threads(1)
        print("after", xcover.get_all([[0], [1]]), xcover.get_topn([[0], [1]], [1.0, 1.0], 1))
        """,
        limit_as_at_start=limit,
        timeout=600,
    )
    assert result.returncode == 0, result.stderr
    lines = [line.split(maxsplit=1) for line in result.stdout.splitlines()]
    assert [name for name, _ in lines] == [
        "get_topn", "get_top", "iter_top", "get_all", "count_all", "iter_all", "small", "after"]
    assert all(outcome in ("35584", "memory-error") for _, outcome in lines[:-2])
    assert lines[-2][1] in ("2", "memory-error")
    assert lines[-1][1] == "[[0, 1]] [[0, 1]]"
