"""xcover's command line (xcover.main, which the console script `xcover` calls): counts and
covers of DLX files against read_dlx and a brute-force model, standard input, bad files and
bad arguments with their exit statuses, and Ctrl-C during a long search (in a subprocess)."""

import os
import signal
import subprocess
import sys
import time

import pytest

import xcover
from conftest import ROOT, default_sigint
from langford import langford_blocks

TOY = os.path.join(ROOT, "examples", "toy.dlx")
COMMAND = "import sys, xcover; sys.exit(xcover.main())"


def run_command(*args, stdin=None):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run(
        [sys.executable, "-c", COMMAND, *args],
        input=stdin, capture_output=True, text=True, timeout=120, env=env,
    )


def dlx_text(blocks, secondary=()):
    """A DLX text for integer blocks: item i is named 'i<value>'."""
    values = sorted({v for b in blocks for v in b})
    primary = [v for v in values if v not in secondary]
    head = " ".join(f"i{v}" for v in primary)
    second = [v for v in values if v in secondary]
    if second:
        head += " | " + " ".join(f"i{v}" for v in second)
    return head + "\n" + "\n".join(" ".join(f"i{v}" for v in b) for b in blocks) + "\n"


def brute_force(blocks, primary, secondary):
    """Every set of option indices covering the primary items once, secondary at most once,
    using options with a primary item."""
    import itertools

    usable = [i for i, b in enumerate(blocks) if set(b) & set(primary)]
    found = []
    for r in range(len(usable) + 1):
        for combo in itertools.combinations(usable, r):
            seen = [e for i in combo for e in blocks[i]]
            if len(seen) == len(set(seen)) and set(primary) <= set(seen):
                found.append(combo)
    return found


def test_the_example_file_counts_and_lists_its_covers():
    problem = xcover.read_dlx_file(TOY)
    primary = [i for i in range(len(problem.names)) if i not in problem.secondary]
    expected = brute_force(problem.blocks, primary, problem.secondary)
    assert expected  # the example has covers to print

    counted = run_command(TOY)
    assert (counted.returncode, counted.stderr) == (0, "")
    assert counted.stdout == f"{len(expected)}\n"
    assert run_command("--count", TOY).stdout == counted.stdout

    listed = run_command("--all", TOY)
    assert listed.returncode == 0
    lines = listed.stdout.splitlines()
    option_text = [" ".join(problem.names[i] for i in b) for b in problem.blocks]
    as_sets = sorted(sorted(line.split(" | ")) for line in lines)
    assert as_sets == sorted(sorted(option_text[i] for i in c) for c in expected)


def test_standard_input_and_in_process_calls(capsys):
    blocks = langford_blocks(4)[0]
    text = dlx_text(blocks)
    result = run_command("-", stdin=text)
    assert (result.returncode, result.stdout) == (0, f"{xcover.count_all(blocks)}\n")
    assert xcover.main(["--count", TOY]) == 0
    assert capsys.readouterr().out == run_command(TOY).stdout


def test_the_module_attributes_do_not_steer_the_command(monkeypatch, capsys):
    # The command runs its own functions, whatever a caller puts in the module's namespace.
    def replaced(*args, **kwargs):
        raise AssertionError("the command looked the function up by name")

    expected = [run_command(TOY).stdout, run_command("--all", TOY).stdout]
    for name in ("count_all", "iter_all", "read_dlx", "read_dlx_file"):
        monkeypatch.setattr(xcover, name, replaced)
    got = []
    for args in ([TOY], ["--all", TOY]):
        assert xcover.main(args) == 0
        got.append(capsys.readouterr().out)
    assert got == expected


def test_secondary_items_reach_the_search():
    blocks = [[0, 9], [1, 9], [0], [1]]
    result = run_command("-", stdin=dlx_text(blocks, secondary={9}))
    assert result.stdout == f"{xcover.count_all(blocks, secondary=[9])}\n"


def test_colors_reach_the_search_and_the_listing():
    # Knuth's example of color controls: one cover, options 'A C X:1 Y:1' and 'B X:1'.
    text = "A B C | X Y\nA B X:0 Y:0\nA C X:1 Y:1\nX:0 Y:1\nB X:1\nC Y:1\n"
    assert run_command("-", stdin=text).stdout == "1\n"
    listed = run_command("--all", "-", stdin=text).stdout.splitlines()
    assert [sorted(line.split(" | ")) for line in listed] == [["A C X:1 Y:1", "B X:1"]]


