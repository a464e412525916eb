"""Generators of benchmark notebooks in the nbformat 4.5 layout.

Every generator is deterministic (a fixed random seed) and returns the JSON
text of the notebook, the way Jupyter writes it (one-space indent, sources and
stream texts as lists of lines, kernelspec and language_info metadata).
"""

from __future__ import annotations

import base64
import json
import random

_WORDS = (
    "the of and to in is that for it as with was on be by this are from at or an "
    "data model value frame plot series index column array result mean sample "
    "notebook kernel output cell figure loss train test epoch batch feature"
).split()


def _notebook(cells: list[dict], metadata_extra: dict | None = None) -> dict:
    metadata = {
        "kernelspec": {"display_name": "Python 3 (ipykernel)", "language": "python", "name": "python3"},
        "language_info": {
            "codemirror_mode": {"name": "ipython", "version": 3},
            "file_extension": ".py",
            "mimetype": "text/x-python",
            "name": "python",
            "nbconvert_exporter": "python",
            "pygments_lexer": "ipython3",
            "version": "3.11.7",
        },
    }
    if metadata_extra:
        metadata.update(metadata_extra)
    return {"cells": cells, "metadata": metadata, "nbformat": 4, "nbformat_minor": 5}


def _lines(text: str) -> list[str]:
    return text.splitlines(keepends=True)


def _sentence(rng: random.Random, n: int) -> str:
    words = [rng.choice(_WORDS) for _ in range(n)]
    return " ".join(words).capitalize() + "."


def _markdown_cell(rng: random.Random, i: int) -> dict:
    parts = [f"## Section {i}: {_sentence(rng, 4)[:-1]}\n", "\n"]
    for _ in range(rng.randint(1, 3)):
        parts.append(" ".join(_sentence(rng, rng.randint(8, 20)) for _ in range(rng.randint(1, 3))) + "\n")
        parts.append("\n")
    if rng.random() < 0.4:
        parts += [f"- item `{rng.choice(_WORDS)}` with **{rng.choice(_WORDS)}** & <{rng.choice(_WORDS)}>\n"
                  for _ in range(rng.randint(2, 5))]
    text = "".join(parts).rstrip("\n")
    return {"cell_type": "markdown", "id": f"md-{i:05d}", "metadata": {}, "source": _lines(text)}


def _code_source(rng: random.Random, n_lines: int) -> str:
    lines = []
    for k in range(n_lines):
        a, b = rng.choice(_WORDS), rng.choice(_WORDS)
        form = rng.randrange(4)
        if form == 0:
            lines.append(f"{a}_{k} = [x * {rng.randint(1, 99)} for x in range({rng.randint(5, 500)})]")
        elif form == 1:
            lines.append(f"print(f\"{a} <{b}> = {{{a}_{max(k - 1, 0)}!r}}\")")
        elif form == 2:
            lines.append(f"df_{k} = df.groupby(\"{a}\")[\"{b}\"].mean()  # {_sentence(rng, 5)}")
        else:
            lines.append(f"if {a}_{k} > {rng.random():.4f}:\n    {b} += 1")
    return "\n".join(lines)


def _stream(rng: random.Random, n_lines: int, name: str = "stdout") -> dict:
    text = "".join(f"{rng.choice(_WORDS)} {rng.randint(0, 10**6)} {rng.random():.6f} {_sentence(rng, 6)}\n"
                   for _ in range(n_lines))
    return {"name": name, "output_type": "stream", "text": _lines(text)}


def _code_cell(rng: random.Random, i: int, count: int, outputs: list[dict], n_lines: int) -> dict:
    return {
        "cell_type": "code",
        "execution_count": count,
        "id": f"code-{i:05d}",
        "metadata": {},
        "outputs": outputs,
        "source": _lines(_code_source(rng, n_lines)),
    }


def _execute_result(rng: random.Random, count: int) -> dict:
    text = "\n".join(f"{k:>4}  {rng.random():10.6f}  {rng.choice(_WORDS)}" for k in range(rng.randint(3, 12)))
    return {"data": {"text/plain": _lines(text)}, "execution_count": count, "metadata": {},
            "output_type": "execute_result"}


