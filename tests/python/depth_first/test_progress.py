"""Progress of the depth-first searches: count_all(progress=), split(progress=) and iter_all's
progress."""
import random
import time

import pytest

import xcover
from conftest import depth_first_model, pool_of, thread_settings
from test_get_all import langford

BATCH = 256  # covers an iterator finds per refill


def dense_problem(rng, elements=9):
    """Random blocks of one to three elements: hundreds of covers, a bushy tree."""
    blocks = [[e] for e in range(elements) if rng.random() < 0.8]
    blocks += [rng.sample(range(elements), rng.randint(2, 3)) for _ in range(rng.randint(8, 20))]
    rng.shuffle(blocks)
    return blocks


@pytest.mark.parametrize("seed", range(12))
def test_iterator_progress_is_the_share_of_the_tree_behind_the_search(seed):
    # One thread: the search stands at the last cover of each batch it found, and the share
    # behind it is the model's, to rounding; 1.0 once the search is over.
    rng = random.Random(seed)
    blocks = dense_problem(rng) if seed % 3 else langford(8)
    include = [rng.randrange(len(blocks))] if seed % 4 == 1 else []
    order = rng.randrange(2**64) if seed % 2 else None
    shares = []
    covers = depth_first_model(blocks, include=include, seed=order, shares=shares)
    it = xcover.iter_all(blocks, include=include, seed=order)
    assert it.progress == (0.0, 0)
    for k, cover in enumerate(it, 1):
        assert cover == covers[k - 1]
        fraction, count = it.progress
        assert count == k
        if (k - 1) % BATCH == 0:  # just refilled
            last = k - 1 + BATCH - 1
            expected = shares[last] if last < len(covers) else 1.0
            assert fraction == pytest.approx(expected, rel=1e-12), (k, len(covers))
    assert it.progress == (1.0, len(covers))


@thread_settings(2, 4)
@pytest.mark.parametrize("n", [9, 11])  # no cover, 35584 covers
def test_iterator_progress_never_decreases_and_ends_at_one(threads, n):
    blocks = langford(n)
    with pool_of(threads):
        it = xcover.iter_all(blocks)
        seen = [it.progress]
        for _ in it:
            seen.append(it.progress)
        end = it.progress
    fractions = [f for f, _ in seen]
    assert fractions == sorted(fractions) and fractions[0] == 0.0
    assert end == (1.0, len(seen) - 1) and [c for _, c in seen] == list(range(len(seen)))


class Recorder:
    """A progress callable that keeps its calls, and raises `error` at call `raise_at`."""

    def __init__(self, raise_at=None, error=ValueError):
        self.calls, self.raise_at, self.error = [], raise_at, error

    def __call__(self, fraction, count):
        self.calls.append((fraction, count))
        if len(self.calls) == self.raise_at:
            raise self.error("stop here")

    def check_monotone(self):
        fractions = [f for f, _ in self.calls]
        counts = [c for _, c in self.calls]
        assert all(0.0 <= f <= 1.0 for f in fractions)
        assert fractions == sorted(fractions) and counts == sorted(counts)


@thread_settings(2)
def test_count_progress_reports_while_it_counts_and_ends_with_the_total(threads):
    blocks = langford(12)  # a quarter of a second on one core
    expected = xcover.count_all(blocks)
    recorder = Recorder()
    with pool_of(threads):
        start = time.monotonic()
        assert xcover.count_all(blocks, progress=recorder) == expected
        elapsed = time.monotonic() - start
    recorder.check_monotone()
    assert recorder.calls[-1] == (1.0, expected)
    if elapsed >= 0.35:  # reports every 0.1 s: some came before the end
        assert len(recorder.calls) >= 2
    assert all(f < 1.0 and c <= expected for f, c in recorder.calls[:-1])


@thread_settings(2)
@pytest.mark.parametrize("error", [ValueError, KeyboardInterrupt])
def test_an_exception_from_progress_stops_the_count_and_propagates(threads, error):
    blocks = langford(13)  # no cover, and seconds of search: stopped at its second report
    recorder = Recorder(raise_at=2, error=error)
    with pool_of(threads):
        with pytest.raises(error, match="stop here"):
            xcover.count_all(blocks, progress=recorder)
        assert len(recorder.calls) == 2
        recorder.check_monotone()
        # Nothing is left running: the next query (and the pool) work as before.
        assert xcover.count_all(langford(8)) == 300


def test_progress_at_the_end_of_a_small_count():
    # A count that ends before any report is due still reports its end, once; its exception
    # propagates too.
    recorder = Recorder()
    assert xcover.count_all([[0], [1], [0, 1]], progress=recorder) == 2
    assert recorder.calls == [(1.0, 2)]
    with pytest.raises(ValueError, match="stop here"):
        xcover.count_all([[0], [1]], progress=Recorder(raise_at=1))
    assert xcover.count_all([[0, 1]], include=[0], progress=print) == 1


@pytest.mark.parametrize("call", [lambda p: xcover.count_all([[0]], progress=p),
                                  lambda p: xcover.split([[0]], 2, progress=p)], ids=["count_all", "split"])
@pytest.mark.parametrize("bad", [3, "x", [print]])
def test_progress_must_be_callable(call, bad):
    with pytest.raises(TypeError, match="progress: expected a callable or None"):
        call(bad)


@pytest.mark.parametrize("n, parts", [(8, 40), (11, 10**6), (12, 10**6)])
def test_split_progress_grows_to_one_with_the_parts_found(n, parts):
    # langford(12) into a million: passes, then a walk of the whole tree (the parts would not
    # fit), about a second; langford(11) has fewer covers than parts asked.
    blocks = langford(n)
    recorder = Recorder()
    prefixes = xcover.split(blocks, parts, progress=recorder)
    assert prefixes == xcover.split(blocks, parts)
    # The parts held may drop (a subtree found to be a dead end); the fraction never does.
    fractions = [f for f, _ in recorder.calls]
    assert fractions == sorted(fractions) and all(0.0 <= f < 1.0 for f in fractions[:-1])
    assert recorder.calls[-1] == (1.0, len(prefixes))


def test_an_exception_from_split_progress_stops_it_and_propagates():
    recorder = Recorder(raise_at=2)
    with pytest.raises(ValueError, match="stop here"):
        xcover.split(langford(13), 10**6, progress=recorder)  # seconds: stopped at its 2nd report
    assert len(recorder.calls) == 2
    with pytest.raises(ValueError, match="stop here"):
        xcover.split(langford(8), 4, progress=Recorder(raise_at=1))  # at the end
    assert len(xcover.split(langford(8), 4)) >= 4
