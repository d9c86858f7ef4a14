"""read_dlx and read_dlx_file: well-formed texts written from random problems read back to
the same blocks, secondary items and names; malformed texts (one fault put in a good text)
raise ValueError naming the faulty line and column; files, paths and bad arguments."""

import os
import re

import pytest
from hypothesis import assume, given, settings, strategies as st

import xcover
from conftest import run_python

NAME_CHARS = st.characters(
    blacklist_characters=" \t\r\n|:", blacklist_categories=("Cs", "Zl", "Zp", "Cc")
)
names_strategy = st.lists(
    st.text(NAME_CHARS, min_size=1, max_size=8), min_size=1, max_size=8, unique=True
)


@st.composite
def problems(draw):
    """(names, number of primary items, options as item numbers)."""
    names = draw(names_strategy)
    primary = draw(st.integers(1, len(names)))
    options = draw(
        st.lists(st.lists(st.integers(0, len(names) - 1), min_size=1, unique=True), max_size=8)
    )
    return names, primary, options


def write(names, primary, options, comments=(), blank=False):
    lines = list(comments)
    head = " ".join(names[:primary])
    if primary < len(names):
        head += " | " + " ".join(names[primary:])
    lines.append(head)
    for option in options:
        lines.append("\t".join(names[i] for i in option))
        if blank:
            lines.append("   ")
    return "\n".join(lines) + "\n"


@settings(max_examples=300, deadline=None)
@given(problems(), st.booleans(), st.booleans())
def test_written_problems_read_back(problem, blank, crlf):
    names, primary, options = problem
    text = write(names, primary, options, comments=["| a comment", "|"], blank=blank)
    if crlf:
        text = text.replace("\n", "\r\n")
    got = xcover.read_dlx(text)
    unmet = [i for i in range(primary) if not any(i in o for o in options)]
    assert got.unmet == unmet
    assert got == (options + unmet_blocks(unmet, names), list(range(primary, len(names))), names)
    assert (got.blocks, got.secondary, got.names) == tuple(got)
    assert type(got).__name__ == "DlxProblem"


def unmet_blocks(unmet, names):
    """The blocks that end a problem with primary items no option holds."""
    if not unmet:
        return []
    u, n = unmet[0], len(names)
    return [[u, n], [n, n + 1], [u, n + 1]]


def dlx_covers(primary, options, names):
    """The covers in the format's meaning: every primary item once, the others at most once,
    from options holding a primary item."""
    import itertools

    usable = [i for i, o in enumerate(options) if min(o) < primary]
    found = []
    for r in range(len(usable) + 1):
        for combo in itertools.combinations(usable, r):
            seen = [e for i in combo for e in options[i]]
            if len(seen) == len(set(seen)) and set(range(primary)) <= set(seen):
                found.append(combo)
    return found


@settings(max_examples=200, deadline=None)
@given(problems())
def test_counts_follow_the_format_when_a_primary_item_has_no_option(problem):
    names, primary, options = problem
    got = xcover.read_dlx(write(names, primary, options))
    expected = dlx_covers(primary, options, names)
    assert xcover.count_all(got.blocks, secondary=got.secondary) == len(expected)
    if got.unmet:
        assert expected == []


def test_every_function_finds_no_cover_when_a_primary_item_has_no_option():
    for text in ["a b c\na\nb\n", "a b\n", "a b | x\na x\n"]:
        p = xcover.read_dlx(text)
        assert p.unmet and len(p) == 3
        b, s, n = p.blocks, p.secondary, len(p.blocks)
        w = [1.0] * n
        elements = len({e for block in b for e in block})
        sc = dict(edge_counts=[0] * n, edge_total=0, labels=[0] * n, vertex_total=elements)
        assert xcover.count_all(b, secondary=s) == 0
        assert list(xcover.iter_all(b, secondary=s)) == []
        assert all(xcover.count_all(b, include=part, secondary=s) == 0 for part in xcover.split(b, 4, secondary=s))
        assert xcover.estimate_all(b, secondary=s, samples=50, seed=1).covers == 0
        assert xcover.get_all(b) == xcover.get_top(b, w) == xcover.get_topn(b, w, 3) == []
        assert xcover.get_topp(b, w, 0.0) == []
        assert xcover.get_topn_sc(b, w, n=3, **sc) == []
        assert list(xcover.iter_top(b, w)) == list(xcover.iter_top_sc(b, w, **sc)) == []


