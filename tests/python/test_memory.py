import ctypes
import gc
import json
import os

import pytest

from conftest import EXAMPLE, FORMATS, code_cell, notebook_text, run_python, text_cell

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


# A call gives back every byte it took before it returns, whatever its
# outcome: glibc's count of bytes in use (heap and mapped) is the same
# before and after one call on a notebook of 100,000 cells, in a fresh
# interpreter warmed up by the same call on a small notebook.
CELLS = 100_000
# What the interpreter itself may keep from a call (small caches).
KEPT_AT_MOST = 8 * 1024
# name -> the change to the notebook, the start of what the call gives
OUTCOMES = {
    "converted": (None, "converted"),
    "syntax error": ("syntax", "Failed to parse notebook: expected `,` or `}`"),
    "missing field": ("missing", "Failed to parse notebook: missing field `nbformat`"),
    "missing file": ("absent", "Failed to read file: No such file or directory"),
}
FUNCTION_OUTCOMES = [("convert_notebook", outcome) for outcome in OUTCOMES] + [
    ("convert_notebook_from_json", outcome) for outcome in OUTCOMES if outcome != "missing file"]

GIVES_BACK_ALL = """
import ctypes
import quorvelin_convert as qc

class MallocInfo(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]

libc = ctypes.CDLL(None)
libc.mallinfo2.restype = MallocInfo

def in_use():
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd

def call(argument):
    try:
        qc.{function}(argument, {format!r}, None)  # the result dropped at once
        return "converted"
    except ValueError as error:
        return str(error)

def argument(path):
    if {function!r} == "convert_notebook" or {change!r} == "absent":
        return path
    with open(path, encoding="utf-8") as f:
        return f.read()

call(argument({small!r}))
# The interpreter's small-object allocator keeps the table of its arenas at
# the largest it has been: a million small objects, made and dropped, set it
# beyond what the call needs.
many = [{{}} for _ in range(1_000_000)]
del many
large = argument({large!r})
before = in_use()
outcome = call(large)
kept = in_use() - before
print(kept, outcome[:200], sep="\\n")
"""


def cells_for_memory(count):
    # Strings with escapes, metadata, and outputs whose bundles hold JSON:
    # the parts the reader keeps in its arena, in every format.
    markdown = text_cell("markdown", ["# Part\n", "a \"quoted\" word"], metadata={"tags": ["a", "b"]})
    result = {"output_type": "execute_result", "execution_count": 1, "metadata": {},
              "data": {"text/plain": ["2\n", "3"], "application/json": {"k": [1, {"a": None}]}}}
    code = code_cell(["x = 1\n", "x"], 1, [{"output_type": "stream", "name": "stdout", "text": ["1\n"]}, result])
    return [markdown if i % 2 else code for i in range(count)]


def notebook_with(change, cells):
    document = {"metadata": {"kernelspec": {"name": "python3", "display_name": "Python 3"}},
                "nbformat": 4, "nbformat_minor": 5, "cells": cells}
    if change == "missing":
        del document["nbformat"]  # found missing after every cell is read
    text = json.dumps(document)
    return text[:-1] + "]" if change == "syntax" else text  # fails at the very end


@pytest.fixture(scope="module")
def memory_notebooks(tmp_path_factory):
    folder = tmp_path_factory.mktemp("gives-back")
    paths = {}
    for change, _ in OUTCOMES.values():
        for size, count in (("small", 4), ("large", CELLS)):
            path = folder / f"{change}-{size}.ipynb"
            if change != "absent":
                path.write_text(notebook_with(change, cells_for_memory(count)), encoding="utf-8")
            paths[change, size] = str(path)
    return paths


@pytest.mark.skipif(not hasattr(ctypes.CDLL(None), "mallinfo2"), reason="needs glibc 2.33 or later")
@pytest.mark.parametrize("format", FORMATS)
@pytest.mark.parametrize("function, outcome", FUNCTION_OUTCOMES)
def test_a_call_gives_back_all_it_took(memory_notebooks, function, outcome, format):
    change, expected = OUTCOMES[outcome]
    result = run_python(GIVES_BACK_ALL.format(function=function, format=format, change=change,
                                              small=memory_notebooks[change, "small"],
                                              large=memory_notebooks[change, "large"]))
    assert result.returncode == 0, result.stderr
    kept, message = result.stdout.split("\n", 1)
    assert message.startswith(expected), message
    assert abs(int(kept)) <= KEPT_AT_MOST, f"{int(kept)} bytes still in use after the call"
