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


def image_heavy(total_mb: float = 50.0, per_image_kb: int = 1024) -> str:
    """Code cells whose display_data outputs carry base64 PNG images, about
    total_mb megabytes of base64 in all. The bundles hold only "image/png", as
    IPython.display.Image writes them, so the page embeds every image."""
    rng = random.Random(3)
    raw_per_image = per_image_kb * 1024 * 3 // 4
    pool = b"\x89PNG\r\n\x1a\n" + rng.randbytes(raw_per_image * 2)
    n_images = max(1, int(total_mb * 1024 * 1024 / (per_image_kb * 1024)))
    cells, count = [], 0
    for i in range(n_images):
        start = rng.randrange(0, raw_per_image)
        png = base64.b64encode(pool[:8] + pool[8 + start: 8 + start + raw_per_image - 8]).decode("ascii")
        count += 1
        outputs = [{"data": {"image/png": png}, "metadata": {"image/png": {"width": 640, "height": 480}},
                    "output_type": "display_data"}]
        if rng.random() < 0.5:
            outputs.insert(0, _stream(rng, 2))
        cells.append(_code_cell(rng, i, count, outputs, 4))
        if i % 5 == 0:
            cells.append(_markdown_cell(rng, i))
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
    "images-50MB": image_heavy,
}