def error_position(text):
    with pytest.raises(ValueError) as raised:
        xcover.read_dlx(text)
    match = re.match(r"^line (\d+), column (\d+): (.+)$", str(raised.value))
    assert match, str(raised.value)
    return int(match[1]), int(match[2]), match[3]


# Each fault: (how to damage an option line or the items line, the expected message part).
@settings(max_examples=300, deadline=None)
@given(problems(), st.data())
def test_a_fault_in_an_option_is_reported_where_it_is(problem, data):
    names, primary, options = problem
    assume(options)
    row = data.draw(st.integers(0, len(options) - 1))
    option = options[row]
    prefix = "\t".join(names[i] for i in option)
    fault, message = data.draw(
        st.sampled_from(
            [
                ("zz" + "q" * 70, "longer than 64"),
                ("unknown_" + "#" * 9, "unknown item"),
                (names[option[0]], "repeated in an option"),
                (names[0] + ":red", "must be uncolored"),  # names[0] is primary
                ("a|b", "forbidden character '|'"),
            ]
        )
    )
    assume(fault not in names or fault == names[option[0]])
    assume(message != "must be uncolored" or 0 not in option)
    damaged = options[:row] + [None] + options[row + 1:]
    lines = write(names, primary, [o if o is not None else [] for o in damaged]).split("\n")
    lines[1 + row] = prefix + " " + fault
    line, column, what = error_position("\n".join(lines))
    assert (line, column) == (2 + row, len(prefix) + 2)
    assert message in what


@settings(max_examples=300, deadline=None)
@given(problems(), st.data())
def test_colored_problems_read_back(problem, data):
    names, primary, options = problem
    palette = data.draw(st.lists(st.text(NAME_CHARS, min_size=1, max_size=3), min_size=1, max_size=4, unique=True))
    colors = [{i: data.draw(st.sampled_from(palette)) for i in option if i >= primary and data.draw(st.booleans())}
              for option in options]
    lines = [" ".join(names[:primary]) + (" | " + " ".join(names[primary:]) if primary < len(names) else "")]
    for option, colored in zip(options, colors):
        lines.append(" ".join(names[i] + (":" + colored[i] if i in colored else "") for i in option))
    got = xcover.read_dlx("\n".join(lines) + "\n")
    extra = unmet_blocks(got.unmet, names)
    assert tuple(got) == (options + extra, list(range(primary, len(names))), names)
    colors += [{}] * len(extra)  # the blocks that stand for unmet items carry no color
    if not any(colors):
        assert got.colors is None and got.color_names == []
    else:
        assert [{i: got.color_names[c] for i, c in option.items()} for option in got.colors] == colors
        written = [colored[i] for option, colored in zip(options, colors) for i in option if i in colored]
        assert got.color_names == list(dict.fromkeys(written))  # numbered as first written


# Knuth's example of color controls (DLX2) and a 2x2 word square over the words ab and ba,
# each with its covers counted by hand.
KNUTH_COLORS = "| A simple example of color controls\nA B C | X Y\nA B X:0 Y:0\nA C X:1 Y:1\nX:0 Y:1\nB X:1\nC Y:1\n"
WORD_SQUARE = (
    "r1 r2 c1 c2 | p11 p12 p21 p22\n"
    "r1 p11:a p12:b\nr1 p11:b p12:a\nr2 p21:a p22:b\nr2 p21:b p22:a\n"
    "c1 p11:a p21:b\nc1 p11:b p21:a\nc2 p12:a p22:b\nc2 p12:b p22:a\n"
)


