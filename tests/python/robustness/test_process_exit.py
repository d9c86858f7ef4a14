"""Interpreter exit while threads are inside module calls.

A thread that re-attaches to a finalizing interpreter is ended by the interpreter with a
forced unwind. The process must exit as it does when its daemon threads sit in any other C
call: status 0, no crash. Each scenario runs many times because the fault is a race.
"""

import os

import pytest

from conftest import run_python

# The sanitizer runtimes cannot follow a thread that the interpreter ends with a forced
# unwind through instrumented code (AddressSanitizer fails its own stack check there); the
# interpreter parts of the test run cover these cases.
pytestmark = pytest.mark.skipif(
    bool(os.environ.get("XCOVER_SANITIZER")),
    reason="sanitizer runtimes do not support threads ended during finalization",
)

RUNS = 20

COMMON = """
import sys, threading, time
import xcover
from pentomino import pentomino_blocks

PENTOMINO, _ = pentomino_blocks(6, 10)
SMALL = [[0, 1], [0], [1], [2, 3], [2], [3], [4, 5], [4], [5]]
SMALL_W = [0.3, 0.6, 0.5, 0.2, 0.7, 0.4, 0.1, 0.8, 0.9]

def forever(call):
    def loop():
        while True:
            call()
    thread = threading.Thread(target=loop, daemon=True)
    thread.start()
    return thread
"""

SCENARIOS = {
    # Short calls re-attach often, so finalization catches them re-attaching; the long
    # search is mid-way when the program ends.
    "daemon-get_all": """
        forever(lambda: xcover.get_all(SMALL))
        forever(lambda: xcover.get_all(SMALL))
        threading.Thread(target=xcover.get_all, args=(PENTOMINO,), daemon=True).start()
        time.sleep(0.3)
    """,
    "threadpool-abandoned": """
        from multiprocessing.pool import ThreadPool
        import multiprocessing
        pool = ThreadPool(3)
        pool.apply_async(xcover.get_all, (PENTOMINO,))
        for _ in range(2):
            pool.apply_async(lambda: [xcover.get_all(SMALL) for _ in range(10**9)])
        try:
            pool.apply_async(xcover.get_all, (PENTOMINO,)).get(timeout=0.3)
        except multiprocessing.TimeoutError:
            pass
    """,
    "daemon-ranked": """
        forever(lambda: xcover.get_topn(SMALL, SMALL_W, 5))
        forever(lambda: xcover.get_top(SMALL, SMALL_W))
        weights = [1.0 / (1 + i % 7) for i in range(len(PENTOMINO))]
        threading.Thread(
            target=xcover.get_topn, args=(PENTOMINO, weights, 10**9), daemon=True
        ).start()
        time.sleep(0.3)
    """,
}


@pytest.mark.concurrency
@pytest.mark.parametrize("scenario", sorted(SCENARIOS))
def test_exit_while_threads_search(scenario):
    import textwrap

    code = COMMON + textwrap.dedent(SCENARIOS[scenario])
    failures = []
    for run in range(RUNS):
        result = run_python(code, timeout=60)
        if result.returncode != 0 or "Segmentation fault" in result.stderr or "core" in result.stderr:
            failures.append((run, result.returncode, result.stderr[-500:]))
    assert not failures, failures


def test_exit_from_excepthook_while_printing_a_resumed_panic():
    # A PanicException from a caller's __len__ is printed through sys.excepthook on a
    # non-main thread, while other threads are inside module calls. A hook raising
    # SystemExit there used to end the interpreter from that thread, which crashes CPython
    # 3.13 in its finalization; the module now ignores it as threads do, and the process
    # ends when its main thread does.
    code = COMMON + textwrap_dedent(
        """
        def panic_type():
            try:
                xcover.get_top([[0]], [])
            except BaseException as e:
                return type(e)
        Panic = panic_type()

        class PanickingLen(list):
            def __len__(self):
                raise Panic("from __len__")

        def hook(*args):
            raise SystemExit(0)
        sys.excepthook = hook

        forever(lambda: xcover.get_all(SMALL))
        forever(lambda: xcover.get_all(SMALL))
        time.sleep(0.05)
        def printer():
            try:
                xcover.get_all(PanickingLen([[0]]))
            except BaseException:
                pass
        threading.Thread(target=printer, daemon=True).start()
        time.sleep(5)
        """
    )
    failures = []
    for run in range(RUNS // 2):
        result = run_python(code, timeout=60)
        if result.returncode != 0 or "Segmentation fault" in result.stderr:
            failures.append((run, result.returncode, result.stderr[-500:]))
    assert not failures, failures


def textwrap_dedent(text):
    import textwrap

    return textwrap.dedent(text)
