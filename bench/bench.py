#!/usr/bin/env python3
"""Benchmarks of quorvelin_convert side by side with its peers.

Needs only `pip install .[bench]` (nbconvert, nbformat, nbstripout, jupytext,
orjson). Every row runs our conversion and the peer on the same JSON text in
the same process and prints the median time of each and their ratio. Peak
memory of one call on the image-heavy notebook is measured per format in a
fresh subprocess. See bench/README.md.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time
import warnings
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parent))
import notebooks  # noqa: E402

FORMATS = ("markdown", "python", "html", "strip")


# --------------------------------------------------------------------------- timing

def median_time(fn: Callable[[], object], repeats: int, min_sample: float) -> float:
    """Median seconds per call over `repeats` samples; each sample loops the
    call until it lasts at least `min_sample` seconds."""
    fn()  # warm-up: imports, template compilation, caches
    loops = 1
    while True:
        start = time.perf_counter()
        for _ in range(loops):
            fn()
        elapsed = time.perf_counter() - start
        if elapsed >= min_sample or loops >= 1 << 20:
            break
        loops = min(1 << 20, max(loops * 2, int(loops * min_sample / max(elapsed, 1e-9) * 1.2)))
    samples = []
    for _ in range(repeats):
        gc.collect()
        start = time.perf_counter()
        for _ in range(loops):
            fn()
        samples.append((time.perf_counter() - start) / loops)
    return statistics.median(samples)


# --------------------------------------------------------------------------- contenders

def ours(fmt: str) -> Callable[[str], str]:
    import quorvelin_convert

    convert = quorvelin_convert.convert_notebook_from_json
    return lambda text: convert(text, fmt, None)


def _clear_code_cells(cells) -> None:
    for cell in cells:
        if cell["cell_type"] == "code":
            cell["outputs"] = []
            cell["execution_count"] = None


def peers() -> dict[str, Callable[[str], object]]:
    import nbconvert
    import nbformat
    import nbstripout
    import jupytext
    import orjson

    markdown, python, html = nbconvert.MarkdownExporter(), nbconvert.PythonExporter(), nbconvert.HTMLExporter()

    def exporter(exp):
        return lambda text: exp.from_notebook_node(nbformat.reads(text, as_version=4))[0]

    def strip_nbformat(text):
        nb = nbformat.reads(text, as_version=4)
        _clear_code_cells(nb.cells)
        return nbformat.writes(nb)

    def strip_json(text):
        nb = json.loads(text)
        _clear_code_cells(nb["cells"])
        return json.dumps(nb, indent=2)

    def strip_orjson(text):
        nb = orjson.loads(text)
        _clear_code_cells(nb["cells"])
        return orjson.dumps(nb, option=orjson.OPT_INDENT_2)

    def strip_nbstripout(text):
        nb = nbformat.reads(text, as_version=4)
        nbstripout.strip_output(nb, keep_output=False, keep_count=False, keep_id=True)
        return nbformat.writes(nb)

    def jupytext_to(fmt):
        return lambda text: jupytext.writes(jupytext.reads(text, fmt="ipynb"), fmt=fmt)

    return {
        "nbconvert MarkdownExporter": exporter(markdown),
        "nbconvert PythonExporter": exporter(python),
        "nbconvert HTMLExporter": exporter(html),
        "nbformat reads+clear+writes": strip_nbformat,
        "json loads+clear+dumps(indent=2)": strip_json,
        "orjson loads+clear+dumps(INDENT_2)": strip_orjson,
        "nbstripout strip_output+writes": strip_nbstripout,
        "jupytext py:percent": jupytext_to("py:percent"),
        "jupytext md": jupytext_to("md"),
        'bytes(text, "utf-8")': lambda text: bytes(text, "utf-8"),
    }


# --------------------------------------------------------------------------- rows

@dataclass
class Row:
    case: str
    fmt: str
    peer: str
    # "speedup": ratio = peer time / our time, goal is a minimum.
    # "copy": ratio = our time / time of the copy, goal is a maximum.
    kind: str
    goal: float | None
    ours_s: float = 0.0
    peer_s: float = 0.0
    ratio: float = 0.0
    met: bool | None = None


def plan(cases: list[str]) -> list[Row]:
    rows = []
    for case in cases:
        if case == "images-50MB":
            rows += [
                Row(case, "strip", 'bytes(text, "utf-8")', "copy", 4.0),
                Row(case, "html", 'bytes(text, "utf-8")', "copy", 10.0),
                Row(case, "markdown", 'bytes(text, "utf-8")', "copy", None),
                Row(case, "python", 'bytes(text, "utf-8")', "copy", None),
                Row(case, "strip", "orjson loads+clear+dumps(INDENT_2)", "speedup", None),
                Row(case, "strip", "json loads+clear+dumps(indent=2)", "speedup", None),
            ]
            continue
        # The nbconvert goals are set for the ordinary shapes, small and medium.
        page_goal = 100.0 if case in ("small", "medium") else None
        rows += [
            Row(case, "markdown", "nbconvert MarkdownExporter", "speedup", page_goal),
            Row(case, "python", "nbconvert PythonExporter", "speedup", page_goal),
            Row(case, "html", "nbconvert HTMLExporter", "speedup", page_goal),
            Row(case, "strip", "nbformat reads+clear+writes", "speedup", 30.0),
            Row(case, "strip", "json loads+clear+dumps(indent=2)", "speedup", 3.0),
            Row(case, "strip", "orjson loads+clear+dumps(INDENT_2)", "speedup", 1.0),
            Row(case, "strip", "nbstripout strip_output+writes", "speedup", None),
            Row(case, "python", "jupytext py:percent", "speedup", None),
            Row(case, "markdown", "jupytext md", "speedup", None),
        ]
    return rows


def judge(row: Row) -> None:
    if row.kind == "speedup":
        row.ratio = row.peer_s / row.ours_s
        row.met = None if row.goal is None else row.ratio >= row.goal
    else:
        row.ratio = row.ours_s / row.peer_s
        row.met = None if row.goal is None else row.ratio <= row.goal


def fmt_time(seconds: float) -> str:
    if seconds < 1e-3:
        return f"{seconds * 1e6:8.1f} us"
    if seconds < 1:
        return f"{seconds * 1e3:8.2f} ms"
    return f"{seconds:8.3f} s "


def print_rows(rows: list[Row]) -> None:
    print(f"{'case':<14} {'format':<9} {'peer':<36} {'ours':>11} {'peer':>11} {'ratio':>9}  goal")
    for r in rows:
        if r.kind == "speedup":
            ratio, goal = f"{r.ratio:8.1f}x", ("" if r.goal is None else f">= {r.goal:g}x")
        else:
            ratio, goal = f"{r.ratio:8.2f}x", ("" if r.goal is None else f"<= {r.goal:g}x copy")
        verdict = {True: "met", False: "MISSED", None: ""}[r.met]
        print(f"{r.case:<14} {r.fmt:<9} {r.peer:<36} {fmt_time(r.ours_s)} {fmt_time(r.peer_s)} {ratio}  {goal} {verdict}")


# --------------------------------------------------------------------------- memory

def _status_kib(field_name: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field_name + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field_name} not in /proc/self/status")


def memory_child(fmt: str, path: str) -> None:
    """Runs in a fresh interpreter: prints the resident memory that one call
    adds on top of the loaded text, as JSON."""
    import resource

    import quorvelin_convert

    # One-time work of the process (the page template) is not per call.
    quorvelin_convert.convert_notebook_from_json(notebooks.small(), fmt, None)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text_bytes = len(text.encode("utf-8"))
    gc.collect()
    baseline = _status_kib("VmRSS")
    # Reset the high-water mark to the current size. ru_maxrss cannot serve
    # here: a child's value starts at its parent's size, copied at exec.
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        method = "VmHWM after reset"
    except OSError:
        method = "ru_maxrss"
    result = quorvelin_convert.convert_notebook_from_json(text, fmt, None)
    if method == "VmHWM after reset":
        peak = _status_kib("VmHWM")
    else:
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"format": fmt, "text_bytes": text_bytes, "baseline_kib": baseline,
                      "peak_kib": peak, "result_bytes": len(result.encode("utf-8")), "method": method}))


@dataclass
class MemoryRow:
    fmt: str
    text_bytes: int
    added_bytes: int
    result_bytes: int
    ratio: float
    goal: float = 3.0
    met: bool = field(default=False)


def measure_memory(path: Path) -> list[MemoryRow]:
    rows = []
    for fmt in FORMATS:
        out = subprocess.run([sys.executable, __file__, "--memory-child", fmt, str(path)],
                             check=True, capture_output=True, text=True).stdout
        data = json.loads(out.strip().splitlines()[-1])
        added = (data["peak_kib"] - data["baseline_kib"]) * 1024
        ratio = added / data["text_bytes"]
        rows.append(MemoryRow(fmt, data["text_bytes"], added, data["result_bytes"], ratio, met=ratio <= 3.0))
    return rows


def print_memory(rows: list[MemoryRow]) -> None:
    print(f"\n{'format':<9} {'text':>10} {'added by one call':>18} {'result':>10} {'ratio':>7}  goal")
    for r in rows:
        mb = 1024 * 1024
        print(f"{r.fmt:<9} {r.text_bytes / mb:7.1f} MB {r.added_bytes / mb:15.1f} MB {r.result_bytes / mb:7.1f} MB"
              f" {r.ratio:6.2f}x  <= {r.goal:g}x text {'met' if r.met else 'MISSED'}")


# --------------------------------------------------------------------------- main

def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", default=",".join(notebooks.CASES),
                        help="comma-separated among: " + ", ".join(notebooks.CASES))
    parser.add_argument("--repeats", type=int, default=7, help="samples per timing (median taken)")
    parser.add_argument("--min-sample", type=float, default=0.05, help="least seconds per sample")
    parser.add_argument("--quick", action="store_true", help="3 samples, short ones, for a smoke run")
    parser.add_argument("--no-memory", action="store_true", help="skip the memory subprocesses")
    parser.add_argument("--json", type=Path, help="also write every figure to this file")
    parser.add_argument("--check", action="store_true", help="exit 1 when a goal is missed")
    parser.add_argument("--memory-child", nargs=2, metavar=("FORMAT", "PATH"), help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.memory_child:
        memory_child(*args.memory_child)
        return 0
    if args.quick:
        args.repeats, args.min_sample = 3, 0.01

    import quorvelin_convert  # noqa: F401  (fail early when the module is missing)
    import nbconvert

    # Without IPython installed nbconvert warns that it falls back to plain
    # Python lexing and skips the IPython-syntax transform; timings stand.
    warnings.filterwarnings("ignore", category=UserWarning)

    cases = [c.strip() for c in args.cases.split(",") if c.strip()]
    print(f"python {platform.python_version()} on {platform.machine()}, "
          f"nbconvert {nbconvert.__version__}, repeats {args.repeats}\n")
    texts = {case: notebooks.CASES[case]() for case in cases}
    for case, text in texts.items():
        print(f"{case:<14} {len(text.encode('utf-8')) / 1024:10.1f} KiB")
    print()

    peer_fns = peers()
    rows = plan(cases)
    timed: dict[tuple[str, str], float] = {}
    for row in rows:
        text = texts[row.case]
        key = (row.case, "ours:" + row.fmt)
        if key not in timed:
            timed[key] = median_time(lambda f=ours(row.fmt): f(text), args.repeats, args.min_sample)
        row.ours_s = timed[key]
        key = (row.case, row.peer)
        if key not in timed:
            peer = peer_fns[row.peer]
            timed[key] = median_time(lambda: peer(text), args.repeats, args.min_sample)
        row.peer_s = timed[key]
        judge(row)
    print_rows(rows)

    memory: list[MemoryRow] = []
    if not args.no_memory and "images-50MB" in texts:
        with tempfile.TemporaryDirectory() as tmp:
            path = Path(tmp) / "images.ipynb"
            path.write_text(texts["images-50MB"], encoding="utf-8")
            memory = measure_memory(path)
        print_memory(memory)

    missed = [r for r in rows if r.met is False] + [m for m in memory if not m.met]
    print(f"\ngoals missed: {len(missed)}")
    if args.json:
        args.json.write_text(json.dumps({"rows": [asdict(r) for r in rows],
                                         "memory": [asdict(m) for m in memory]}, indent=2))
    return 1 if args.check and missed else 0


if __name__ == "__main__":
    sys.exit(main())
