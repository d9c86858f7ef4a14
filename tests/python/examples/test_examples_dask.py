"""examples/dask_cluster.py on a local cluster of two worker processes: the counts and the
covers gathered from the workers are those of count_all and get_all, in get_all's order.

Each run starts its own interpreter (the cluster's worker processes are children of it), with
a generous timeout: starting a cluster takes seconds on a busy machine. On a free-threaded
interpreter the workers must run without the GIL: none of the modules they load (distributed,
msgpack, tornado, pyyaml, psutil, xcover) may turn it back on.
"""

import os
import subprocess
import sys
import sysconfig
import textwrap

import pytest

from conftest import END_WITHOUT_FINALIZING_ON_313, ROOT, default_sigint, require_distributed, run_python

require_distributed()
pytestmark = pytest.mark.cluster

TIMEOUT = 600


def test_cluster_results_equal_the_single_calls():
    result = run_python(
        END_WITHOUT_FINALIZING_ON_313 + textwrap.dedent(
            """
            from dask.distributed import Client, LocalCluster

            import xcover
            from dask_cluster import dask_count, dask_get_all, share
            from langford import langford_blocks
            from pentomino import pentomino_blocks

            def gil_enabled():
                import sys
                import msgpack, psutil, tornado.web, yaml
                return getattr(sys, "_is_gil_enabled", lambda: True)()

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
                            remote = share(client, blocks)
                            for parts in (None, 1, 5):
                                covers = dask_get_all(client, blocks, parts, remote)
                                count = dask_count(client, blocks, parts, remote)
                                print(name, parts, covers == xcover.get_all(blocks),
                                      count == xcover.count_all(blocks) == len(covers))
                        print("gil", sorted(set(client.run(gil_enabled).values())))
                end_without_finalizing_on_313()
            """
        ),
        timeout=TIMEOUT,
    )
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    *lines, gil = result.stdout.splitlines()
    assert len(lines) == 12
    assert all(line.endswith("True True") for line in lines), lines
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    assert gil == ("gil [False]" if free_threaded else "gil [True]"), gil


def test_main_on_a_local_cluster():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    result = subprocess.run(
        [sys.executable, os.path.join(ROOT, "examples", "dask_cluster.py"),
         "--instance", "langford11", "--enumerate", "--check", "--rank", "3"],
        capture_output=True, text=True, timeout=TIMEOUT, env=env,
    )
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    assert "count 35584 in" in result.stdout
    assert "enumerated 35584 covers" in result.stdout
    assert "count matches count_all: True" in result.stdout
    assert "covers match get_all: True" in result.stdout
    assert "ranked 3 covers in" in result.stdout
    assert "ranked covers match the single stream: True" in result.stdout
    # Each ranked cover printed as its blocks' items: together, every element once.
    from langford import langford_blocks

    elements = sorted({v for block in langford_blocks(11)[0] for v in block})
    lines = result.stdout.split("ranked 3 covers in")[1].splitlines()[1:4]
    for line in lines:
        cost, items = line.split(maxsplit=1)
        assert sorted(int(v) for block in items.split(" | ") for v in block.split()) == elements


def test_ranked_covers_merged_from_the_workers_are_the_single_streams_top_n():
    """dask_top against the single stream, by weights (iter_top) and by the block-count score
    (iter_top_sc, whose scores are exact to the bit whatever the prefix): the same costs and
    the same covers, for several cuts, n past the number of covers, and n = 0."""
    result = run_python(
        END_WITHOUT_FINALIZING_ON_313 + textwrap.dedent(
            """
            import itertools

            from dask.distributed import Client, LocalCluster

            import xcover
            from dask_cluster import dask_top, ranked_problem, ranked_stream, same_ranking
            from langford import langford_blocks

            def is_cover(blocks, cover):
                covered = sorted(v for b in cover for v in blocks[b])
                return covered == sorted({v for block in blocks for v in block})

            if __name__ == "__main__":
                problems = {
                    "langford8": ranked_problem("langford8", {"partitions": langford_blocks(8)[0]}, 3),
                    "communities": ranked_problem("communities", None),
                }
                with LocalCluster(n_workers=2, processes=True, threads_per_worker=1) as cluster:
                    with Client(cluster) as client:
                        for name, problem in problems.items():
                            blocks = problem["partitions"]
                            for parts, n in ((None, 12), (1, 5), (7, 40), (5, 0), (3, 10**4)):
                                top = dask_top(client, problem, n, parts)
                                single = list(itertools.islice(ranked_stream(problem), n))
                                exact = "edge_counts" not in problem or (
                                    [c for c, _ in top] == [c for c, _ in single])
                                print(name, parts, n, len(top) == len(single),
                                      same_ranking(top, single), exact,
                                      all(is_cover(blocks, c) for _, c in top))
                end_without_finalizing_on_313()
            """
        ),
        timeout=TIMEOUT,
    )
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 10
    assert all(line.endswith("True True True True") for line in lines), lines


