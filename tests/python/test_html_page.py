import difflib
from pathlib import Path

import pytest

from conftest import code_cell, notebook_text, run_python, text_cell

EMPTY = notebook_text()
PAGE_END = "\n    </div>\n</body>\n</html>"


def page(qc, *cells, title=None):
    return qc.convert_notebook_from_json(notebook_text(*cells), "html", title)


@pytest.fixture(scope="module")
def empty_page(qc):
    return qc.convert_notebook_from_json(EMPTY, "html", None)


def cell_blocks(qc, empty_page, *cells):
    """The text between the page head and its end, for the given cells."""
    head = empty_page[: -len(PAGE_END)]
    rendered = page(qc, *cells)
    assert rendered.startswith(head) and rendered.endswith(PAGE_END)
    return rendered[len(head) : -len(PAGE_END)]


def test_empty_notebook_page(empty_page):
    golden = Path(__file__).resolve().parents[2] / "tests" / "data" / "pages" / "empty.html"
    expected = golden.read_bytes().decode("utf-8")
    diff = difflib.unified_diff(expected.splitlines(True), empty_page.splitlines(True), str(golden), "rendered")
    assert empty_page == expected, "".join(diff)


HEADER = '\n        <div class="cell">\n            <div class="cell-header">\n                <span class="cell-type">'
COUNT = '\n                <span class="execution-count">['
CELL_END = "\n        </div>"


def code_block(source, count=None, outputs=None):
    block = HEADER + "Code</span>"
    if count:
        block += COUNT + str(count) + "]</span>"
    block += '\n            </div>\n            <div class="code-cell">\n                <div class="code-source"><pre>'
    block += source + "</pre></div>"
    if outputs:
        block += '\n                <div class="code-output">' + "".join(outputs) + "\n                </div>"
    return block + "\n            </div>" + CELL_END


def stream(name, text):
    return {"output_type": "stream", "name": name, "text": text}


@pytest.mark.parametrize(
    "cells, expected",
    [
        ([code_cell("print(1)", 1, [stream("stdout", "1\n")])],
         code_block("print(1)", 1, ['<pre class="stream-stdout">1\n</pre>'])),
        ([code_cell("x = 1")], code_block("x = 1")),
        ([text_cell("markdown", "**a** & b")],
         HEADER + 'Markdown</span>\n            </div>\n            <div class="markdown-cell">**a** &amp; b</div>'
         + CELL_END),
        ([text_cell("raw", "<raw> \"q\"", outputs=[stream("stdout", "never shown")])],
         HEADER + 'Raw</span>\n            </div>\n            <div class="raw-cell"><pre>&lt;raw&gt; &quot;q&quot;'
         "</pre></div>" + CELL_END),
        ([text_cell("markdown", "m", execution_count=2)],
         HEADER + "Markdown</span>" + COUNT + '2]</span>\n            </div>\n            <div class="markdown-cell">m'
         "</div>" + CELL_END),
        ([code_cell("a", 3, [stream("stderr", "e"), stream("stdout", "o"),
                             {"output_type": "error", "ename": "E", "evalue": "v", "traceback": ["t1", "t2"]}])],
         code_block("a", 3, ['<pre class="stream-stderr">e</pre>', '<pre class="stream-stdout">o</pre>',
                             '<div class="output-error"><strong>E</strong>: v<pre>t1\nt2</pre></div>'])),
        ([code_cell("a"), text_cell("markdown", "b")],
         code_block("a") + HEADER + 'Markdown</span>\n            </div>\n            <div class="markdown-cell">b</div>'
         + CELL_END),
    ],
)
def test_cell_blocks(qc, empty_page, cells, expected):
    assert cell_blocks(qc, empty_page, *cells) == expected


@pytest.mark.parametrize(
    "count, shown",
    [
        (1, 1), (0, None), (None, None), (-1, None), (1.5, None), ("3", None), (True, None), ([1], None),
        (4294967296, 4294967296), (4294967297, 4294967297), (18446744073709551615, 18446744073709551615),
        (18446744073709551616, None),
    ],
)
def test_execution_count_shown(qc, empty_page, count, shown):
    assert cell_blocks(qc, empty_page, code_cell("s", count)) == code_block("s", shown)


@pytest.mark.parametrize(
    "title, shown",
    [
        (None, "Notebook"),
        ("", ""),
        ("My notebook \u00e9\U0001f600 'q'", "My notebook \u00e9\U0001f600 'q'"),
        ("{{ title }} {% if %}", "{{ title }} {% if %}"),
        ("<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"),
        ('Q&A "quoted"', "Q&amp;A &quot;quoted&quot;"),
    ],
)
def test_title(qc, empty_page, title, shown):
    expected = empty_page.replace("<title>Notebook</title>", f"<title>{shown}</title>", 1)
    assert qc.convert_notebook_from_json(EMPTY, "html", title) == expected


