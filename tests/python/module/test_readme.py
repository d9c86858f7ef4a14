"""The README's code runs and says what the module does, and its API list is the module's."""

import os
import inspect
import re

import pytest

import xcover
from conftest import ROOT, markdown_python_blocks, run_documented_example

README = os.path.join(ROOT, "README.md")


def readme():
    if not os.path.exists(README):
        pytest.skip("no README next to the tests")
    with open(README, encoding="utf-8") as f:
        return f.read()


def python_blocks():
    return markdown_python_blocks(README)


def test_the_readme_has_checked_examples():
    if not os.path.exists(README):
        pytest.skip("no README next to the tests")
    blocks = python_blocks()
    assert len(blocks) >= 2
    # Each block checks what it shows: a claim in a comment must be an assertion too.
    assert all("assert" in code for code in blocks)


@pytest.mark.parametrize("index", range(len(python_blocks())))
def test_readme_example_runs(index):
    run_documented_example(python_blocks()[index], f"README example {index}")


def test_the_api_list_names_every_function_and_only_those():
    text = readme()
    api = text[text.index("## API"):]
    api = api[:api.index("\n## ")]
    listed = set(re.findall(r"^- `(\w+)\(", api, re.M))
    functions = {name for name in dir(xcover)
                 if not name.startswith("_") and inspect.isbuiltin(getattr(xcover, name))}
    assert listed == functions
    assert "`__version__`" in api
    assert "`CoverIterator`" in api


def test_the_ordinary_install_comes_before_the_project_set_up():
    text = readme()
    install = text.index("## Installing")
    assert "pip install ." in text[install:text.index("\n## ", install + 1)]
    assert install < text.index("## Set-up on a fresh machine")
