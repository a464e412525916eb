import json
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quorvelin_convert

REPO = Path(__file__).resolve().parents[2]
EXAMPLE = REPO / "examples" / "example.ipynb"
SAMPLES = sorted((REPO / "tests" / "data" / "notebooks").glob("*.ipynb"))
FORMATS = ["html", "markdown", "python", "strip"]


@pytest.fixture(scope="session")
def qc():
    return quorvelin_convert


def notebook_text(*cells, metadata=None):
    """The JSON text of a version 4.5 notebook holding the given cells."""
    return json.dumps({"metadata": metadata or {}, "nbformat": 4, "nbformat_minor": 5, "cells": list(cells)})


def code_cell(source, count=None, outputs=()):
    return {"cell_type": "code", "metadata": {}, "source": source, "execution_count": count, "outputs": list(outputs)}


def text_cell(kind, source, **extra):
    return {"cell_type": kind, "metadata": {}, "source": source, **extra}


def run_python(code):
    """Runs code in a fresh interpreter; returns the completed process."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60)
