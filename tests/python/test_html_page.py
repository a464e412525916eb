import difflib
import textwrap
from importlib import metadata
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


# The engine is reached the way the page reaches it: in a fresh process,
# minijinja.Environment is replaced by a subclass that registers another
# template text in place of the page's (and may fail where it is told to).
PATCHED = """
import minijinja
import quorvelin_convert as qc

original = minijinja.Environment

class Patched(original):
    def add_template(self, name, source):
        super().add_template(name, {source!r})
{extra}
minijinja.Environment = Patched
"""
MAJOR = int(metadata.version("minijinja").split(".")[0])


def run_patched(source, body, extra=""):
    return run_python(PATCHED.format(source=source, extra=textwrap.indent(textwrap.dedent(extra), "    ")) + body)


# The engine's failures, with the engine's text. Each call makes its own
# environment, so the call after the one with the patched template gives the
# page again.
@pytest.mark.parametrize(
    "source, message",
    [
        ("line 1\n{% for %}", "syntax error: unexpected end of block, expected in (in notebook:2)"),
        ("a\nb\n{{ nothing.attribute }}",
         {2: "undefined value (in notebook:3)", 3: "undefined value: `nothing` is undefined (in notebook:3)"}),
        ("\n{{ cells | no_such_filter }}", "unknown filter: filter no_such_filter is unknown (in notebook:2)"),
        ("\n\n{{ 1 // (cells | list | length) }}", "invalid operation: unable to calculate 1 // 0 (in notebook:3)"),
        ("\n{{ title - 1 }}",
         "invalid operation: tried to use - operator on unsupported types string and number (in notebook:2)"),
        ("\n\n{% include 'missing' %}",
         {2: 'template not found: tried to include non-existing template "missing" (in notebook:3)',
          3: "template not found: tried to include non-existing template 'missing' (in notebook:3)"}),
    ],
)
def test_template_failures(source, message):
    if isinstance(message, dict):
        message = message[MAJOR]
    result = run_patched(source, f"""
for _ in range(2):
    try:
        print(len(qc.convert_notebook_from_json({EMPTY!r}, "html", None)))
    except ValueError as error:
        print(error)
    minijinja.Environment = original
""")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"HTML conversion failed: template rendering error: {message}", "2893"]


# An error of the engine's kind that carries no message shows a kind and no
# invented detail.
def test_template_error_without_message():
    result = run_patched("{{ title }}", f"""
try:
    qc.convert_notebook_from_json({EMPTY!r}, "html", None)
except ValueError as error:
    print(error)
""", extra="""
    def render_template(self, *args, **kwargs):
        raise minijinja.TemplateError(None)
""")
    assert result.returncode == 0, result.stderr
    assert result.stdout == "HTML conversion failed: template rendering error: invalid operation\n"


# What the template is handed: a record per cell with its fields, the count
# an integer or none, outputs that test false when there are none, and the
# texts, each of which reads as itself wherever and however often it is
# printed.
@pytest.mark.parametrize(
    "source, shown",
    [
        ("{% for c in cells %}{{ c.type_label }},{% if c.is_code %}c{% endif %}{% if c.is_markdown %}m{% endif %}"
         "{% if c.is_raw %}r{% endif %};{% endfor %}", "Markdown,m;Code,c;Raw,r;"),
        ("{% for c in cells %}{% if c.execution_count is none %}-{% else %}{{ c.execution_count }}{% endif %}"
         "{% if c.outputs %}+{% endif %},{% endfor %}", "-,3+,-,"),
        ("{% for c in cells %}{{ c.execution_count + 1 if c.execution_count else 0 }},{% endfor %}", "0,4,0,"),
        ("{% for c in cells %}{% for o in c.outputs %}{{ o.html }}{{ o.html }}|{% endfor %}{% endfor %}",
         '<pre class="stream-stdout">1&amp;</pre><pre class="stream-stdout">1&amp;</pre>|'
         "<pre>{\n  &quot;k&quot;: 1\n}</pre><pre>{\n  &quot;k&quot;: 1\n}</pre>|"
         "<pre>Out[2]: </pre><pre>x</pre><pre>Out[2]: </pre><pre>x</pre>|"),
        ("{{ title }}{% for c in cells %}({{ c.source_escaped }}){% endfor %}{{ title }}",
         "T &amp; \u00e9(m \U0001f600)(x &lt; 1)(r)T &amp; \u00e9"),
        ("\u20ac{% for c in cells %}{% if c.source_escaped %}y{% endif %}{% endfor %}", "\u20acyyy"),
        ("{% for i in range(30000) %}{{ i }},{% endfor %}", ",".join(map(str, range(30000))) + ","),
        ("a\0s\0c\0s99\0\0x\0", "a\0s\0c\0s99\0\0x\0"),
    ],
    ids=["kinds", "counts-and-outputs", "count-is-integer", "fragments-twice", "texts", "wide-literal", "growth",
         "nul-literals"],
)
def test_template_reads_the_records(source, shown):
    outputs = [stream("stdout", "1&"), {"output_type": "display_data", "data": {"k": 1}, "metadata": {}},
               {"output_type": "execute_result", "execution_count": 2, "data": {"text/plain": "x"}, "metadata": {}}]
    text = notebook_text(text_cell("markdown", "m \U0001f600"), code_cell("x < 1", 3, outputs), text_cell("raw", "r"))
    result = run_patched(source, f"""
import sys
sys.stdout.write(ascii(qc.convert_notebook_from_json({text!r}, "html", "T & \u00e9")))
""")
    assert result.returncode == 0, result.stderr
    assert result.stdout == ascii(shown)


