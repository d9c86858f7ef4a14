"""examples/parallel.py: the threaded split gives get_all's covers in get_all's order and
count_all's count, for any number of workers; the progress helpers run and report."""

import io

import pytest

import parallel
import xcover
from langford import langford_blocks
from pentomino import pentomino_blocks

INSTANCES = {
    "langford8": langford_blocks(8)[0],
    "langford11": langford_blocks(11)[0],
    "pent3x20": pentomino_blocks(3, 20)[0],
    "no-cover": langford_blocks(5)[0],
    "one-block": [[0, 1, 2]],
    "empty": [],
}


@pytest.mark.parametrize("workers", [1, 2, 4])
@pytest.mark.parametrize("name", list(INSTANCES))
def test_parallel_results_equal_the_single_calls(name, workers):
    partitions = INSTANCES[name]
    assert parallel.parallel_get_all(partitions, workers) == xcover.get_all(partitions)
    assert parallel.parallel_count(partitions, workers) == xcover.count_all(partitions)


def test_parts_outnumber_workers_on_a_branching_tree():
    partitions = INSTANCES["langford11"]
    assert len(parallel.prefixes_for(partitions, 4)) >= 4 * parallel.PARTS_PER_WORKER


def test_progress_of_a_count_in_percent():
    pytest.importorskip("tqdm")
    partitions = INSTANCES["langford11"]
    out = io.StringIO()
    assert parallel.count_with_progress(partitions, 2, file=out) == 35584
    assert "100%" in out.getvalue() and "covers=35584" in out.getvalue()
    assert xcover.get_threads() == 1  # the setting is back


def test_progress_over_iter_all():
    pytest.importorskip("tqdm")
    partitions = INSTANCES["langford8"]
    out = io.StringIO()
    assert parallel.iterate_with_progress(partitions, file=out) == xcover.get_all(partitions)
    assert "300/300" in out.getvalue()
