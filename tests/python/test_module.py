from importlib.metadata import version as distribution_version

import pytest

from conftest import run_python

ALL = ["convert_notebook", "convert_notebook_from_json", "version", "__version__"]


def test_module_attributes(qc):
    assert qc.__name__ == "quorvelin_convert"
    assert qc.__doc__ == ""
    assert qc.__all__ == ALL
    # The wheel and the module take the version from the same line of the
    # build by different roads.
    assert qc.__version__ == qc.version() == distribution_version("quorvelin-convert") == "0.1.0"
    for name in ALL[:3]:
        function = getattr(qc, name)
        assert type(function).__name__ == "builtin_function_or_method"
        assert function.__self__ is qc
        assert function.__module__ == "quorvelin_convert"


CONVERT_NOTEBOOK_DOC = """Parse and convert a Jupyter notebook.

# Arguments
* `notebook_path` - Path to .ipynb file as string
* `format` - Output format: "html", "markdown", or "python"
* `title` - Optional title for HTML output

# Example
```python
from quorvelin_convert import convert_notebook

html = convert_notebook("notebook.ipynb", "html")
markdown = convert_notebook("notebook.ipynb", "markdown")
python = convert_notebook("notebook.ipynb", "python")
```"""

CONVERT_FROM_JSON_DOC = """Parse and convert a notebook from JSON string.

# Arguments
* `notebook_json` - JSON string of notebook content
* `format` - Output format: "html", "markdown", "python", or "strip"
* `title` - Optional title for HTML output"""


@pytest.mark.parametrize(
    "name, signature, doc",
    [
        ("convert_notebook", "(notebook_path, format, title)", CONVERT_NOTEBOOK_DOC),
        ("convert_notebook_from_json", "(notebook_json, format, title)", CONVERT_FROM_JSON_DOC),
        ("version", "()", None),
    ],
)
def test_docs_and_signatures(qc, name, signature, doc):
    function = getattr(qc, name)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc


def test_version_takes_no_arguments(qc):
    with pytest.raises(TypeError):
        qc.version(1)


def test_reimport_gives_the_same_module():
    result = run_python(
        """
        import importlib, sys
        import quorvelin_convert as first
        del first.version
        del sys.modules["quorvelin_convert"]
        second = importlib.import_module("quorvelin_convert")
        print(second is first, hasattr(second, "version"), second.__all__)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == f"True False {ALL}"


def test_second_interpreter_is_refused():
    result = run_python(
        """
        import os
        import quorvelin_convert
        code = '''if True:
            import os
            try:
                import quorvelin_convert
            except ImportError as error:
                os.write(1, ("ImportError: " + str(error)).encode())
            else:
                os.write(1, b"imported")
        '''
        try:
            import _testcapi
            _testcapi.run_in_subinterp(code)
        except ImportError:
            import _xxsubinterpreters as interpreters
            interpreters.run_string(interpreters.create(), code)
        os.write(1, b"\\n" + quorvelin_convert.version().encode())
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "ImportError: PyO3 modules do not yet support subinterpreters, see "
        "https://github.com/PyO3/pyo3/issues/576",
        "0.1.0",
    ]


def test_panic_exception_type_made_on_first_need():
    # Taking an exception from the interpreter (here the encoding error of a
    # lone surrogate) makes the fault type; importing does not.
    result = run_python(
        """
        import quorvelin_convert as qc

        def panic_types():
            return [t for t in BaseException.__subclasses__() if t.__name__ == "PanicException"]

        before = len(panic_types())
        for _ in range(2):
            try:
                qc.convert_notebook_from_json("\\udc80", "html", None)
            except UnicodeEncodeError:
                pass
        [panic] = panic_types()
        error = panic("message")
        print(before, panic.__module__, panic.__qualname__, panic.__bases__ == (BaseException,),
              issubclass(panic, Exception), panic.__doc__.startswith("The exception raised when the native code "),
              error.args)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split(maxsplit=6) == [
        "0", "pyo3_runtime", "PanicException", "True", "False", "True", "('message',)\n"
    ]
