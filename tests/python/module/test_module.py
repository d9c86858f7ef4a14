"""The module object: functions, docstrings, signatures, __all__, the GIL."""

import inspect
import sys

import signatures
import xcover


def test_all_lists_the_five_functions_in_order():
    assert xcover.__all__ == ["get_all", "get_top", "get_topn", "get_topn_sc", "get_topp"]
    for name in xcover.__all__:
        assert name in dir(xcover)
        assert type(getattr(xcover, name)).__name__ == "builtin_function_or_method"


def test_module_doc_is_empty_string():
    assert xcover.__doc__ == ""


def test_docstrings_and_text_signatures():
    for name in signatures.FUNCTIONS:
        function = getattr(xcover, name)
        assert function.__text_signature__ == signatures.text_signature(name)
        assert function.__doc__ == signatures.docstring(name)
        assert function.__module__ == "xcover"
        assert function.__self__ is xcover
        assert function.__name__ == name
    assert xcover.get_topn.__text_signature__ == "(partitions, weights, n, max_iter=None, max_heap=None)"
    params = list(inspect.signature(xcover.get_topp).parameters.values())
    assert [p.name for p in params] == ["partitions", "weights", "alpha", "max_iter", "max_heap"]
    assert [p.default for p in params[3:]] == [None, None]


def test_panic_exception_is_not_exposed():
    assert not hasattr(xcover, "PanicException")


def test_import_keeps_the_gil_disabled():
    if hasattr(sys, "_is_gil_enabled") and sysconfig_free_threaded():
        assert not sys._is_gil_enabled()


def sysconfig_free_threaded():
    import sysconfig

    return bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def test_version_is_the_one_in_pyproject():
    import os
    import tomllib

    from conftest import ROOT

    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        version = tomllib.load(f)["project"]["version"]
    assert xcover.__version__ == version
    assert "__version__" not in xcover.__all__