def _text_notebook(n_cells: int, seed: int) -> dict:
    rng = random.Random(seed)
    cells, count = [], 0
    for i in range(n_cells):
        if rng.random() < 0.4:
            cells.append(_markdown_cell(rng, i))
            continue
        count += 1
        outputs = []
        if rng.random() < 0.8:
            outputs.append(_stream(rng, rng.randint(1, 20)))
        if rng.random() < 0.1:
            outputs.append(_stream(rng, rng.randint(1, 3), "stderr"))
        if rng.random() < 0.3:
            outputs.append(_execute_result(rng, count))
        cells.append(_code_cell(rng, i, count, outputs, rng.randint(2, 15)))
    return _notebook(cells)


def small() -> str:
    """20 cells of text and code with stream and text outputs."""
    return json.dumps(_text_notebook(20, seed=1), indent=1, ensure_ascii=False)


def medium() -> str:
    """500 cells of text and code with stream and text outputs."""
    return json.dumps(_text_notebook(500, seed=2), indent=1, ensure_ascii=False)


def text_heavy() -> str:
    """About 1 MB of text: 1,100 cells, list-form sources and stream outputs."""
    return json.dumps(_text_notebook(1100, seed=5), indent=1, ensure_ascii=False)


_LABELS = ("naïve α≥β", "“quoted”", "日本語のラベル", "Ünïcödé ✓", "emoji 🚀", "C:\\temp\\new", "tab\there")


def _svg(rng: random.Random, n_shapes: int) -> str:
    """An SVG document as matplotlib writes one: attributes in double quotes,
    long path data, text labels with backslashes and non-ASCII letters."""
    parts = ['<?xml version="1.0" encoding="utf-8" standalone="no"?>\n',
             '<svg xmlns="http://www.w3.org/2000/svg" width="460.8pt" height="345.6pt" viewBox="0 0 460.8 345.6">\n',
             '<style type="text/css">*{stroke-linejoin: round; stroke-linecap: butt}</style>\n']
    for k in range(n_shapes):
        points = " ".join(f"L {rng.uniform(0, 460):.3f} {rng.uniform(0, 345):.3f}" for _ in range(rng.randint(8, 40)))
        parts.append(f'<g id="line2d_{k}">\n <path d="M 57.6 307.584 {points}" clip-path="url(#p{k:x})" '
                     f'style="fill: none; stroke: #1f77b4; stroke-width: 1.5"/>\n</g>\n')
        if k % 4 == 0:
            label = rng.choice(_LABELS)
            parts.append(f'<text x="{rng.uniform(0, 400):.2f}" y="{rng.uniform(0, 300):.2f}" '
                         f'style="font: 10px \'DejaVu Sans\'">{label} "{k}" \\ {label}</text>\n')
    parts.append("</svg>\n")
    return "".join(parts)


def _html_table(rng: random.Random, n_rows: int) -> str:
    rows = ['<div>\n<style scoped>\n    .dataframe tbody tr th:only-of-type {\n        vertical-align: middle;\n    }\n</style>\n',
            '<table border="1" class="dataframe">\n  <thead>\n    <tr style="text-align: right;">\n'
            '      <th></th>\n      <th>name</th>\n      <th>path</th>\n      <th>value</th>\n    </tr>\n  </thead>\n  <tbody>\n']
    for r in range(n_rows):
        rows.append(f'    <tr>\n      <th>{r}</th>\n      <td>"{rng.choice(_LABELS)}"</td>\n'
                    f'      <td>C:\\data\\{rng.choice(_WORDS)}_{r}.csv</td>\n      <td>{rng.gauss(0, 1e3):.6f}</td>\n    </tr>\n')
    rows.append("  </tbody>\n</table>\n</div>")
    return "".join(rows)


def escapes(n_cells: int = 40) -> str:
    """Code cells whose outputs are long SVG and HTML strings full of escapes:
    quotes, backslashes, newlines and non-ASCII letters (about 4 MB)."""
    rng = random.Random(6)
    cells = []
    for i in range(n_cells):
        svg = _svg(rng, rng.randint(150, 250))
        outputs = [
            # A figure: the SVG as one long string, its text fallback as lines.
            {"data": {"image/svg+xml": svg, "text/plain": ["<Figure size 640x480 with 1 Axes>"]},
             "metadata": {}, "output_type": "display_data"},
            # A data frame: the HTML as a list of lines.
            {"data": {"text/html": _lines(_html_table(rng, rng.randint(20, 60))),
                      "text/plain": _lines(f"   name  value\n0  \"{rng.choice(_LABELS)}\"  {rng.random()}")},
             "execution_count": i + 1, "metadata": {}, "output_type": "execute_result"},
        ]
        cells.append(_code_cell(rng, i, i + 1, outputs, rng.randint(2, 6)))
    return json.dumps(_notebook(cells), indent=1, ensure_ascii=False)


