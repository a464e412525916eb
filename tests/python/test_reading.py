import os

import pytest

from conftest import EXAMPLE, FORMATS, SAMPLES, notebook_text, run_python

VALID = notebook_text()
READ = "Failed to read file: "
PARSE = "Failed to parse notebook: "


@pytest.fixture
def write_file(tmp_path):
    def write(content: bytes, name="notebook.ipynb"):
        path = tmp_path / name
        path.write_bytes(content)
        return str(path)

    return write


def read_failure_path(kind, tmp_path, write_file):
    if kind == "missing":
        return str(tmp_path / "absent.ipynb")
    if kind == "empty name":
        return ""
    if kind == "directory":
        return str(tmp_path)
    if kind == "nul":
        return str(tmp_path) + "/a\0b"
    if kind == "unreadable":
        path = write_file(VALID.encode(), "locked.ipynb")
        os.chmod(path, 0)
        return path
    if kind == "not a directory":
        return write_file(VALID.encode()) + "/inner.ipynb"
    return write_file(kind)  # bytes: the file's content


@pytest.mark.parametrize(
    "kind, reason",
    [
        ("missing", "No such file or directory (os error 2)"),
        ("empty name", "No such file or directory (os error 2)"),
        ("directory", "Is a directory (os error 21)"),
        ("not a directory", "Not a directory (os error 20)"),
        ("nul", "file name contained an unexpected NUL byte"),
        pytest.param("unreadable", "Permission denied (os error 13)",
                     marks=pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")),
        ("caf\xe9".encode("latin-1"), "stream did not contain valid UTF-8"),
        (b"\xc0\xaf", "stream did not contain valid UTF-8"),  # overlong "/"
        (b"\xe0\x80\xaf", "stream did not contain valid UTF-8"),  # overlong, three bytes
        (b'"\xed\xa0\x80"', "stream did not contain valid UTF-8"),  # surrogate U+D800
        (b"\xf4\x90\x80\x80", "stream did not contain valid UTF-8"),  # above U+10FFFF
        (b"\xf5\x80\x80\x80", "stream did not contain valid UTF-8"),
        (b"abcdefgh\xe2\x82", "stream did not contain valid UTF-8"),  # cut at the end
        (b"\x80", "stream did not contain valid UTF-8"),  # lone continuation
    ],
)
@pytest.mark.parametrize("format", ["html", "no such format"])
def test_read_failures(qc, tmp_path, write_file, kind, reason, format):
    path = read_failure_path(kind, tmp_path, write_file)
    with pytest.raises(ValueError) as caught:
        qc.convert_notebook(path, format, None)
    assert type(caught.value) is ValueError
    assert caught.value.args == (READ + reason,)


@pytest.mark.parametrize(
    "content",
    [
        "\U0010ffff \u20ac \u00e9 \U0001f600 \ud7ff\ue000",  # the largest and the edges around the surrogates
        "x" * 100_003,  # longer than any single read
    ],
)
def test_valid_utf8_passes_the_read(qc, write_file, content):
    # The text is read whole and reaches the parser, which then refuses it.
    path = write_file(content.encode())
    with pytest.raises(ValueError) as caught:
        qc.convert_notebook(path, "html", None)
    assert str(caught.value).startswith(PARSE)


def test_file_reporting_no_length_is_read_whole(qc):
    with pytest.raises(ValueError) as caught:
        qc.convert_notebook("/proc/self/status", "html", None)
    assert caught.value.args == (PARSE + "expected value at line 1 column 1",)


def test_surrogate_escaped_path_fails_before_any_open(qc):
    with pytest.raises(UnicodeEncodeError):
        qc.convert_notebook(os.fsdecode(b"/tmp/\xff.ipynb"), "html", None)


@pytest.mark.parametrize(
    "content, message",
    [
        ("", "EOF while parsing a value at line 1 column 0"),
        ("   ", "EOF while parsing a value at line 1 column 3"),
        ("\ufeff{}", "expected value at line 1 column 1"),
        ("{}", "missing field `nbformat` at line 1 column 2"),
        ('{"nbformat":4,"nbformat_minor":5}', "missing field `cells` at line 1 column 33"),
        ("[]", "invalid length 1, expected struct Notebook with 4 elements at line 1 column 2"),
        (VALID + " x", f"trailing characters at line 1 column {len(VALID) + 2}"),
    ],
)
@pytest.mark.parametrize("format", ["markdown", "HTML"])
def test_parse_failures_through_both_functions(qc, write_file, content, message, format):
    path = write_file(content.encode())
    for convert, source in [(qc.convert_notebook, path), (qc.convert_notebook_from_json, content)]:
        with pytest.raises(ValueError) as caught:
            convert(source, format, None)
        assert caught.value.args == (PARSE + message,)


@pytest.mark.parametrize(
    "bundle",
    [
        '{"a":"\\udc00"}',
        '{"a":["\\ud800x"]}',
        '{"\\q":1}',
        '{"a":1e999}',
        '{"a":' + "[" * 130 + "]" * 130 + "}",
        '{"a":[1,]}',
        '[1, "x"]',
    ],
)
@pytest.mark.parametrize("place", ["data", "output metadata", "cell metadata", "notebook metadata"])
def test_bundle_failures_alike_in_every_format(qc, bundle, place):
    # Each format drops some of these maps unread (strip the code outputs,
    # the others all metadata) yet fails on them exactly as the others do.
    notebook_metadata = bundle if place == "notebook metadata" else "{}"
    cell_metadata = bundle if place == "cell metadata" else "{}"
    output = (
        '{"output_type":"display_data","metadata":' + (bundle if place == "output metadata" else "{}")
        + ',"data":' + (bundle if place == "data" else "{}") + "}"
    )
    text = (
        '{"nbformat":4,"nbformat_minor":5,"metadata":' + notebook_metadata + ',"cells":[{"cell_type":"code",'
        '"source":"","metadata":' + cell_metadata + ',"outputs":[' + output + "]}]}"
    )
    messages = set()
    for format in FORMATS:
        with pytest.raises(ValueError) as caught:
            qc.convert_notebook_from_json(text, format, None)
        messages.add(caught.value.args)
    assert len(messages) == 1
    assert messages.pop()[0].startswith(PARSE)


@pytest.mark.parametrize("format", ["HTML", "html ", " html", "", "Strip", "md", "py", "json", "html\0"])
def test_unknown_format_words(qc, write_file, format):
    path = write_file(VALID.encode())
    for convert, source in [(qc.convert_notebook, path), (qc.convert_notebook_from_json, VALID)]:
        with pytest.raises(ValueError) as caught:
            convert(source, format, None)
        assert caught.value.args == ("Unknown format: " + format,)


@pytest.mark.parametrize("format", FORMATS)
@pytest.mark.parametrize("title", [None, "", "A title"])
@pytest.mark.parametrize("path", [EXAMPLE, *SAMPLES], ids=lambda p: p.name)
def test_both_functions_agree(qc, path, format, title):
    from_file = qc.convert_notebook(str(path), format, title)
    from_text = qc.convert_notebook_from_json(path.read_text(encoding="utf-8"), format, title)
    assert type(from_file) is str
    assert from_file == from_text


@pytest.mark.parametrize("title", [None, "", "A title", 5])
def test_title_is_checked_but_ignored_outside_html(qc, title):
    formats = ["markdown", "python", "strip"]
    if title == 5:
        for format in formats:
            with pytest.raises(TypeError):
                qc.convert_notebook_from_json(VALID, format, title)
    else:
        for format in formats:
            assert qc.convert_notebook_from_json(VALID, format, title) == qc.convert_notebook_from_json(
                VALID, format, None
            )


def test_strip_has_no_final_line_feed(qc):
    stripped = qc.convert_notebook(str(EXAMPLE), "strip", None)
    assert stripped.startswith("{\n  ") and stripped.endswith("}")




# A signal that interrupts the open or a read of a file is not a refusal by
# the system: the handlers run and the reading goes on, unless a handler
# raises, and then its exception reaches the caller at once. A FIFO whose
# writer (another process: the call holds the interpreter lock) is slow keeps
# the call waiting in open() or read() when the signal comes.
@pytest.mark.parametrize(
    "handler, stalled_in, outcome",
    [
        ("lambda *_: hits.append(1)", "open", "converted 1"),
        ("lambda *_: hits.append(1)", "read", "converted 1"),
        ("signal.default_int_handler", "open", "KeyboardInterrupt 0"),
        ("signal.default_int_handler", "read", "KeyboardInterrupt 0"),
    ],
)
def test_signal_while_reading_a_fifo(tmp_path, handler, stalled_in, outcome):
    fifo = str(tmp_path / "slow.ipynb")
    os.mkfifo(fifo)
    result = run_python(
        f"""
        import os, select, signal, time
        import quorvelin_convert as qc

        hits = []
        signal.signal(signal.SIGUSR1, {handler})
        text = {VALID!r}.encode()
        call_ended, told = os.pipe()
        parent = os.getpid()

        def interrupt():
            time.sleep(0.3)
            os.kill(parent, signal.SIGUSR1)
            time.sleep(0.3)

        if os.fork() == 0:
            try:
                if {stalled_in!r} == "open":
                    interrupt()
                    fd = os.open({fifo!r}, os.O_WRONLY | os.O_NONBLOCK)  # fails once no reader waits
                    os.write(fd, text)
                else:
                    fd = os.open({fifo!r}, os.O_WRONLY)
                    os.write(fd, text[:10])
                    interrupt()
                    if {outcome!r}.startswith("converted"):
                        os.write(fd, text[10:])
                    else:  # the rest never comes: only the handler ends the call
                        select.select([call_ended], [], [], 10)
            finally:
                os._exit(0)
        try:
            qc.convert_notebook({fifo!r}, "markdown", None)
            print("converted", len(hits))
        except BaseException as error:
            print(type(error).__name__, len(hits))
        os.write(told, b"x")
        os.wait()
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [outcome]


# Characters of each width of str, placed on and around the 16-byte steps
# in which results are turned into str.
WIDE_CHARACTERS = ["\x80", "é", "ÿ", "Ā", "—", "\uffff", "😀", "\U0010ffff"]
RESULT_TEXTS = [
    *("a" * lead + ch + "b" * tail for ch in WIDE_CHARACTERS for lead in (0, 1, 14, 15, 16, 17, 31) for tail in (0, 1, 16)),
    "é" * 40,
    "—" * 33 + "x" * 17,
    "😀" * 20 + "é",
    "plain ASCII" * 7,
    "é—😀" * 9,
    # Long enough to be written straight into the storage of its str.
    *("x" * (65_536 + d) + ch for d in (-40, -1, 0, 1) for ch in ("", "é", "😀")),
    "é" + "x" * 200_000,
    "x" * 100_000 + "—" + "x" * 100_000,
]


@pytest.mark.parametrize("text", RESULT_TEXTS, ids=lambda t: f"{len(t)}:{ord(max(t)):x}")
def test_results_keep_every_character(qc, text):
    import json

    cell = {"cell_type": "markdown", "metadata": {}, "source": text}
    notebook = json.dumps({"cells": [cell], "metadata": {}, "nbformat": 4, "nbformat_minor": 5})
    markdown = qc.convert_notebook_from_json(notebook, "markdown", None)
    stripped = qc.convert_notebook_from_json(notebook, "strip", None)
    script = qc.convert_notebook_from_json(notebook, "python", None)
    # Equality also holds the str to its narrowest form: a wider one with
    # the same characters compares unequal.
    assert markdown == text
    assert script[script.index("\n\n") + 2:] == "# " + text
    # The same text as an output's fragment of the page.
    output = {"output_type": "stream", "name": "stdout", "text": text}
    cell = {"cell_type": "code", "metadata": {}, "source": "", "execution_count": None, "outputs": [output]}
    notebook = json.dumps({"cells": [cell], "metadata": {}, "nbformat": 4, "nbformat_minor": 5})
    page = qc.convert_notebook_from_json(notebook, "html", None)
    assert f'<pre class="stream-stdout">{text}</pre>' in page
    assert json.loads(stripped)["cells"][0]["source"] == text