# Jinja2 failures, provoked in a fresh process by handing the environment a
# different template text before the first page is made.
@pytest.mark.parametrize(
    "source, message",
    [
        ("line 1\n{% for %}", "syntax error: Expected an expression, got 'end of statement block' (in notebook:2)"),
        ("a\nb\n{{ nothing.attribute }}", "undefined value: 'nothing' is undefined (in notebook:3)"),
        ("{{ cells[0].x }}", "undefined value: quorvelin_convert.CellSequence object has no element 0 (in notebook:1)"),
        ("\n\n{{ cells | no_such_filter }}", "syntax error: No filter named 'no_such_filter'. (in notebook:3)"),
        ("\n\n{% include 'missing' %}", "invalid operation: missing (in notebook:3)"),
    ],
)
def test_template_failures(source, message):
    result = run_python(
        f"""
        import jinja2
        import quorvelin_convert as qc

        original = jinja2.DictLoader
        jinja2.DictLoader = lambda mapping: original({{"notebook": {source!r}}})
        for _ in range(3):
            try:
                print(len(qc.convert_notebook_from_json('{EMPTY}', "html", None)))
            except ValueError as error:
                print(error)
            jinja2.DictLoader = original
        """
    )
    assert result.returncode == 0, result.stderr
    failed = f"HTML conversion failed: template rendering error: {message}"
    # A template that does not compile is not kept, so the next call starts
    # again; a compiled one is kept for the life of the process.
    if message.startswith("syntax error"):
        assert result.stdout.splitlines() == [failed, "2893", "2893"]
    else:
        assert result.stdout.splitlines() == [failed, failed, failed]


