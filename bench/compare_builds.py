#!/usr/bin/env python3
"""This build of quorvelin_convert against a previous one, in one sitting.

Installs the base revision from a git worktree into build/bench-base-pkg,
takes the new build from the installed package (or builds the working tree or
another revision the same way), and runs the rows of the page and of the
loop of calls for both builds in turn, each in a child process with its
build's folder first on sys.path. Prints per row each build's least time over
the rounds, new/base, and both builds' ratios. See bench/README.md.
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import statistics
import subprocess
import sys
import time
from dataclasses import asdict
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402
import notebooks  # noqa: E402

BUILD = bench.ROOT / "build"
TEXTS = BUILD / "bench-compare" / "texts.json"
# Cases that get every row bench.py gives them; the others get strip against
# orjson only.
FULL_CASES = ("ds-4000",) + bench.PAGE_CASES
# new/base above these is slower. A build against itself, least of 5
# rounds on a shared machine, gave 0.97x to 1.00x on ds-4000 and the median
# of the strips, and up to 1.09x on a notebook of a few microseconds.
NO_SLOWER = 1.03
NO_SLOWER_EVERY = 1.10


# --------------------------------------------------------------------------- the builds

def git(*args: str) -> str:
    return subprocess.run(["git", "-C", str(bench.ROOT), *args], check=True, capture_output=True,
                          text=True).stdout.strip()


def install(source: Path, name: str, commit: str | None) -> Path:
    """pip-installs the project at source into build/bench-NAME-pkg, building
    in build/bench-NAME-build (kept, so that a rebuild is incremental). A
    folder that already holds `commit` is taken as it is."""
    target = BUILD / f"bench-{name}-pkg"
    stamp = target / ".bench-commit"
    if commit and stamp.exists() and stamp.read_text() == commit:
        return target
    stamp.unlink(missing_ok=True)
    # The running environment's scikit-build-core, when it has one, spares
    # pip a fresh build environment per install.
    isolation = ["--no-build-isolation"] if importlib.util.find_spec("scikit_build_core") else []
    print(f"installing {source} into {target}", flush=True)
    subprocess.run([sys.executable, "-m", "pip", "install", "-q", "--disable-pip-version-check", "--no-deps",
                    "--upgrade", *isolation, "--target", str(target), f"-Cbuild-dir={BUILD / f'bench-{name}-build'}",
                    str(source)], check=True)
    if commit:
        stamp.write_text(commit)
    return target


def install_revision(rev: str, name: str) -> tuple[Path, str]:
    commit = git("rev-parse", "--verify", rev + "^{commit}")
    tree = BUILD / f"bench-{name}"
    if tree.exists():
        subprocess.run(["git", "-C", str(tree), "checkout", "-q", "--detach", commit], check=True)
    else:
        # --force: a folder deleted by hand may still be registered.
        git("worktree", "add", "-q", "--force", "--detach", str(tree), commit)
    return install(tree, name, commit), commit[:10]


def new_build(which: str) -> tuple[Path, str]:
    if which == "installed":
        found = importlib.util.find_spec("quorvelin_convert")
        if found is None or found.origin is None:
            sys.exit("quorvelin_convert is not installed here; use --new tree or --new REV")
        return Path(found.origin).parent, "installed"
    if which == "tree":
        return install(bench.ROOT, "new", None), "working tree"
    return install_revision(which, "new")


# --------------------------------------------------------------------------- rows, in a child

def compare_rows(cases: list[str]) -> list[bench.Row]:
    full = bench.plan([c for c in cases if c in FULL_CASES])
    return full + [bench.Row(c, "strip", bench.ORJSON, "speedup", 1.5) for c in cases if c not in FULL_CASES]


def child(folder: str, repeats: int, min_sample: float) -> None:
    """Times the rows with the build in `folder` and prints them as JSON.
    A format that fails on a notebook (a build half done) leaves out the rows
    that need it, with the error."""
    sys.path.insert(0, folder)
    import quorvelin_convert

    if Path(quorvelin_convert.__file__).parent.resolve() != Path(folder).resolve():
        sys.exit(f"expected the build in {folder}, imported {quorvelin_convert.__file__}")
    texts = json.loads(TEXTS.read_text(encoding="utf-8"))
    rows = compare_rows(list(texts))

    def needs(row: bench.Row) -> list[str]:
        return [row.fmt] + ([bench.OURS_AS_PEER[row.peer]] if row.peer in bench.OURS_AS_PEER else [])

    errors = {}
    for case, fmt in dict.fromkeys((r.case, f) for r in rows for f in needs(r)):
        try:
            quorvelin_convert.convert_notebook_from_json(texts[case], fmt, None)
        except Exception as error:  # noqa: BLE001 - reported, the other rows go on
            errors[f"{case} {fmt}"] = f"{type(error).__name__}: {error}"[:300]
    rows = [r for r in rows if not any(f"{r.case} {f}" in errors for f in needs(r))]
    bench.time_rows(rows, texts, bench.light_peers(), repeats, min_sample)
    print(json.dumps({"rows": [asdict(r) for r in rows], "errors": errors}))


def run_child(folder: Path, args: argparse.Namespace) -> dict:
    out = subprocess.run([sys.executable, __file__, "--child", str(folder), "--repeats", str(args.repeats),
                          "--min-sample", str(args.min_sample)], check=True, capture_output=True, text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


# --------------------------------------------------------------------------- report

def least(runs: list[dict]) -> tuple[dict[tuple, bench.Row], dict[str, str]]:
    """Each row with the least time of each contender over the rounds."""
    rows: dict[tuple, bench.Row] = {}
    errors: dict[str, str] = {}
    for run in runs:
        errors.update(run["errors"])
        for data in run["rows"]:
            row = bench.Row(**data)
            key = (row.case, row.fmt, row.peer)
            if key in rows:
                row.ours_s = min(row.ours_s, rows[key].ours_s)
                row.peer_s = min(row.peer_s, rows[key].peer_s)
            bench.judge(row)
            rows[key] = row
    return rows, errors


def watched(row: bench.Row) -> bool:
    """Rows that must be no slower than the base: ds-4000 in every format, and
    strip against orjson everywhere."""
    return row.case == "ds-4000" or row.peer == bench.ORJSON


def ratio_text(row: bench.Row | None) -> str:
    if row is None:
        return "failed"
    return f"{row.ratio:.1f}x" if row.kind == "speedup" else f"{row.ratio:.2f}x"


def report(base: dict[tuple, bench.Row], new: dict[tuple, bench.Row]) -> list[bench.Goal]:
    print(f"\n{'case':<40} {'format':<9} {'peer':<34} {'base':>11} {'new':>11} {'new/base':>8}"
          f" {'ratio base':>10} {'ratio new':>10}  goal")
    found, slower = [], []
    for key in dict.fromkeys([*base, *new]):
        b, n = base.get(key), new.get(key)
        row = n or b
        times = [bench.fmt_time(r.ours_s) if r else "     failed" for r in (b, n)]
        change = f"{n.ours_s / b.ours_s:7.2f}x" if b and n else "        "
        goal = "" if row.goal is None else (">= " if row.kind == "speedup" else "<= ") + f"{row.goal:g}x"
        print(f"{row.case[-40:]:<40} {row.fmt:<9} {row.peer:<34} {times[0]} {times[1]} {change}"
              f" {ratio_text(b):>10} {ratio_text(n):>10}  {goal} {bench.verdict(n.met if n else False)}")
        if b and n and watched(row):
            slower.append((n.ours_s / b.ours_s, row))
        if row.kind == "ceiling" and row.goal is not None:
            name = f"{row.fmt} of {row.case} vs {bench.CEILING_PEERS[row.peer]} (base {ratio_text(b)})"
            found.append(bench.Goal(name, ratio_text(n), f"<= {row.goal:g}x", n.met if n else False))
    for fmt in bench.FORMATS:
        for change, row in slower:
            if row.case == "ds-4000" and row.fmt == fmt:
                found.append(bench.Goal(f"ds-4000 {fmt} in a loop, new / base", f"{change:.2f}x",
                                        f"<= {NO_SLOWER:g}x", change <= NO_SLOWER))
                break
    strips = [(change, row) for change, row in slower if row.peer == bench.ORJSON]
    if strips:
        median = statistics.median(change for change, _ in strips)
        worst = max(strips, key=lambda pair: pair[0])
        found.append(bench.Goal(f"strip, new / base, median of {len(strips)} notebooks", f"{median:.2f}x",
                                f"<= {NO_SLOWER:g}x", median <= NO_SLOWER))
        found.append(bench.Goal(f"strip, new / base, every notebook (worst: {worst[1].case})", f"{worst[0]:.2f}x",
                                f"<= {NO_SLOWER_EVERY:g}x", worst[0] <= NO_SLOWER_EVERY))
        for build, rows in (("base", base), ("new", new)):
            ratios = [r.ratio for r in rows.values() if r.peer == bench.ORJSON]
            if ratios:
                found.append(bench.Goal(f"strip vs orjson round trip, median of {len(ratios)} notebooks, {build}",
                                        f"{statistics.median(ratios):.2f}x", ">= 3x",
                                        statistics.median(ratios) >= 3.0))
    return found


# --------------------------------------------------------------------------- main

def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--base", default="3cc47a7", help="revision of the base build (default 3cc47a7)")
    parser.add_argument("--new", default="installed",
                        help='"installed" (the module this interpreter imports, the default), "tree" (the working '
                             'tree, built into build/bench-new-pkg) or a revision')
    parser.add_argument("--cases", default=",".join([*notebooks.CASES, "real"]),
                        help="comma-separated notebooks of bench.py (and real); "
                             + ", ".join(FULL_CASES) + " get every row, the others strip against orjson")
    parser.add_argument("--rounds", type=int, default=5, help="child processes per build, the builds in turn")
    parser.add_argument("--repeats", type=int, default=5, help="samples per timing in a child (median taken)")
    parser.add_argument("--min-sample", type=float, default=0.05, help="least seconds per sample")
    parser.add_argument("--check", action="store_true", help="exit 1 when a goal is missed")
    parser.add_argument("--child", metavar="FOLDER", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child, args.repeats, args.min_sample)
        return 0

    try:
        base_folder, base_name = install_revision(args.base, "base")
        new_folder, new_name = new_build(args.new)
    except subprocess.CalledProcessError as error:
        sys.exit(f"a build could not be made: {' '.join(error.cmd)}\n{error.stderr or ''}")
    builds = {"base": base_folder, "new": new_folder}
    print(f"base: {base_name} from {base_folder}\nnew:  {new_name} from {new_folder}")

    cases = [c.strip() for c in args.cases.split(",") if c.strip()]
    unknown = [c for c in cases if c not in notebooks.CASES and c != "real"]
    if unknown:
        parser.error("unknown case: " + ", ".join(unknown))
    texts = {case: notebooks.CASES[case]() for case in cases if case != "real"}
    if "real" in cases:
        # The corpus keeps the notebooks that the new build's strip reads.
        sys.path.insert(0, str(new_folder))
        texts.update(bench.real_notebooks())
    TEXTS.parent.mkdir(parents=True, exist_ok=True)
    TEXTS.write_text(json.dumps(texts, ensure_ascii=False), encoding="utf-8")
    print(f"{len(texts)} notebooks, {sum(len(t) for t in texts.values()) / 1e6:.1f} M characters; "
          f"{args.rounds} rounds, {args.repeats} samples per timing\n")

    runs: dict[str, list[dict]] = {"base": [], "new": []}
    for i in range(args.rounds):
        # Each round starts with the other build, so that neither always
        # runs right after the same one.
        for name in (("base", "new") if i % 2 == 0 else ("new", "base")):
            start = time.perf_counter()
            runs[name].append(run_child(builds[name], args))
            print(f"round {i + 1}/{args.rounds} {name:<4} {time.perf_counter() - start:6.1f} s", flush=True)

    (base, base_errors), (new, new_errors) = least(runs["base"]), least(runs["new"])
    for name, errors in (("base", base_errors), ("new", new_errors)):
        for what, error in errors.items():
            print(f"{name} failed on {what}: {error}")
    found = report(base, new)
    bench.print_goals(found)
    missed = [g for g in found if g.met is False]
    print(f"\nmissed: {len(missed)} goals")
    return 1 if args.check and missed else 0


if __name__ == "__main__":
    sys.exit(main())
