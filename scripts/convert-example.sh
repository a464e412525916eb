#!/usr/bin/env bash
# Installs the module and converts the bundled example notebook to all four
# formats, writing the results to examples/out/.
source "$(dirname "$0")/setup.sh"
python -m pip install -q --disable-pip-version-check .
mkdir -p examples/out
python - <<'PY'
from pathlib import Path
import quorvelin_convert as qc

src = "examples/example.ipynb"
out = Path("examples/out")
for fmt, name in [("html", "example.html"), ("markdown", "example.md"),
                  ("python", "example.py"), ("strip", "example.stripped.ipynb")]:
    text = qc.convert_notebook(src, fmt, "Example notebook")
    (out / name).write_text(text, encoding="utf-8")
    print(f"{fmt:>8}: {out / name} ({len(text.encode())} bytes)")
PY
