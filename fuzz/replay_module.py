"""Replays fuzzing inputs through the installed module, in every format.

The libFuzzer target cannot reach the HTML page (it needs an interpreter), so
scripts/run-sanitized.sh runs this under the sanitizers over the seeds and
whatever corpus the fuzzer has grown. A notebook must either convert to a str
or raise ValueError; anything else (another exception, a crash, a sanitizer
report) is a fault.

usage: python replay_module.py FILE_OR_FOLDER...
"""

import sys
from pathlib import Path

import quorvelin_convert as qc

FORMATS = ("html", "markdown", "python", "strip")


def inputs(args):
    for arg in args:
        path = Path(arg)
        if path.is_dir():
            yield from sorted(p for p in path.iterdir() if p.is_file())
        elif path.is_file():
            yield path


def main() -> int:
    converted = refused = skipped = 0
    faults = []
    for path in inputs(sys.argv[1:]):
        try:
            text = path.read_bytes().decode("utf-8")
        except UnicodeDecodeError:
            skipped += 1
            continue
        for fmt in FORMATS:
            try:
                result = qc.convert_notebook_from_json(text, fmt, "T<&>")
                assert isinstance(result, str)
                converted += 1
            except ValueError:
                refused += 1
            except BaseException as error:  # noqa: BLE001 - every other outcome is a fault
                faults.append(f"{path} [{fmt}]: {type(error).__name__}: {error}")
    print(f"replay: {converted} converted, {refused} refused with ValueError, "
          f"{skipped} files not UTF-8, {len(faults)} faults")
    for fault in faults[:20]:
        print("  " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
