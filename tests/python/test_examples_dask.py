"""examples/dask_cluster.py on a local cluster of two worker processes: the counts and the
covers gathered from the workers are those of count_all and get_all, in get_all's order.

Each run starts its own interpreter (the cluster's worker processes are children of it), with
a generous timeout: starting a cluster takes seconds on a busy machine.
"""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import ROOT, run_python

pytest.importorskip("distributed")

TIMEOUT = 600


def test_cluster_results_equal_the_single_calls():
    result = run_python(
        textwrap.dedent(
            """
            from dask.distributed import Client, LocalCluster

            import xcover
            from dask_cluster import dask_count, dask_get_all, scatter
            from langford import langford_blocks
            from pentomino import pentomino_blocks

            if __name__ == "__main__":
                problems = {
                    "langford8": langford_blocks(8)[0],
                    "pent3x20": pentomino_blocks(3, 20)[0],
                    "no-cover": langford_blocks(5)[0],
                    "empty": [],
                }
                with LocalCluster(n_workers=2, processes=True, threads_per_worker=1) as cluster:
                    with Client(cluster) as client:
                        assert len(client.scheduler_info()["workers"]) == 2
                        for name, blocks in problems.items():
                            remote = scatter(client, blocks)
                            for parts in (None, 1, 5):
                                covers = dask_get_all(client, blocks, parts, remote)
                                count = dask_count(client, blocks, parts, remote)
                                print(name, parts, covers == xcover.get_all(blocks),
                                      count == xcover.count_all(blocks) == len(covers))
            """
        ),
        timeout=TIMEOUT,
    )
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 12
    assert all(line.endswith("True True") for line in lines), lines


def test_main_on_a_local_cluster():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    result = subprocess.run(
        [sys.executable, os.path.join(ROOT, "examples", "dask_cluster.py"),
         "--instance", "langford11", "--enumerate", "--check"],
        capture_output=True, text=True, timeout=TIMEOUT, env=env,
    )
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    assert "count 35584 in" in result.stdout
    assert "enumerated 35584 covers" in result.stdout
    assert "count matches count_all: True" in result.stdout
    assert "covers match get_all: True" in result.stdout