# The template reads `cells` as the list of cells: it can be walked more than
# once, measured and indexed, in a fresh process with its own template.
@pytest.mark.parametrize(
    "source, shown",
    [
        ("{% for c in cells %}{{ c.type_label }}{% endfor %}", "MarkdownCode"),
        ("{% for c in cells %}{{ c.is_code }}{% endfor %}{% for c in cells %}{{ loop.index }}{% endfor %}",
         "FalseTrue12"),
        ("{{ cells | length }} {{ cells | list | length }} {{ cells is sequence }}", "2 2 True"),
        ("{{ cells[-1].source_escaped }}|{{ cells[0].outputs | length }}|{{ cells[2] }}", "x &lt; 1|0|"),
    ],
)
def test_template_reads_cells_as_list(source, shown):
    text = notebook_text(text_cell("markdown", "m"), code_cell("x < 1", 3))
    result = run_python(
        f"""
        import jinja2
        import quorvelin_convert as qc

        original = jinja2.DictLoader
        jinja2.DictLoader = lambda mapping: original({{"notebook": {source!r}}})
        print(qc.convert_notebook_from_json({text!r}, "html", None))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == shown + "\n"


# Exceptions that are not Jinja2's own are not the page's failure: they reach
# the caller unchanged, traceback included. First an error of Python code the
# template runs, then what a signal handler raises during a long page, then a
# Jinja2 that cannot be imported. Each in a fresh process.
def test_error_inside_template_reaches_caller():
    result = run_python(
        f"""
        import jinja2
        import quorvelin_convert as qc

        original = jinja2.DictLoader
        jinja2.DictLoader = lambda mapping: original({{"notebook": "\\n{{{{ 1 // (cells | length) }}}}"}})
        try:
            qc.convert_notebook_from_json('{EMPTY}', "html", None)
        except ZeroDivisionError as error:
            entry = error.__traceback__
            while entry.tb_next is not None:
                entry = entry.tb_next
            print(error, entry.tb_frame.f_code.co_filename, entry.tb_lineno)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "integer division or modulo by zero <template> 2\n"


@pytest.mark.parametrize(
    "handler, raised",
    [
        ("signal.default_int_handler", "KeyboardInterrupt"),
        ("lambda *_: sys.exit(3)", "SystemExit 3"),
        ("lambda *_: throw(TimeoutError('alarm'))", "TimeoutError alarm"),
        ("lambda *_: throw(Stop('user'))", "Stop user"),
    ],
)
def test_signal_handler_exception_during_page_reaches_caller(handler, raised):
    cell = code_cell("x = 1", 1, [stream("stdout", "1\n")])
    result = run_python(
        f"""
        import json, signal, sys
        import quorvelin_convert as qc

        class Stop(BaseException):
            pass

        def throw(error):
            raise error

        notebook = json.loads({notebook_text(cell)!r})
        notebook["cells"] *= 100_000
        text = json.dumps(notebook)
        qc.convert_notebook_from_json('{EMPTY}', "html", None)  # Jinja2 imported, the page compiled
        signal.signal(signal.SIGALRM, {handler})
        signal.setitimer(signal.ITIMER_REAL, 0.1)
        try:
            qc.convert_notebook_from_json(text, "html", None)
            print("finished")
        except BaseException as error:
            # Raised inside the rendering, not after the call returned.
            entry, inside = error.__traceback__, False
            while entry is not None:
                inside = inside or "jinja2" in entry.tb_frame.f_code.co_filename
                entry = entry.tb_next
            print(" ".join([type(error).__name__, *map(str, error.args)]), inside)
        signal.setitimer(signal.ITIMER_REAL, 0)
        print(len(qc.convert_notebook_from_json('{EMPTY}', "html", None)))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"{raised} True", "2893"]


def test_missing_jinja2_raises_import_error():
    result = run_python(
        f"""
        import sys
        import quorvelin_convert as qc

        sys.modules["jinja2"] = None
        for format in ["html", "markdown", "html"]:
            try:
                print(len(qc.convert_notebook_from_json('{EMPTY}', format, None)))
            except ImportError as error:
                print(type(error).__name__, error)
        """
    )
    assert result.returncode == 0, result.stderr
    halted = "ModuleNotFoundError import of jinja2 halted; None in sys.modules"
    assert result.stdout.splitlines() == [halted, "0", halted]


# The page is one str whatever the widest character of its parts: every
# mix of ASCII, Latin-1, BMP and astral text in the title, the sources and
# the outputs, in either order, equals the page built piece by piece here
# (a str of a wider kind than its text would compare unequal).
LATIN1, BMP, ASTRAL = "caf\u00e9", "\u20ac\u4e2d", "\U0001f600"


@pytest.mark.parametrize(
    "title, first, second",
    [
        ("T", "ascii", "ascii"),
        ("T", LATIN1, "ascii"),
        ("T", "ascii", BMP),
        ("T", BMP, LATIN1),
        ("T", ASTRAL, "ascii"),
        ("T", LATIN1, ASTRAL),
        (LATIN1, "ascii", "ascii"),
        (BMP, LATIN1, "x"),
        (ASTRAL, BMP, LATIN1),
        ("T", "x" * 100_000 + BMP, "y" * 100_000),
    ],
    ids=lambda value: ascii(value)[:20],
)
def test_page_of_mixed_widths(qc, empty_page, title, first, second):
    cells = [code_cell(first, 1, [stream("stdout", second)]), text_cell("markdown", second + first)]
    expected = (
        empty_page[: -len(PAGE_END)].replace("<title>Notebook</title>", f"<title>{title}</title>", 1)
        + code_block(first, 1, [f'<pre class="stream-stdout">{second}</pre>'])
        + HEADER + f'Markdown</span>\n            </div>\n            <div class="markdown-cell">{second}{first}</div>'
        + CELL_END + PAGE_END
    )
    assert page(qc, *cells, title=title) == expected


# A page far longer than its parts suggest (a bundle shown as JSON, a
# template that prints more than it is given) grows past its first size;
# pieces of every width and empty ones land in order; a piece that has no
# UTF-8 form fails the call as encoding it to UTF-8 does (Jinja2 joins
# constant neighbours into one piece, hence the positions). Each in a fresh process with
# its own template.
@pytest.mark.parametrize(
    "source, shown",
    [
        ("{% for i in range(30000) %}{{ i }},{% endfor %}", ",".join(map(str, range(30000))) + ","),
        ("a{{ '' }}\u00e9{{ '' }}\u20ac\U0001f600{{ 'z' * 70000 }}", "a\u00e9\u20ac\U0001f600" + "z" * 70000),
        ("{{ '\U0001f600' }}{{ 'x' * 5 }}{{ '\u00e9' }}", "\U0001f600xxxxx\u00e9"),
        ("{{ 'x' * 100000 }}{{ '\u4e2d' }}{{ '\u00e9' * 100000 }}", "x" * 100000 + "\u4e2d" + "\u00e9" * 100000),
        ("ok {{ '\\ud800' }}", "UnicodeEncodeError 'utf-8' codec can't encode character '\\ud800' in position 3:"
         " surrogates not allowed"),
        ("{{ 'x' * 70000 }}{{ '\\udfff\u20ac' }}", "UnicodeEncodeError 'utf-8' codec can't encode character"
         " '\\udfff' in position 70000: surrogates not allowed"),
    ],
    ids=["growth", "widths-and-empty", "astral-first", "bmp-then-latin1", "surrogate", "surrogate-after-growth"],
)
def test_template_pieces_make_the_page(source, shown):
    result = run_python(
        f"""
        import sys
        import jinja2
        import quorvelin_convert as qc

        original = jinja2.DictLoader
        jinja2.DictLoader = lambda mapping: original({{"notebook": {source!r}}})
        try:
            page = qc.convert_notebook_from_json('{EMPTY}', "html", None)
            sys.stdout.write(ascii(page))
        except UnicodeEncodeError as error:
            print(type(error).__name__, error)
        """
    )
    assert result.returncode == 0, result.stderr
    expected = shown + "\n" if shown.startswith("UnicodeEncodeError") else ascii(shown)
    assert result.stdout == expected


def test_bundle_shown_as_json_grows_the_page(qc, empty_page):
    bundle = {f"application/x-{i:06d}": "v" * (i % 7) for i in range(20_000)}
    output = {"output_type": "display_data", "data": bundle, "metadata": {}}
    rendered = cell_blocks(qc, empty_page, code_cell("b", None, [output]))
    entries = ",\n".join(f'  &quot;{key}&quot;: &quot;{value}&quot;' for key, value in sorted(bundle.items()))
    assert rendered == code_block("b", None, ["<pre>{\n" + entries + "\n}</pre>"])
