import sys
import threading
import time

import pytest

from conftest import EXAMPLE, FORMATS, SAMPLES, code_cell, notebook_text, text_cell


def outcome(qc, text, fmt, title):
    try:
        return qc.convert_notebook_from_json(text, fmt, title)
    except ValueError as error:
        return ("ValueError", str(error))


def test_threads_give_the_single_thread_results(qc):
    # Every sample in every format, plus failures of each kind, converted by
    # eight threads at once for a few seconds: each result must equal the one
    # a single thread got.
    texts = [path.read_text(encoding="utf-8") for path in [EXAMPLE, *SAMPLES]]
    jobs = [(text, fmt, title) for text in texts for fmt in FORMATS for title in (None, "T & <t>")]
    jobs += [(texts[0], "HTML", None), ("{", "html", None), ('{"cells": 1}', "strip", None), ("", "python", None)]
    expected = [outcome(qc, *job) for job in jobs]

    deadline = time.monotonic() + 3.0
    mismatches = []
    rounds = [0] * 8

    def worker(index):
        order = jobs[index:] + jobs[:index]  # each thread starts elsewhere
        want = expected[index:] + expected[:index]
        while time.monotonic() < deadline and rounds[index] < 10_000:
            for job, result in zip(order, want):
                if outcome(qc, *job) != result:
                    mismatches.append(job[1:])
            rounds[index] += 1

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert mismatches == []
    assert all(count > 0 for count in rounds)


# A call holds the interpreter lock from entry to return. A thread that
# spins meanwhile gets the lock at most once or twice: when the call runs the
# engine's Python code that makes its environment, and as the call returns.
# A call that let other threads in all along (a page rendered by Python
# code) would hand it over every other switch interval.
@pytest.mark.parametrize("fmt", FORMATS)
def test_call_holds_the_interpreter_lock(qc, fmt):
    outputs = [{"output_type": "stream", "name": "stdout", "text": "1\n"}]
    text = notebook_text(*[code_cell("x = 1", 1, outputs), text_cell("markdown", "# m")] * 60_000)
    qc.convert_notebook_from_json(text, fmt, None)  # imports and first-touch memory out of the way
    gap = sys.getswitchinterval() / 4
    resumed = []  # when the spinner ran again after waiting
    stop = threading.Event()

    def spin():
        last = time.perf_counter()
        while not stop.is_set():
            now = time.perf_counter()
            if now - last > gap:
                resumed.append(now)
            last = now

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        time.sleep(0.05)
        start = time.perf_counter()
        qc.convert_notebook_from_json(text, fmt, None)
        end = time.perf_counter()
    finally:
        stop.set()
        spinner.join()
    runs = sum(start < when < end for when in resumed)
    # A few more for a busy machine, where the spinner's own turns may be cut
    # short; a call that lets other threads in gives them dozens.
    assert runs <= 6, f"{runs} runs of another thread during a call of {end - start:.3f} s"