@pytest.mark.parametrize(
    "text, count, first",
    [
        # The only cover: A C X:1 Y:1 and B X:1. X:0 Y:1 holds no primary item.
        (KNUTH_COLORS, 1, [1, 3]),
        # Rows ab/ba (columns ab, ba) and rows ba/ab (columns ba, ab).
        (WORD_SQUARE, 2, None),
    ],
)
def test_colored_texts_count_as_counted_by_hand(text, count, first):
    p = xcover.read_dlx(text)
    assert p.color_names[:2] in (["0", "1"], ["a", "b"])
    assert xcover.count_all(p.blocks, secondary=p.secondary, colors=p.colors) == count
    covers = list(xcover.iter_all(p.blocks, secondary=p.secondary, colors=p.colors))
    assert len(covers) == count
    if first is not None:
        assert sorted(covers[0]) == first
    # Without its colors, Knuth's example has no cover (X is wanted by two options).
    assert xcover.count_all(p.blocks, secondary=p.secondary) == 0


@pytest.mark.parametrize(
    "text, expected",
    [
        ("A | X\nA X:\n", (2, 5, "a color without a name")),
        ("A | X\nA X:a:b\n", (2, 5, "forbidden character ':'")),
        ("A B | X\nA B:1 X\n", (2, 3, "primary item 'B' must be uncolored")),
        ("A | X\nA X:" + "c" * 65 + "\n", (2, 5, "color name longer than 64")),
        ("A | X\nA X:a X:a\n", (2, 7, "repeated in an option")),
    ],
)
def test_malformed_colors(text, expected):
    line, column, what = error_position(text)
    assert (line, column) == expected[:2] and expected[2] in what, what


@settings(max_examples=200, deadline=None)
@given(names_strategy, st.data())
def test_a_fault_in_the_items_line_is_reported_where_it_is(names, data):
    head = " ".join(names)
    fault, message = data.draw(
        st.sampled_from(
            [
                (names[0], "declared twice"),
                ("x" * 65, "longer than 64"),
                ("a:b", "forbidden character ':'"),
                ("2:3|item", "multiplicities"),
                ("1|item", "multiplicities"),
            ]
        )
    )
    text = "| comment\n\n" + head + " " + fault + "\n" + names[0] + "\n"
    line, column, what = error_position(text)
    assert (line, column) == (3, len(head) + 2)
    assert message in what


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", (1, 1, "missing items line")),
        ("| only a comment", (1, 1, "missing items line")),
        ("a | b | c\n", (1, 7, "a second '|' in the items line")),
        ("| c\n  |  \n", (2, 3, "the items line names no item")),
    ],
)
def test_malformed_headers(text, expected):
    assert error_position(text) == expected


LONG_LINES = """
import xcover
m, n = 3 * 10**5, 10**6
names = [f"i{k}" for k in range(m)]
p = xcover.read_dlx(" ".join(names) + " | s\\n" + "\\n".join(names) + "\\n")
assert p.blocks == [[k] for k in range(m)] and p.secondary == [m] and p.names == names + ["s"]
for text, where in [("a " + "| " * n, "column 5: a second '|'"),
                    ("a b\\n" + "a " * n, "column 3: item 'a' repeated in an option"),
                    ("a " + "q" * 10**7, "column 3: item name longer than 64")]:
    try:
        xcover.read_dlx(text)
    except ValueError as e:
        assert where in str(e), e
    else:
        raise AssertionError("no fault reported")
print("read")
"""


def test_long_lines_read_at_once_and_faults_reported_where_they_are_read():
    # 300,000 items in the items line, a million tokens after a fault, a ten-million
    # character name: each read in one pass (a reading quadratic in the line never ends here).
    result = run_python(LONG_LINES, timeout=120)
    assert (result.returncode, result.stdout, result.stderr) == (0, "read\n", "")


def test_a_problem_with_secondary_items_runs_as_the_guide_says():
    problem = xcover.read_dlx("a b c | x\na x\nb c\nb x\nc\n")
    covers = list(xcover.iter_all(problem.blocks, secondary=problem.secondary))
    assert covers == [[0, 1]]


