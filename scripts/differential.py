#!/usr/bin/env python3
"""Compares two builds of quorvelin_convert byte for byte.

The base build comes from a git revision, checked out with `git worktree add`
into build/differential/base; the current build from the working tree. Both
are pip-installed into folders of their own and each is loaded by its own
worker processes (the two modules share a name). Every input is converted in
every format (html with the title None, "" and one with <&" in it), from a
string and, for files, from a path; each outcome is the result's bytes or the
exception's type and arguments, and the two builds must agree on all of them.

Inputs: every file of tests/data/notebooks, fuzz/seeds and examples/, the
bench notebooks and adversarial shapes at moderate sizes, and N mutated texts
(seeded edits of the small ones: delete, insert a token, duplicate, swap,
change a bracket, quote, digit or backslash, truncate, insert into a string,
duplicate or delete a line; every tenth also edited as bytes and read from a
file, so invalid UTF-8 is reached too).

usage: scripts/differential.sh [--base REV] [--mutants N] [--jobs J] [--define NAME=VALUE] ...
The base is REV, else $QC_DIFF_BASE, else the merge-base of HEAD and main.
Exits 1 on any difference, saving the first ones under build/differential/diffs.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OUT = ROOT / "build" / "differential"
TITLE = 'Notes <&"> on “x”'
CALLS = [("markdown", None), ("python", None), ("strip", None), ("html", None), ("html", ""), ("html", TITLE)]
FILE_NAME = "notebook.ipynb"  # relative: messages that name the file read the same in both builds
MUTATION_BASE_LIMIT = 64 * 1024


# --------------------------------------------------------------------------- inputs

class Item:
    """One input: a text given as a str, or bytes read from a file."""

    def __init__(self, name: str, data: str | bytes):
        self.name, self.data = name, data


def fixed_items() -> list[Item]:
    """The repository's notebooks, then the bench's."""
    items = []
    for folder in ("tests/data/notebooks", "fuzz/seeds", "examples"):
        for path in sorted((ROOT / folder).glob("*")):
            if path.is_file() and path.suffix in (".ipynb", ".json", ""):
                items.append(Item(f"{folder}/{path.name}", path.read_bytes()))
    sys.path.insert(0, str(ROOT / "bench"))
    import notebooks

    for name, generate in notebooks.CASES.items():
        text = notebooks.image_heavy(total_mb=2) if name.startswith("images") else generate()
        items.append(Item(f"bench/{name}", text))
    for name, (generate, _n, _fmt) in notebooks.SHAPES.items():
        items.append(Item(f"bench/shape {name}", generate(1000)))
    return items


def mutation_bases(items: list[Item]) -> tuple[list[str], list[str]]:
    """The small inputs, JSON and not."""
    valid, invalid = [], []
    for item in items:
        data = item.data if isinstance(item.data, str) else item.data.decode("utf-8", "replace")
        if 0 < len(data) <= MUTATION_BASE_LIMIT:
            try:
                json.loads(data)
                valid.append(data)
            except ValueError:
                invalid.append(data)
    return valid, invalid


TOKENS = ['{', '}', '[', ']', '"', ',', ':', '\\', '\\"', '\\n', '\\u00e9', '\\ud83d\\ude80', '\\ud800', '\\udc00',
          '\\u12', '\\x', 'null', 'true', 'false', 'nul', '0', '-1', '-0', '1.5', '1e999', '-1e-7', '4294967295',
          '4294967296', '18446744073709551616', '"x"', '""', '[]', '{}', '"cells"', '"source"', '"outputs"',
          '"output_type"', '"metadata"', '"cell_type"', '"code"', '"markdown"', '"raw"', '"stream"',
          '"display_data"', '"execute_result"', '"error"', '"text"', '"data"', '"name"', '"nbformat"',
          '"nbformat_minor"', '"execution_count"', '"text/plain"', '"image/png"', '"image/svg+xml"', '"text/html"',
          '"kernelspec"', '"language_info"', '"id"', '"attachments"', '"ename"', '"evalue"', '"traceback"',
          ' ', '\n', '\t', '\r', '\x00', '\x1f', '\x7f', 'é', '🚀', '\u2028', '\ufeff', '<', '&']
CLASSES = [("[]{}", '[]{}"'), ('"', '"\'\\'), ("0123456789", "0123456789-+.eE"), ("\\", '\\"nrtu/'), (",:", ",:;")]
CLASS_PATTERNS = [(re.compile("[" + re.escape(found) + "]"), into) for found, into in CLASSES]


# Inserted right after a quote, these keep most texts valid and change what
# the conversions write.
IN_STRING = ['é', '\\n', '\\"', '\\\\', '\\t', '\\u00e9', '\\ud83d\\ude80', '\\u0000', '\\u001b', '<&>', "'",
             '\u2028', ' ', '  \\n', 'x', '```', '# ', '\\r\\n', '\\f', '\u3000', '\u00a0']


# A quote after a space, bracket or colon opens a string (in the usual layout).
OPENING_QUOTE = re.compile('(?<=[ \\[:])"')


def mutate_text(rng: random.Random, text: str) -> str:
    # Two in five mutants get only the gentler edits, to reach the writers.
    gentle = rng.random() < 0.4
    for _ in range(rng.choice((1, 1, 1, 2, 3, 4))):
        n = len(text)
        pos = rng.randint(0, n)
        span = rng.choice((1, 1, 2, 4, 8, 64))
        op = rng.randrange(7, 10) if gentle else rng.randrange(10)
        if op >= 7:  # edits that keep the JSON valid more often than not
            lines = text.split("\n")
            at = rng.randrange(len(lines))
            if op == 7:  # a character or escape inside a string
                found = OPENING_QUOTE.search(text, pos) or OPENING_QUOTE.search(text)
                if found:
                    text = text[:found.end()] + rng.choice(IN_STRING) + text[found.end():]
                continue
            if op == 8:  # duplicate a line
                lines.insert(at, lines[rng.randrange(len(lines))])
            else:  # delete a line
                del lines[at]
            text = "\n".join(lines)
            continue
        if op == 0:  # delete
            text = text[:pos] + text[pos + span:]
        elif op == 1:  # insert a token
            text = text[:pos] + rng.choice(TOKENS) + text[pos:]
        elif op == 2:  # duplicate a span
            start = rng.randint(0, n)
            text = text[:pos] + text[start:start + span] + text[pos:]
        elif op == 3:  # swap two spans
            a, b = sorted((pos, rng.randint(0, n)))
            text = text[:a] + text[b:b + span] + text[a + span:b] + text[a:a + span] + text[b + span:]
        elif op in (4, 5):  # change a bracket, quote, digit, backslash or separator
            pattern, into = rng.choice(CLASS_PATTERNS)
            found = pattern.search(text, pos) or pattern.search(text)
            if found:
                text = text[:found.start()] + rng.choice(into) + text[found.end():]
        else:  # truncate
            text = text[:pos]
    return text


def mutate_bytes(rng: random.Random, text: str) -> bytes:
    data = bytearray(text.encode("utf-8"))
    for _ in range(rng.randint(1, 3)):
        pos = rng.randint(0, len(data))
        data[pos:pos] = rng.choice((b"\x80", b"\xc3", b"\xe2\x82", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
                                    b"\xff", b"\xc0\xaf", bytes([rng.randrange(256)])))
    return bytes(data)


def mutant(seed: int, index: int, bases: tuple[list[str], list[str]]) -> Item:
    """The mutant `index`: three in four start from a valid JSON text."""
    rng = random.Random(f"{seed}:{index}")
    valid, invalid = bases
    base = rng.choice(valid if rng.random() < 0.75 or not invalid else invalid)
    if index % 10 == 9:
        return Item(f"mutant {index}", mutate_bytes(rng, mutate_text(rng, base)))
    return Item(f"mutant {index}", mutate_text(rng, base))


class Inputs:
    """Every input by index: the fixed ones first, then the mutants."""

    def __init__(self, seed: int, mutants: int):
        self.fixed = fixed_items()
        self.bases = mutation_bases(self.fixed)
        self.seed, self.count = seed, len(self.fixed) + mutants

    def __getitem__(self, index: int) -> Item:
        if index < len(self.fixed):
            return self.fixed[index]
        return mutant(self.seed, index - len(self.fixed), self.bases)


# --------------------------------------------------------------------------- a worker: one build, one shard

def outcomes(qc, item: Item) -> list[tuple[str, str]]:
    """Every call on one input, each with its outcome: "ok <result>" or
    "raise <type> <args>"."""
    def run(call, *args) -> str:
        try:
            return "ok " + call(*args)
        except Exception as error:  # noqa: BLE001 - every exception is an outcome to compare
            return f"raise {type(error).__module__}.{type(error).__qualname__} {error.args!r}"

    results = []
    text = item.data
    if isinstance(text, bytes):
        try:
            text = text.decode("utf-8")
        except UnicodeDecodeError:
            text = None
    if text is not None:
        results += [(f"{fmt}, title {title!r}", run(qc.convert_notebook_from_json, text, fmt, title))
                    for fmt, title in CALLS]
    if isinstance(item.data, bytes):
        Path(FILE_NAME).write_bytes(item.data)
        results += [(f"from a file: {fmt}, title {title!r}", run(qc.convert_notebook, FILE_NAME, fmt, title))
                    for fmt, title in CALLS]
    return results


def digest(outcome: str) -> str:
    return hashlib.blake2b(outcome.encode("utf-8", "surrogatepass"), digest_size=8).hexdigest()


def worker(package: str, shard: int, shards: int, seed: int, mutants: int, explain: list[int]) -> None:
    sys.path.insert(0, package)
    import quorvelin_convert as qc

    if not Path(qc.__file__).resolve().is_relative_to(Path(package).resolve()):
        raise SystemExit(f"differential: loaded {qc.__file__}, not the build in {package}")
    work = Path(package).parent / f"work-{Path(package).name}-{shard}"
    work.mkdir(exist_ok=True)
    os.chdir(work)
    inputs = Inputs(seed, mutants)
    out = sys.stdout
    # A line per input as soon as it is done: after a crash, the next input is the culprit.
    out.reconfigure(line_buffering=True)
    if explain:
        for index in explain:
            out.write(json.dumps({"index": index, "outcomes": outcomes(qc, inputs[index])}) + "\n")
        return
    for index in range(shard, inputs.count, shards):
        out.write(f"{index}\t{' '.join(digest(o) for _, o in outcomes(qc, inputs[index]))}\n")


# --------------------------------------------------------------------------- the builds

def git(*args: str, cwd: Path = ROOT) -> str:
    return subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True, text=True).stdout.strip()


def default_base() -> str:
    if os.environ.get("QC_DIFF_BASE"):
        return os.environ["QC_DIFF_BASE"]
    try:
        return git("merge-base", "HEAD", "main")
    except subprocess.CalledProcessError:
        return "HEAD"


def install(source: Path, name: str, defines: tuple[str, ...] = ()) -> Path:
    """pip-installs the package at `source` into build/differential/<name>,
    building in a folder of its own so that rebuilds are incremental.
    `defines` (NAME=VALUE) go to CMake; a build with them has its own folder,
    so a later build without them does not inherit them from the cache."""
    target = OUT / name
    shutil.rmtree(target, ignore_errors=True)
    env = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL=os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "4"))
    folder = "".join(f"-{d.replace('=', '-')}" for d in defines)
    settings = [f"-Ccmake.define.{d}" for d in defines]
    subprocess.run([sys.executable, "-m", "pip", "install", "-q", "--disable-pip-version-check", "--no-deps",
                    "--target", str(target), f"-Cbuild-dir={OUT / (name + folder + '-build')}", *settings,
                    str(source)],
                   check=True, env=env)
    return target


def base_build(rev: str) -> Path:
    commit = git("rev-parse", "--verify", rev + "^{commit}")
    stamp = OUT / "base-pkg.commit"
    if stamp.exists() and stamp.read_text() == commit and (OUT / "base-pkg").is_dir():
        print(f"base: {commit[:12]} ({rev}), installed before")
        return OUT / "base-pkg"
    checkout = OUT / "base"
    git("worktree", "prune")
    if (checkout / ".git").exists():
        git("checkout", "-q", "--detach", commit, cwd=checkout)
    else:
        shutil.rmtree(checkout, ignore_errors=True)
        git("worktree", "add", "-q", "--detach", str(checkout), commit)
    print(f"base: {commit[:12]} ({rev}), building")
    target = install(checkout, "base-pkg")
    stamp.write_text(commit)
    return target


# --------------------------------------------------------------------------- the comparison

def run_workers(packages: dict[str, Path], jobs: int, seed: int,
                mutants: int) -> tuple[dict[str, dict[int, str]], list[str]]:
    """Runs `jobs` workers per build at once; returns each build's digests by
    input index, and what went wrong with the workers."""
    procs = []
    for build, package in packages.items():
        for shard in range(jobs):
            out = open(OUT / f"{build}-{shard}.tsv", "w")
            cmd = [sys.executable, __file__, "--worker", str(package), str(shard), str(jobs),
                   "--seed", str(seed), "--mutants", str(mutants)]
            procs.append((build, shard, out, subprocess.Popen(cmd, stdout=out)))
    results: dict[str, dict[int, str]] = {build: {} for build in packages}
    failures = []
    for build, shard, out, proc in procs:
        code = proc.wait()
        out.close()
        with open(OUT / f"{build}-{shard}.tsv") as f:
            for line in f:
                index, digests = line.rstrip("\n").split("\t")
                results[build][int(index)] = digests
        if code != 0:
            # The input after the last one written took the worker down.
            done = [i for i in results[build] if i % jobs == shard]
            crashed = max(done, default=shard - jobs) + jobs
            results[build][crashed] = f"worker ended with status {code}"
            failures.append(f"{build} worker {shard} ended with status {code} at input {crashed}")
    return results, failures


def explain(packages: dict[str, Path], indices: list[int], seed: int, mutants: int) -> dict[str, dict[int, list[str]]]:
    found = {}
    for build, package in packages.items():
        cmd = [sys.executable, __file__, "--worker", str(package), "0", "1", "--seed", str(seed),
               "--mutants", str(mutants), "--explain", ",".join(map(str, indices))]
        out = subprocess.run(cmd, capture_output=True, text=True).stdout
        found[build] = {(d := json.loads(line))["index"]: d["outcomes"] for line in out.splitlines()}
    return found


def first_difference(a: str, b: str) -> str:
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    lo = max(0, at - 40)
    return f"at {at}:\n      base:    {a[lo:at + 60]!r}\n      current: {b[lo:at + 60]!r}"


def report(packages, indices, inputs: Inputs, seed: int, mutants: int) -> None:
    folder = OUT / "diffs"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    full = explain(packages, indices, seed, mutants)
    for index in indices:
        item = inputs[index]
        saved = folder / f"{index}.ipynb"
        saved.write_bytes(item.data if isinstance(item.data, bytes) else item.data.encode("utf-8", "surrogatepass"))
        print(f"\n{item.name}: input saved as {saved.relative_to(ROOT)}")
        base, current = full["base"].get(index), full["current"].get(index)
        if base is None or current is None:
            print("  a worker did not finish this input (crash?)")
            continue
        for (label, a), (_, b) in zip(base, current):
            if a != b:
                print(f"  {label}: {first_difference(a, b)}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--base", help="the revision to compare with (default: $QC_DIFF_BASE, else merge-base with main)")
    parser.add_argument("--mutants", type=int, default=100_000, help="mutated texts (default 100000)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the mutations")
    parser.add_argument("--jobs", type=int, default=2, help="worker processes per build (default 2)")
    parser.add_argument("--show", type=int, default=10, help="differences to show in full (default 10)")
    parser.add_argument("--define", action="append", default=[], metavar="NAME=VALUE",
                        help="a CMake setting for the working tree's build only (e.g. QC_SIMD=OFF); repeatable")
    parser.add_argument("--worker", nargs=3, metavar=("PACKAGE", "SHARD", "SHARDS"), help=argparse.SUPPRESS)
    parser.add_argument("--explain", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.worker:
        package, shard, shards = args.worker
        explain_list = [int(i) for i in args.explain.split(",")] if args.explain else []
        worker(package, int(shard), int(shards), args.seed, args.mutants, explain_list)
        return 0

    OUT.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    packages = {"base": base_build(args.base or default_base())}
    print("current: the working tree, building" + "".join(f", {d}" for d in args.define))
    packages["current"] = install(ROOT, "current-pkg", tuple(args.define))
    built = time.monotonic()

    inputs = Inputs(args.seed, args.mutants)
    results, failures = run_workers(packages, args.jobs, args.seed, args.mutants)
    base, current = results["base"], results["current"]
    differing = sorted(i for i in range(inputs.count) if base.get(i) != current.get(i))
    # A crash in both builds is no difference, but it is a fault all the same,
    # and it leaves the rest of its shard unread.
    missing = [i for i in range(inputs.count) if i not in base or i not in current]
    for failure in failures:
        print(failure)
    if missing:
        print(f"{len(missing)} inputs without an outcome in one build or both (first: {inputs[missing[0]].name})")
    fixed = len(inputs.fixed)
    calls = sum(len(d.split()) for d in current.values())
    print(f"\n{inputs.count} inputs ({fixed} files and bench notebooks, {args.mutants} mutants), "
          f"{calls} calls per build; built in {built - started:.0f} s, compared in {time.monotonic() - built:.0f} s")
    print(f"differences: {len(differing)} "
          f"({sum(i < fixed for i in differing)} among the files and bench notebooks, "
          f"{sum(i >= fixed for i in differing)} among the mutants)")
    if differing:
        report(packages, differing[: args.show], inputs, args.seed, args.mutants)
    return 1 if differing or failures or missing else 0


if __name__ == "__main__":
    sys.exit(main())