class _Pngs:
    """Base64 PNG payloads of one size, each a different slice of one pool of
    random bytes behind the PNG signature: incompressible, as real ones are,
    and cheap to make by the hundred."""

    def __init__(self, rng: random.Random, base64_bytes: int):
        self.rng, self.raw = rng, base64_bytes * 3 // 4
        self.pool = b"\x89PNG\r\n\x1a\n" + rng.randbytes(self.raw * 2)

    def next(self) -> str:
        start = self.rng.randrange(0, self.raw)
        return base64.b64encode(self.pool[:8] + self.pool[8 + start: 8 + start + self.raw - 8]).decode("ascii")


def _png_output(png: str) -> dict:
    # Only "image/png" in the bundle, as IPython.display.Image writes it, so
    # the page embeds the image.
    return {"data": {"image/png": png}, "metadata": {"image/png": {"width": 640, "height": 480}},
            "output_type": "display_data"}


def image_heavy(total_mb: float = 20.0, per_image_kb: int = 1024) -> str:
    """Code cells whose display_data outputs carry base64 PNG images, about
    total_mb megabytes of base64 in all, with a few stream outputs and
    markdown cells between them."""
    rng = random.Random(3)
    pngs = _Pngs(rng, per_image_kb * 1024)
    n_images = max(1, int(total_mb * 1024 * 1024 / (per_image_kb * 1024)))
    cells, count = [], 0
    for i in range(n_images):
        count += 1
        outputs = [_png_output(pngs.next())]
        if rng.random() < 0.5:
            outputs.insert(0, _stream(rng, 2))
        cells.append(_code_cell(rng, i, count, outputs, 4))
        if i % 5 == 0:
            cells.append(_markdown_cell(rng, i))
    return json.dumps(_notebook(cells), indent=1, ensure_ascii=False)


def images_only(n_images: int, per_image_kb: int, seed: int) -> str:
    """n_images code cells, each with one display_data output of a base64 PNG
    of per_image_kb KiB and nothing else: the page is almost all image."""
    rng = random.Random(seed)
    pngs = _Pngs(rng, per_image_kb * 1024)
    cells = [_code_cell(rng, i, i + 1, [_png_output(pngs.next())], 3) for i in range(n_images)]
    return json.dumps(_notebook(cells), indent=1, ensure_ascii=False)


# --------------------------------------------------------------------------- a data-science notebook

_COLUMNS = ("price", "volume", "region", "score", "age", "income", "churn", "clicks")


def _frame_repr(rng: random.Random, n_rows: int) -> str:
    """The text/plain repr of a small pandas DataFrame."""
    cols = rng.sample(_COLUMNS, rng.randint(3, 4))
    lines = ["      " + "  ".join(f"{c:>10}" for c in cols)]
    for r in range(n_rows):
        lines.append(f"{r:<6}" + "  ".join(f"{rng.gauss(50, 30):10.4f}" for _ in cols))
    if rng.random() < 0.5:
        lines.append(f"\n[{n_rows} rows x {len(cols)} columns]")
    return "\n".join(lines)


def _markdown_notes(rng: random.Random) -> str:
    """Prose between the code: a heading, paragraphs with code spans and a
    link, and a bulleted or numbered list."""
    parts = [f"{'#' * rng.randint(1, 3)} {_sentence(rng, rng.randint(3, 6))[:-1]}\n\n"]
    for _ in range(rng.randint(1, 2)):
        parts.append(f"{_sentence(rng, rng.randint(5, 10))} Use `df.{rng.choice(_WORDS)}()` on "
                     f"[{rng.choice(_WORDS)}](https://example.org/{rng.choice(_WORDS)}) data.\n\n")
    bullet = rng.choice(("- ", "* ", "1. "))
    parts += [f"{bullet}`{rng.choice(_COLUMNS)}`: {_sentence(rng, rng.randint(4, 9))}\n"
              for _ in range(rng.randint(1, 3))]
    return "".join(parts).rstrip("\n")


