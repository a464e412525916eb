import gc
import os

import pytest

from conftest import EXAMPLE, code_cell, notebook_text, run_python, text_cell

CALLS = 100_000
WARM_UP = 10_000
# A leak of one small object per call would add several megabytes.
ALLOWED_GROWTH = 4 * 1024 * 1024


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture(scope="module")
def calls(qc, tmp_path_factory):
    folder = tmp_path_factory.mktemp("memory")
    latin1 = folder / "latin1.ipynb"
    latin1.write_bytes(b"caf\xe9")
    text = notebook_text(
        text_cell("markdown", "# Title & more"),
        code_cell("print(1)", 1, [{"output_type": "stream", "name": "stdout", "text": "1\n"},
                                  {"output_type": "execute_result", "execution_count": 1,
                                   "data": {"text/plain": "2", "k": [1, {"a": None}]}, "metadata": {}}]),
        text_cell("raw", "raw <text>"),
    )
    convert, from_json = qc.convert_notebook, qc.convert_notebook_from_json
    return [
        lambda: from_json(text, "html", "T"),
        lambda: from_json(text, "markdown", None),
        lambda: from_json(text, "python", None),
        lambda: from_json(text, "strip", None),
        lambda: convert(str(EXAMPLE), "html", None),
        lambda: convert(str(folder / "absent"), "html", None),
        lambda: convert(str(folder), "html", None),
        lambda: convert(str(latin1), "html", None),
        lambda: convert("a\0b", "html", None),
        lambda: from_json('{"nbformat": 4}', "html", None),
        lambda: from_json(text, "unknown", None),
        lambda: from_json(text, "html"),
        lambda: from_json(text, "html", None, None),
        lambda: from_json(text, "html", None, format="x"),
        lambda: from_json(text, "html", None, **{"other": 1}),
        lambda: from_json(b"{}", "html", None),
        lambda: from_json(text, "html", 5),
        lambda: from_json("\udc80", "html", None),
        lambda: from_json(text, "\udc80", None),
        lambda: qc.version(),
    ]


def test_memory_stays_flat(calls):
    def run(count):
        for i in range(count):
            try:
                calls[i % len(calls)]()
            except (ValueError, TypeError):
                pass

    run(WARM_UP)
    gc.collect()
    before = resident_bytes()
    run(CALLS)
    gc.collect()
    grown = resident_bytes() - before
    assert grown < ALLOWED_GROWTH, f"resident memory grew by {grown} bytes over {CALLS} calls"


def test_memory_exhaustion_raises_memory_error():
    # Address space capped below what a 200 MB cell needs for its copy.
    result = run_python(
        """
        import json, resource
        import quorvelin_convert as qc

        def notebook(source):
            cell = {"cell_type": "markdown", "metadata": {}, "source": source}
            return json.dumps({"nbformat": 4, "nbformat_minor": 5, "metadata": {}, "cells": [cell]})

        big = notebook("x" * 200_000_000)
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + 100_000_000, resource.RLIM_INFINITY))
        for format in ["markdown", "html", "strip"]:
            try:
                qc.convert_notebook_from_json(big, format, None)
                print("converted")
            except MemoryError:
                print("MemoryError")
        print(qc.convert_notebook_from_json(notebook("ok"), "markdown", None))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError", "MemoryError", "MemoryError", "ok"]


@pytest.mark.parametrize("format", ["markdown", "python", "strip"])
def test_memory_exhaustion_raises_memory_error_at_the_result_str(format):
    # The result holds one character outside the BMP, so its str takes four
    # bytes a character: 400 MB, where everything before it fits in 300 MB.
    result = run_python(
        f"""
        import json, resource
        import quorvelin_convert as qc

        cell = {{"cell_type": "code", "metadata": {{}}, "source": "\\U0001f600" + "x" * 100_000_000,
                 "execution_count": None, "outputs": []}}
        big = json.dumps({{"nbformat": 4, "nbformat_minor": 5, "metadata": {{}}, "cells": [cell]}})
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + 300_000_000, resource.RLIM_INFINITY))
        try:
            qc.convert_notebook_from_json(big, {format!r}, None)
            print("converted")
        except Exception as error:
            print(type(error).__name__)
        """
    )
    assert (result.returncode, result.stdout, result.stderr) == (0, "MemoryError\n", "")