def test_progress_is_a_bar_over_tasks_or_the_dashboard_address():
    result = run_python(
        END_WITHOUT_FINALIZING_ON_313 + textwrap.dedent(
            """
            import io

            from dask.distributed import Client, LocalCluster

            import dask_cluster
            import xcover
            from langford import langford_blocks

            def count_with_progress(client, prefixes, remote):
                futures = client.map(dask_cluster.count_part, prefixes, partitions=remote)
                out = io.StringIO()
                sizes = dask_cluster.part_sizes(blocks, prefixes)
                dask_cluster.show_progress(client, futures, file=out, sizes=sizes)
                assert all(future.done() for future in futures)
                return sum(client.gather(futures)), out.getvalue()

            if __name__ == "__main__":
                blocks = langford_blocks(8)[0]
                prefixes = xcover.split(blocks, 24)
                with LocalCluster(n_workers=2, processes=True, threads_per_worker=1) as cluster:
                    with Client(cluster) as client:
                        remote = dask_cluster.share(client, blocks)
                        dashboard = dask_cluster.has_dashboard(client)
                        count, shown = count_with_progress(client, prefixes, remote)
                        print("dashboard", dashboard, "count", count, "tasks", len(prefixes))
                        print("shown", repr(shown))
                        # As with bokeh installed on the scheduler:
                        dask_cluster.has_dashboard = lambda client: True
                        count, shown = count_with_progress(client, prefixes, remote)
                        print("forced count", count)
                        print("forced", shown == f"progress: {client.dashboard_link}\\n")
                end_without_finalizing_on_313()
            """
        ),
        timeout=TIMEOUT,
    )
    print(result.stdout, result.stderr[-3000:])
    assert result.returncode == 0, result.stderr
    first, shown, forced_count, forced = result.stdout.splitlines()
    words = first.split()
    tasks = int(words[-1])
    assert tasks >= 24
    assert words[2:4] == ["count", "300"] and forced_count == "forced count 300"
    if words[1] == "False":
        assert "100%|" in shown, shown     # the bar, weighed by the parts' sizes, reached the end
    else:
        assert shown.startswith("'progress: http"), shown
    assert forced == "forced True"


class _Versions:
    """Stands for a client: the package versions its scheduler reports."""

    def __init__(self, bokeh):
        self.bokeh = bokeh

    def get_versions(self, packages):
        assert packages == ["bokeh"]
        return {"scheduler": {"packages": {"bokeh": self.bokeh}}}


def test_the_dashboard_counts_only_with_a_recent_enough_bokeh_on_the_scheduler():
    from dask_cluster import has_dashboard

    assert not has_dashboard(_Versions(None))
    assert not has_dashboard(_Versions("0.12.0"))
    assert has_dashboard(_Versions("99.0.0"))


def test_same_ranking_tells_lists_apart():
    from dask_cluster import same_ranking

    ranked = [(1.0, [0, 1]), (2.0, [2]), (2.0, [3]), (3.0, [4])]
    assert same_ranking(ranked, [(1.0 + 1e-12, [1, 0]), (2.0, [3]), (2.0, [2]), (3.0, [4])])
    assert same_ranking(ranked[:3], ranked[:2] + [(2.0, [5])])  # a tie cut at the end
    assert not same_ranking(ranked, [(1.0, [0, 1]), (2.0, [2]), (2.0, [5]), (3.0, [4])])
    assert not same_ranking(ranked, ranked[:3] + [(3.5, [4])])
    assert not same_ranking(ranked, ranked[:3])


@pytest.mark.parametrize(
    "content, args, message",
    [
        (None, [], "No such file or directory"),
        ("{bad", [], "not JSON"),
        ('{"blocks": [[0]]}', [], "a JSON object with a 'partitions' key is needed"),
        ('[[0], [1]]', [], "a JSON object with a 'partitions' key is needed"),
        ('{"partitions": [[0, "a"]]}', [], "block 0 holds 'a', not an element"),
        ('{"partitions": [[0], [-1]]}', [], "block 1 holds -1, not an element"),
        ('{"partitions": [[0], 5]}', [], "'partitions' must be a list of lists"),
        ('{"partitions": [[0]], "weights": [1, 2]}', ["--rank", "1"], "'weights' must be a list of 1"),
        ('{"partitions": [[0]]}', ["--parts", "-5"], "argument --parts: -5 is below 1"),
        ('{"partitions": [[0]]}', ["--rank", "x"], "argument --rank: 'x' is not a whole number"),
    ],
)
def test_bad_input_is_an_argument_error(tmp_path, capsys, content, args, message):
    import dask_cluster

    path = tmp_path / "instance.json"
    if content is not None:
        path.write_text(content)
    with pytest.raises(SystemExit) as raised:
        dask_cluster.main(["--file", str(path), *args])
    err = capsys.readouterr().err
    assert raised.value.code == 2
    assert err.startswith("usage:") and message in err and "Traceback" not in err, err


def test_an_unreachable_scheduler_is_said_plainly(capsys):
    import socket

    import dask_cluster

    with socket.socket() as unused:  # a port nothing listens on
        unused.bind(("127.0.0.1", 0))
        address = "tcp://127.0.0.1:%d" % unused.getsockname()[1]
    with pytest.raises(SystemExit) as raised:
        dask_cluster.main(["--scheduler", address, "--connect-timeout", "1", "--instance", "langford8"])
    err = capsys.readouterr().err
    assert raised.value.code == 1
    assert f": error: cannot reach the scheduler at {address} within 1 s" in err
    assert err.count("\n") == 1


def test_ctrl_c_closes_the_cluster_and_exits_130_quietly():
    import signal
    import time

    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    process = subprocess.Popen(
        [sys.executable, os.path.join(ROOT, "examples", "dask_cluster.py"),
         "--instance", "pent6x10", "--no-progress"],  # seconds of counting
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
        start_new_session=True, preexec_fn=default_sigint,
    )
    assert "worker threads" in process.stdout.readline()
    time.sleep(2)  # the count's tasks are running
    os.killpg(process.pid, signal.SIGINT)  # as a terminal's Ctrl-C: the workers too
    out, err = process.communicate(timeout=TIMEOUT)
    assert (process.returncode, out, err) == (130, "", "interrupted\n")
