"""A worker process killed while it runs search tasks: the nanny starts a new one, the
scheduler runs the lost tasks again, and the count and covers gathered are still exactly
get_all's, in its order.

The script runs in its own interpreter (the cluster's worker processes are its children).
"""

import sys
import sysconfig

import pytest

from conftest import END_WITHOUT_FINALIZING_ON_313, require_distributed, run_python

require_distributed()
pytestmark = [
    pytest.mark.cluster,
    # Free-threaded 3.13 does not survive this reliably: of five runs, two passed, in two
    # the killed worker was never replaced, and once the client's process died of SIGSEGV
    # while it was. 3.14t and the GIL build recover; the guide says so.
    pytest.mark.skipif(
        sys.version_info[:2] == (3, 13) and bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
        reason="free-threaded 3.13 stalls or crashes replacing a lost Dask worker"),
]

TIMEOUT = 600

SCRIPT = """
import os, signal, time
from collections import Counter

from dask.distributed import Client, LocalCluster

import xcover
from dask_cluster import count_part, covers_part, share
from pentomino import pentomino_blocks


def running_keys(dask_worker):
    return [task.key for task in dask_worker.state.executing]


def kill_a_busy_worker(client):
    \"\"\"SIGKILLs the process of a worker seen running a task; returns its pid.\"\"\"
    pids = client.run(os.getpid)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        for worker, keys in client.run(running_keys, on_error="ignore").items():
            if keys and worker in pids:
                os.kill(pids[worker], signal.SIGKILL)
                return pids[worker]
        time.sleep(0.002)
    raise AssertionError("no worker was seen running a task")


def worker_pids_once_two_run(client):
    # A worker the scheduler is still removing makes client.run fail: it is left out.
    deadline = time.monotonic() + 300
    while len(pids := client.run(os.getpid, on_error="ignore")) != 2:
        assert time.monotonic() < deadline, "the lost worker was not replaced"
        time.sleep(0.1)
    return set(pids.values())


def runs(dask_scheduler, keys):
    \"\"\"How many times the scheduler sent each task to a worker.\"\"\"
    sent = Counter(t[0] for t in dask_scheduler.transition_log if t[2] == "processing")
    return [sent[key] for key in keys]


if __name__ == "__main__":
    blocks = pentomino_blocks(5, 12)[0]
    expected = xcover.get_all(blocks)
    prefixes = xcover.split(blocks, 16)
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1) as cluster:
        with Client(cluster) as client:
            remote = share(client, blocks)
            for function in (count_part, covers_part):
                futures = client.map(function, prefixes, partitions=remote, pure=False)
                pid = kill_a_busy_worker(client)
                results = client.gather(futures)
                sent = client.run_on_scheduler(runs, keys=[f.key for f in futures])
                pids = worker_pids_once_two_run(client)
                print(function.__name__, "tasks", len(sent), "once", sent.count(1),
                      "again", sum(n >= 2 for n in sent), "replaced", pid not in pids)
                if function is count_part:
                    print("count equal", sum(results) == len(expected))
                else:
                    print("covers equal", [c for piece in results for c in piece] == expected)
    end_without_finalizing_on_313()
"""


def test_a_worker_killed_mid_run_changes_no_result():
    result = run_python(END_WITHOUT_FINALIZING_ON_313 + SCRIPT, timeout=TIMEOUT)
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[1::2] == ["count equal True", "covers equal True"], lines
    for name, line in zip(("count_part", "covers_part"), lines[0::2]):
        words = line.split()
        assert words[0] == name
        tasks, once, again = int(words[2]), int(words[4]), int(words[6])
        # Every task ran, once or again. The task seen running on the killed worker usually
        # runs again, but it may have ended and handed its result on between the look and
        # the kill, so that no task needs a second run: the results must be exact either way.
        assert tasks >= 16 and once + again == tasks, line
        assert words[-2:] == ["replaced", "True"], line
    # What the user sees: the nanny's report of the lost process.
    assert "Restarting worker" in result.stderr