# Exceptions that are not the engine's own are not the page's failure: they
# reach the caller unchanged, and the module goes on working.
@pytest.mark.parametrize(
    "extra, raised",
    [
        ("def __init__(self):\n    raise OSError('no environment')", "OSError no environment"),
        ("def render_template(self, *args, **kwargs):\n    raise ZeroDivisionError('zero')", "ZeroDivisionError zero"),
        ("def render_template(self, *args, **kwargs):\n    raise MemoryError", "MemoryError"),
    ],
)
def test_other_exceptions_reach_the_caller(extra, raised):
    result = run_patched("{{ title }}", f"""
try:
    qc.convert_notebook_from_json({EMPTY!r}, "html", None)
except BaseException as error:
    print(" ".join([type(error).__name__, *map(str, error.args)]))
minijinja.Environment = original
print(len(qc.convert_notebook_from_json({EMPTY!r}, "html", None)))
""", extra=extra)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [raised, "2893"]


# What a signal handler raises while the engine walks the cells ends the
# call with that exception, not with a page that lacks the cells it cut
# short, and the module goes on working.
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
        notebook["cells"] *= 300_000
        text = json.dumps(notebook)
        qc.convert_notebook_from_json('{EMPTY}', "html", None)  # the engine imported
        signal.signal(signal.SIGALRM, {handler})
        signal.setitimer(signal.ITIMER_REAL, 0.2)
        try:
            qc.convert_notebook_from_json(text, "html", None)
            print("finished")
        except BaseException as error:
            print(" ".join([type(error).__name__, *map(str, error.args)]))
        signal.setitimer(signal.ITIMER_REAL, 0)
        print(len(qc.convert_notebook_from_json('{EMPTY}', "html", None)))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [raised, "2893"]


def test_missing_minijinja_raises_import_error():
    result = run_python(
        f"""
        import sys
        import quorvelin_convert as qc

        sys.modules["minijinja"] = None
        for format in ["html", "markdown", "html"]:
            try:
                print(len(qc.convert_notebook_from_json('{EMPTY}', format, None)))
            except ImportError as error:
                print(type(error).__name__, error)
        """
    )
    assert result.returncode == 0, result.stderr
    halted = "ModuleNotFoundError import of minijinja halted; None in sys.modules"
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


def test_bundle_shown_as_json_grows_the_page(qc, empty_page):
    bundle = {f"application/x-{i:06d}": "v" * (i % 7) for i in range(20_000)}
    output = {"output_type": "display_data", "data": bundle, "metadata": {}}
    rendered = cell_blocks(qc, empty_page, code_cell("b", None, [output]))
    entries = ",\n".join(f'  &quot;{key}&quot;: &quot;{value}&quot;' for key, value in sorted(bundle.items()))
    assert rendered == code_block("b", None, ["<pre>{\n" + entries + "\n}</pre>"])
