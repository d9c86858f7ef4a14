"""The module in subinterpreters: isolated ones (own GIL, own allocator) and legacy ones.

Each interpreter gets its own module object, with its own iterator type and PanicException;
the script below checks, inside each, that the module works and that its objects are its
own. Interpreters are created and destroyed in a loop, in a fresh process, so that an object
shared across interpreters would be used after its interpreter died.
"""

import textwrap

import pytest

from conftest import run_script_words

_interpreters = pytest.importorskip("_interpreters")

INSIDE = """
import xcover
assert xcover.get_all([[0, 1], [0], [1]]) == [[0], [1, 2]]
assert list(xcover.iter_all([[0], [1], [0, 1]])) == [[0, 1], [2]]
assert type(xcover.iter_all([[0]])) is xcover.CoverIterator
try:
    xcover.get_top([[0]], [])
except BaseException as e:
    assert type(e).__qualname__ == "PanicException" and not isinstance(e, Exception)
else:
    raise AssertionError("expected a PanicException")
"""


@pytest.mark.parametrize("kind", ["isolated", "legacy"])
def test_the_module_works_in_subinterpreters_of_each_kind(kind):
    out = run_script_words(textwrap.dedent(
        f"""
        import _interpreters, xcover
        main_iterator = xcover.CoverIterator
        failures = []
        for _ in range(3):
            interp = _interpreters.create(_interpreters.new_config({kind!r}))
            error = _interpreters.run_string(interp, {INSIDE!r})
            if error is not None:
                failures.append(error.formatted)
            _interpreters.destroy(interp)
        # The main interpreter's module is untouched by theirs.
        assert xcover.CoverIterator is main_iterator
        assert list(xcover.iter_all([[0], [1], [0, 1]])) == [[0, 1], [2]]
        print(len(failures), failures)
        """))
    assert out[0] == "0", out


@pytest.mark.parametrize("kind", ["isolated", "legacy"])
def test_an_import_in_a_subinterpreter_keeps_the_thread_setting(kind, monkeypatch):
    # XCOVER_THREADS is read once per process: the pool is the process's, and a later import
    # must not undo a set_threads made since.
    monkeypatch.setenv("XCOVER_THREADS", "2")
    out = run_script_words(textwrap.dedent(
        f"""
        import _interpreters, xcover
        first = xcover.get_threads()
        xcover.set_threads(3)
        interp = _interpreters.create(_interpreters.new_config({kind!r}))
        error = _interpreters.run_string(interp, "import xcover; assert xcover.get_threads() == 3")
        _interpreters.destroy(interp)
        print(first, xcover.get_threads(), error is None)
        """))
    assert out == ["2", "3", "True"], out
