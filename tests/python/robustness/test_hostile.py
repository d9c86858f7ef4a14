"""What a hostile caller tries: half-built results seen by other threads, Ctrl-C in every
phase of a call and while waiting for a shared iterator, fork in the middle of a `next`, and
matrices of formats nothing can read.

Each case runs in a fresh interpreter; a timer thread sends the signal to the process.
"""

import textwrap

import pytest

from conftest import GARBAGE_THEN_SIGNAL, SEND_LATER, SIGNAL_LATENCY_BOUND, run_script_words


def run(code, timeout=300):
    return run_script_words(SEND_LATER + "import xcover\n" + textwrap.dedent(code), timeout)


@pytest.mark.concurrency
def test_a_matrix_result_is_never_seen_half_built_by_another_thread():
    # The reader lets other threads in between rows. A thread that finds the result list
    # through the collector while it is being built, and reads its last slot, would crash
    # the process if the list existed before every row's block did.
    out = run(
        """
        import gc
        ROWS = 3_000_017
        matrix = memoryview(bytearray(ROWS * 8)).cast("B", (ROWS, 8))
        stop, seen = threading.Event(), []
        def scan():
            while not stop.is_set():
                for obj in gc.get_objects():
                    if type(obj) is list and len(obj) == ROWS:
                        try:
                            seen.append(obj[-1])
                        except BaseException as e:  # an empty slot: the list was half-built
                            seen.append(repr(e))
        scanner = threading.Thread(target=scan)
        scanner.start()
        for _ in range(2):
            blocks = xcover.blocks_from_matrix(matrix)
        stop.set()
        scanner.join()
        print(len(blocks), blocks[-1], all(s == [] for s in seen))
        """
    )
    assert out == ["3000017", "[]", "True"]


def test_sigint_during_a_matrix_read_is_not_lost_to_collections():
    # Garbage with finalizers and weakref callbacks keeps collections scheduled while the
    # rows are read; a check that collects before it runs the handlers runs the handler
    # inside a finalizer, where the KeyboardInterrupt would be discarded.
    out = run(
        GARBAGE_THEN_SIGNAL + textwrap.dedent("""
        rows = [[0] * 2000 for _ in range(20000)]
        latencies = []
        for _ in range(5):
            sent = []
            try:
                # Inside the try: on a loaded machine the signal can come before the call.
                threading.Timer(0.1, garbage_then_signal).start()
                xcover.blocks_from_matrix(rows)
            except KeyboardInterrupt:
                latencies.append(time.monotonic() - sent[0])
        print(len(latencies), max(latencies))
        """)
    )
    assert out[0] == "5"
    assert float(out[1]) < SIGNAL_LATENCY_BOUND


PHASES = {
    # Each call spends its first seconds in one phase outside any search loop.
    "converting the arguments": ("[[i] for i in range(6_000_000)]", "xcover.count_all(blocks)"),
    "setting up one huge block": ("[list(range(12_000_000))]", "xcover.count_all(blocks)"),
    "building a ranked search": (
        "[[i] for i in range(3_000_000)]", "xcover.get_topn(blocks, [1.0] * len(blocks), 0)"),
    "converting the result": ("[[i] for i in range(3_000_000)]", "xcover.split(blocks, 1)"),
}


@pytest.mark.parametrize("phase", sorted(PHASES))
def test_sigint_ends_every_phase_of_a_long_call(phase):
    build, call = PHASES[phase]
    out = run(
        f"""
        blocks = {build}
        sent = send_later(signal.SIGINT, 0.3)
        try:
            {call}
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - sent[0])
        else:
            print("completed", 0)
        print(xcover.count_all([[0], [1]]))
        """
    )
    assert out[0] == "interrupted"
    assert float(out[1]) < SIGNAL_LATENCY_BOUND
    assert out[2] == "1"


# A search with no cover and a walk of seconds before it knows: Langford pairs of 13.
LONG_NEXT = """
from langford import langford_blocks
BLOCKS, _ = langford_blocks(13)
"""


@pytest.mark.concurrency
def test_a_thread_waiting_for_a_shared_iterator_can_be_interrupted():
    out = run(
        LONG_NEXT
        + textwrap.dedent("""
        shared = xcover.iter_all(BLOCKS)
        worker = threading.Thread(target=lambda: next(shared, None), daemon=True)
        worker.start()
        time.sleep(0.3)  # the worker holds the iterator now
        sent = send_later(signal.SIGINT, 0.4)
        try:
            next(shared, None)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - sent[0])
        else:
            print("completed", 0)
        """)
    )
    assert out[0] == "interrupted"
    assert float(out[1]) < SIGNAL_LATENCY_BOUND


@pytest.mark.concurrency
def test_a_child_forked_while_a_thread_is_inside_next_gets_an_error_not_a_hang():
    out = run(
        LONG_NEXT
        + textwrap.dedent("""
        import warnings
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads
        shared = xcover.iter_all(BLOCKS)
        other = xcover.iter_all([[0], [1], [0, 1]])
        threading.Thread(target=lambda: next(shared, None), daemon=True).start()
        time.sleep(0.3)
        pid = os.fork()
        if pid == 0:
            try:
                next(shared)
                code = 1
            except RuntimeError:
                code = 0 if list(other) == [[0, 1], [2]] and xcover.count_all(BLOCKS[:3]) >= 0 else 2
            os._exit(code)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                print("exit", os.waitstatus_to_exitcode(status))
                break
            time.sleep(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
            print("hung", 0)
        """)
    )
    assert out == ["exit", "0"]


def test_a_matrix_of_an_unreadable_format_is_a_type_error():
    np = pytest.importorskip("numpy")
    import xcover

    matrix = np.zeros((2, 3), dtype=np.longdouble)
    for bad in (memoryview(matrix), [memoryview(row) for row in matrix]):
        with pytest.raises(TypeError, match="cannot be read"):
            xcover.blocks_from_matrix(bad)


def test_the_iterator_type_is_the_module_attribute_the_guide_names():
    import xcover

    assert type(xcover.iter_all([[0]])) is xcover.CoverIterator
    with pytest.raises(TypeError):
        xcover.CoverIterator()


def test_a_caller_error_during_interpreter_shutdown_stays_a_type_error():
    # A finalizer run at exit passes a bad argument: the message names Sequence even though
    # nothing can be imported any more, and nothing is reported as an internal failure.
    from conftest import run_python

    result = run_python(
        """
        import xcover
        class Late:
            def __del__(self):
                xcover.get_all(5)
        late = Late()
        """
    )
    assert result.returncode == 0
    assert "TypeError: argument 'partitions': 'int' object is not an instance of 'Sequence'" in result.stderr
    assert "PanicException" not in result.stderr
