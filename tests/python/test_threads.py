import threading
import time

from conftest import EXAMPLE, FORMATS, SAMPLES


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