def _traceback(rng: random.Random, column: str) -> list[str]:
    # IPython colours its tracebacks with ANSI escapes.
    return [
        "\x1b[0;31m---------------------------------------------------------------------------\x1b[0m",
        "\x1b[0;31mKeyError\x1b[0m                                  Traceback (most recent call last)",
        f"Cell \x1b[0;32mIn[{rng.randint(1, 99)}], line {rng.randint(1, 5)}\x1b[0m\n"
        f"\x1b[0;32m----> 1\x1b[0m df\x1b[38;5;241m[\x1b[39m\x1b[38;5;124m\"{column}\"\x1b[39m\x1b[38;5;241m]\x1b[39m",
        f"File \x1b[0;32m/opt/conda/lib/python3.11/site-packages/pandas/core/frame.py:{rng.randint(3000, 4200)}\x1b[0m, "
        "in \x1b[0;36mDataFrame.__getitem__\x1b[0;34m(self, key)\x1b[0m",
        f"\x1b[0;31mKeyError\x1b[0m: '{column}'",
    ]


def data_science(n_cells: int = 4000, seed: int = 10) -> str:
    """A notebook of analysis as people write them (about 2.2 MB at 4,000
    cells): a block of two dozen cells, markdown notes, code printing
    progress, DataFrame reprs, a warning, a small plot and an error,
    repeated with fresh text until n_cells."""
    rng = random.Random(seed)
    pngs = _Pngs(rng, 2560)
    # One letter per cell of the block: m markdown, c code without output,
    # s stream, f DataFrame, v a value, w a warning and a value, p a plot,
    # e an error.
    block = "mcsfmcvmpswmcfsemcvmscfv"
    cells, count = [], 0
    for i in range(n_cells):
        kind = block[i % len(block)]
        if kind == "m":
            cells.append({"cell_type": "markdown", "id": f"md-{i:05d}", "metadata": {},
                          "source": _lines(_markdown_notes(rng))})
            continue
        count += 1
        outputs: list[dict] = []
        if kind == "s":
            outputs.append(_stream(rng, rng.randint(1, 3)))
        elif kind in "fvw":
            if kind == "w":
                outputs.append({"name": "stderr", "output_type": "stream", "text": _lines(
                    f"/tmp/ipykernel_{rng.randint(1000, 9999)}/123.py:3: FutureWarning: {_sentence(rng, 8)}\n"
                    f"  df = df.groupby(\"{rng.choice(_COLUMNS)}\").mean()\n")})
            text = _frame_repr(rng, rng.randint(2, 4)) if kind == "f" else f"{rng.random():.6f}"
            outputs.append({"data": {"text/plain": _lines(text)}, "execution_count": count, "metadata": {},
                            "output_type": "execute_result"})
        elif kind == "p":
            plot = _png_output(pngs.next())
            plot["data"]["text/plain"] = ["<Figure size 640x480 with 1 Axes>"]
            outputs.append(plot)
        elif kind == "e":
            column = rng.choice(_COLUMNS)
            outputs.append({"ename": "KeyError", "evalue": f"'{column}'", "output_type": "error",
                            "traceback": _traceback(rng, column)})
        cells.append(_code_cell(rng, i, count, outputs, rng.randint(1, 3)))
    return json.dumps(_notebook(cells), indent=1, ensure_ascii=False)


def _nested(rng: random.Random, depth: int, width: int) -> object:
    if depth == 0:
        return rng.choice([rng.randint(-10**9, 10**12), rng.random() * 10**rng.randint(-8, 8),
                           _sentence(rng, 3), True, None])
    if rng.random() < 0.3:
        return [_nested(rng, 0, width) for _ in range(rng.randint(0, width))] + [_nested(rng, depth - 1, width)]
    node = {f"{rng.choice(_WORDS)}_{k}": _nested(rng, 0, width) for k in range(rng.randint(0, width))}
    node["child"] = _nested(rng, depth - 1, width)
    return node