def test_files(tmp_path):
    path = tmp_path / "p.dlx"
    path.write_text("a b | c\na c\nb\n", encoding="utf-8")
    expected = ([[0, 2], [1]], [2], ["a", "b", "c"])
    assert xcover.read_dlx_file(path) == expected
    assert xcover.read_dlx_file(str(path)) == expected
    assert xcover.read_dlx_file(os.fsencode(path)) == expected
    with pytest.raises(FileNotFoundError):
        xcover.read_dlx_file(tmp_path / "missing.dlx")
    with pytest.raises(IsADirectoryError):
        xcover.read_dlx_file(tmp_path)
    path.write_bytes(b"a \xff\n")
    with pytest.raises(ValueError, match=r"^line 1, column 3: not UTF-8: byte 0xff$"):
        xcover.read_dlx_file(path)
    path.write_bytes(b"\xef\xbb\xbfa b\r\na b\r\n")  # a byte-order mark, Windows lines
    assert xcover.read_dlx_file(path) == ([[0, 1]], [], ["a", "b"])
    assert xcover.read_dlx("\ufeffa b\na b\n") == ([[0, 1]], [], ["a", "b"])
    with pytest.raises(ValueError, match="^line 2, column 1: unknown item '\ufeffa'$"):
        xcover.read_dlx("a\n\ufeffa\n")  # only at the start is it a mark
    path.write_text("a b\na x\n", encoding="utf-8")
    with pytest.raises(ValueError, match=r"^line 2, column 3: unknown item 'x'$"):
        xcover.read_dlx_file(path)


BAD_SEQUENCES = [b"\xff", b"\x80", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82x"]


@settings(max_examples=200, deadline=None)
@given(problems(), st.sampled_from(BAD_SEQUENCES), st.data())
def test_malformed_utf8_is_reported_where_python_finds_it(tmp_path_factory, problem, bad, data):
    names, primary, options = problem
    text = write(names, primary, options, comments=["| a comment"]).encode()
    at = data.draw(st.integers(0, len(text)))
    damaged = text[:at] + bad + text[at:]
    start = pytest.raises(UnicodeDecodeError, damaged.decode, "utf-8").value.start
    line = damaged[:start].count(b"\n") + 1
    column = len(damaged[:start].split(b"\n")[-1].decode()) + 1
    path = tmp_path_factory.mktemp("utf8") / "p.dlx"
    path.write_bytes(damaged)
    with pytest.raises(ValueError) as raised:
        xcover.read_dlx_file(path)
    assert str(raised.value).startswith(f"line {line}, column {column}: not UTF-8: byte 0x")
    path.write_bytes(text + b"\xe2\x82")
    with pytest.raises(ValueError, match="not UTF-8: the text ends inside a character"):
        xcover.read_dlx_file(path)


ENDLESS = """
import re
import xcover
# Random bytes are mostly not UTF-8 on line 1, but may hold a newline first, or parse as a
# name with a forbidden character: any fault of the format, located, stops the read.
for device, pattern in [("/dev/zero", "line 1, column 1: a NUL character"), ("/dev/urandom", r"line \\d+, column \\d+: ")]:
    try:
        xcover.read_dlx_file(device)
    except ValueError as e:
        assert re.match(pattern, str(e)), e
    else:
        raise AssertionError(device)
print("stopped")
"""


def test_an_endless_input_stops_at_its_first_fault():
    # /dev/zero is all NUL characters; /dev/urandom is not UTF-8 within a few bytes (or holds
    # a NUL). Read whole, either would fill the address space allowed here.
    result = run_python(ENDLESS, limit_as=1 << 30)
    assert (result.returncode, result.stdout, result.stderr) == (0, "stopped\n", "")


def test_bad_arguments():
    with pytest.raises(TypeError, match="must be str, not bytes"):
        xcover.read_dlx(b"a\na\n")
    with pytest.raises(TypeError):
        xcover.read_dlx_file(5)
    with pytest.raises(TypeError):
        xcover.read_dlx()
