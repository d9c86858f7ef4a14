"""A worker process killed while it runs search tasks: the nanny starts a new one, the
scheduler runs the lost tasks again, and the count and covers gathered are still exactly
get_all's, in its order.

The script runs in its own interpreter (the cluster's worker processes are its children).
"""

import pytest

from conftest import require_distributed, run_python

require_distributed()
pytestmark = pytest.mark.cluster

TIMEOUT = 600

SCRIPT = """
import os, signal, time

from dask.distributed import Client, LocalCluster

import xcover
from dask_cluster import count_part, covers_part, scatter
from pentomino import pentomino_blocks


def running_keys(dask_worker):
    return [task.key for task in dask_worker.state.executing]


def kill_a_busy_worker(client):
    \"\"\"SIGKILLs the process of a worker while it runs a task; returns that worker's pid
    and the keys it was running.\"\"\"
    pids = client.run(os.getpid)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        for worker, keys in client.run(running_keys).items():
            if keys:
                os.kill(pids[worker], signal.SIGKILL)
                return pids[worker], keys
        time.sleep(0.002)
    raise AssertionError("no worker was seen running a task")


def suspicious(dask_scheduler, keys):
    \"\"\"How many times each task was running on a worker that died.\"\"\"
    return [dask_scheduler.tasks[key].suspicious for key in keys]


if __name__ == "__main__":
    blocks = pentomino_blocks(5, 12)[0]
    expected = xcover.get_all(blocks)
    prefixes = xcover.split(blocks, 16)
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1) as cluster:
        with Client(cluster) as client:
            remote = scatter(client, blocks)
            for function in (count_part, covers_part):
                futures = client.map(function, prefixes, partitions=remote, pure=False)
                pid, keys = kill_a_busy_worker(client)
                results = client.gather(futures)
                retried = client.run_on_scheduler(suspicious, keys=keys)
                client.wait_for_workers(2, timeout=120)
                pids = set(client.run(os.getpid).values())
                print(function.__name__, "running", len(keys), "retried", retried,
                      "replaced", pid not in pids and len(pids) == 2)
                if function is count_part:
                    print("count equal", sum(results) == len(expected))
                else:
                    print("covers equal", [c for piece in results for c in piece] == expected)
"""


def test_a_worker_killed_mid_run_changes_no_result():
    result = run_python(SCRIPT, timeout=TIMEOUT)
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[1::2] == ["count equal True", "covers equal True"], lines
    for name, line in zip(("count_part", "covers_part"), lines[0::2]):
        words = line.split()
        assert words[0] == name
        assert words[1:3] == ["running", "1"], line   # one task slot per worker
        assert words[3:5] == ["retried", "[1]"], line  # its task counted once as lost
        assert words[-2:] == ["replaced", "True"], line
    # What the user sees: the nanny's report of the lost process.
    assert "Restarting worker" in result.stderr