@pytest.mark.parametrize(
    "args, stdin, status, message",
    [
        ((), None, 2, "no FILE given"),
        (("--bogus", "x"), None, 2, "unknown option '--bogus'"),
        (("a", "b"), None, 2, "more than one FILE"),
        (("/nonexistent/p.dlx",), None, 1, "xcover: /nonexistent/p.dlx: [Errno 2]"),
        (("-",), "a b\na c\n", 1, "xcover: <stdin>: line 2, column 3: unknown item 'c'"),
        (("-",), "| nothing\n", 1, "missing items line"),
        (("-",), "a\na:red\n", 1, "line 2, column 1: primary item 'a' must be uncolored"),
    ],
)
def test_bad_input_says_what_and_fails(args, stdin, status, message):
    result = run_command(*args, stdin=stdin)
    assert result.returncode == status
    assert result.stdout == ""
    assert message in result.stderr
    if status == 2:
        assert result.stderr.startswith("usage: xcover")


@pytest.mark.parametrize("text", ["a b c\na\nb\n", "a b\n", "| x\na b | y\na y\n"])
def test_a_primary_item_without_options_leaves_no_cover(tmp_path, text):
    path = tmp_path / "p.dlx"
    path.write_text(text)
    assert run_command(str(path)).stdout == "0\n"
    listed = run_command("--all", str(path))
    assert (listed.returncode, listed.stdout, listed.stderr) == (0, "", "")


def test_count_and_all_exclude_each_other():
    for args in (("--all", "--count", TOY), ("--count", "--all", TOY)):
        result = run_command(*args)
        assert (result.returncode, result.stdout) == (2, "")
        assert result.stderr.startswith("usage: xcover") and "exclude each other" in result.stderr


@pytest.mark.skipif(bool(os.environ.get("XCOVER_SANITIZER")),
                    reason="sanitizer runtimes reserve more address space than the cap leaves")
def test_an_endless_or_binary_input_stops_at_its_first_fault(tmp_path):
    # Read whole, these inputs would fill the 1 GiB of address space allowed here.
    import resource

    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))

    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    bom = tmp_path / "bom.dlx"
    bom.write_bytes(b"\xef\xbb\xbf" + open(TOY, "rb").read())
    cases = [
        (["/dev/zero"], None, "xcover: /dev/zero: line 1, column 1: a NUL character"),
        (["/dev/urandom"], None, "xcover: /dev/urandom: line 1, column "),
        (["-"], "/dev/zero", "xcover: <stdin>: line 1, column 1: a NUL character"),
    ]
    for args, stdin, message in cases:
        with open(stdin or os.devnull, "rb") as source:
            result = subprocess.run(
                [sys.executable, "-c", COMMAND, *args], stdin=source, capture_output=True,
                text=True, timeout=120, env=env, preexec_fn=limit,
            )
        assert (result.returncode, result.stdout) == (1, ""), result.stderr
        assert result.stderr.startswith(message) and result.stderr.count("\n") == 1
    assert run_command(str(bom)).stdout == run_command(TOY).stdout


def test_a_closed_output_ends_the_command_quietly(tmp_path):
    # 2**20 covers, 60 MB of lines: the reader leaves after one, as `| head -1` does.
    path = tmp_path / "many.dlx"
    path.write_text(dlx_text([[v] for v in range(20) for _ in range(2)]))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    command = [sys.executable, "-c", COMMAND]
    process = subprocess.Popen(
        [*command, "--all", str(path)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env
    )
    assert process.stdout.readline().count(b" | ") == 19
    process.stdout.close()
    err = process.stderr.read()
    assert (process.wait(timeout=120), err) == (141, b"")
    # The count, and the help, into a pipe nobody reads any more.
    read_end, write_end = os.pipe()
    os.close(read_end)
    for args in ([str(path)], ["--help"]):
        result = subprocess.run([*command, *args], stdout=write_end, capture_output=False,
                                stderr=subprocess.PIPE, env=env, timeout=120)
        assert (result.returncode, result.stderr) == (141, b"")
    os.close(write_end)


def test_help():
    result = run_command("--help")
    assert result.returncode == 0
    assert result.stdout.startswith("usage: xcover") and "--all" in result.stdout
    with pytest.raises(TypeError):
        xcover.main([1])


def test_ctrl_c_stops_a_long_search_cleanly(tmp_path):
    path = tmp_path / "langford16.dlx"
    path.write_text(dlx_text(langford_blocks(16)[0]))
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    process = subprocess.Popen(
        [sys.executable, "-c", COMMAND, str(path)],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env, preexec_fn=default_sigint,
    )
    time.sleep(1.5)
    assert process.poll() is None, "the search ended before the signal"
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=60)
    assert process.returncode == 130
    assert (out, err) == ("", "xcover: interrupted\n")