def deep_metadata(n_cells: int = 200, depth: int = 60) -> str:
    """Cells and notebook whose metadata nest maps and lists `depth` levels
    deep, with a few scalar entries on every level."""
    rng = random.Random(4)
    cells = []
    for i in range(n_cells):
        cell = _markdown_cell(rng, i) if i % 3 == 0 else _code_cell(rng, i, i, [_stream(rng, 2)], 3)
        cell["metadata"] = {"tags": ["deep", f"t{i}"], "extension": _nested(rng, depth, 3)}
        cells.append(cell)
    extra = {"widgets": _nested(rng, depth, 4), "toc": _nested(rng, depth // 2, 6)}
    return json.dumps(_notebook(cells, extra), indent=1, ensure_ascii=False)


CASES = {
    "small": small,
    "medium": medium,
    "deep-metadata": deep_metadata,
    "text-1MB": text_heavy,
    "escapes": escapes,
    "images-20MB": image_heavy,
    "ds-4000": data_science,
    "images-30x800KB": lambda: images_only(30, 800, seed=11),
    "images-300x80KB": lambda: images_only(300, 80, seed=12),
}


# --------------------------------------------------------------------------- adversarial shapes
#
# Each takes a size n and returns a compact notebook text whose cost grows with
# n along one axis only. They are written as text directly: building Python
# objects of 10^7 entries and dumping them would take longer than the bench.

def _wrap(cells: str, metadata: str = "{}") -> str:
    return f'{{"cells": [{cells}], "metadata": {metadata}, "nbformat": 4, "nbformat_minor": 5}}'


def _code(outputs: str, source: str = '"print(1)"') -> str:
    return f'{{"cell_type": "code", "execution_count": 1, "metadata": {{}}, "outputs": [{outputs}], "source": {source}}}'


def _shuffled_keys(n: int, prefix: str, seed: int) -> list[str]:
    keys = [f"{prefix}{i:08d}" for i in range(n)]
    random.Random(seed).shuffle(keys)
    return keys


def undeclared_repeats(n: int) -> str:
    """One output whose undeclared key comes n times before its tag."""
    output = '{' + '"junk": 0, ' * n + '"output_type": "stream", "name": "stdout", "text": "done\\n"}'
    return _wrap(_code(output))


def notebook_metadata_keys(n: int) -> str:
    """Notebook metadata of n keys in random order."""
    entries = ", ".join(f'"{k}": {i}' for i, k in enumerate(_shuffled_keys(n, "key", 7)))
    return _wrap(_code(""), "{" + entries + "}")


def cell_metadata_keys(n: int) -> str:
    """One cell whose metadata has n keys in random order."""
    entries = ", ".join(f'"{k}": "v{i % 10}"' for i, k in enumerate(_shuffled_keys(n, "key", 8)))
    return _wrap('{"cell_type": "markdown", "metadata": {' + entries + '}, "source": "# title"}')


def mime_bundle_keys(n: int) -> str:
    """One display_data output whose bundle has n MIME types in random order."""
    entries = ", ".join(f'"application/x-{k}": "v"' for k in _shuffled_keys(n, "type", 9))
    return _wrap(_code('{"data": {' + entries + '}, "metadata": {}, "output_type": "display_data"}'))


def stream_outputs(n: int) -> str:
    """One cell with n stream outputs."""
    one = '{"name": "stdout", "output_type": "stream", "text": ["step\\n"]}'
    return _wrap(_code(", ".join([one] * n)))


def small_cells(n: int) -> str:
    """n small cells, code and markdown in turn."""
    pair = [_code("", '["x = 1\\n", "x"]'), '{"cell_type": "markdown", "metadata": {}, "source": ["# a\\n", "b"]}']
    return _wrap(", ".join(pair[i % 2] for i in range(n)))


def source_lines(n: int) -> str:
    """One markdown cell whose list-form source has n lines."""
    return _wrap('{"cell_type": "markdown", "metadata": {}, "source": [' + ", ".join(['"a line of text\\n"'] * n) + "]}")


# name -> (generator, n, the format the shape was first found costly in)
SHAPES = {
    "undeclared key repeats": (undeclared_repeats, 10**6, "strip"),
    "notebook metadata keys": (notebook_metadata_keys, 10**5, "strip"),
    "cell metadata keys": (cell_metadata_keys, 10**5, "strip"),
    "MIME bundle keys": (mime_bundle_keys, 10**5, "html"),
    "stream outputs": (stream_outputs, 10**5, "html"),
    "small cells": (small_cells, 10**5, "strip"),
    "source lines": (source_lines, 10**6, "markdown"),
}
