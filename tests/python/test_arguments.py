import pathlib

import pytest

from conftest import notebook_text

CN = "convert_notebook"
CJ = "convert_notebook_from_json"
VALID = notebook_text()


class Text(str):
    """A str subclass whose equality lies: only the str flag counts."""

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "function, args, kwargs, message",
    [
        (CN, (), {}, "convert_notebook() missing 3 required positional arguments: "
                     "'notebook_path', 'format', and 'title'"),
        (CJ, ("{}",), {}, "convert_notebook_from_json() missing 2 required positional arguments: "
                          "'format' and 'title'"),
        (CN, ("a.ipynb", "html"), {}, "convert_notebook() missing 1 required positional argument: 'title'"),
        (CJ, (), {"format": "html"}, "convert_notebook_from_json() missing 2 required positional arguments: "
                                     "'notebook_json' and 'title'"),
        (CN, ("a", "b", "c", "d"), {}, "convert_notebook() takes 3 positional arguments but 4 were given"),
        (CJ, ("a", "b", "c", "d", "e"), {"title": None},
         "convert_notebook_from_json() takes 3 positional arguments but 5 were given"),
        (CN, ("a",), {"notebook_path": "b"}, "convert_notebook() got multiple values for argument 'notebook_path'"),
        (CJ, ("a", "b"), {"title": None, "format": "x"},
         "convert_notebook_from_json() got multiple values for argument 'format'"),
        (CN, ("a", "b", None), {"path": 1}, "convert_notebook() got an unexpected keyword argument 'path'"),
        (CJ, (), {"notebook_path": "{}"}, "convert_notebook_from_json() got an unexpected keyword argument "
                                          "'notebook_path'"),
        # The keyword that is wrong is reported before missing parameters.
        (CN, (), {"Title": None}, "convert_notebook() got an unexpected keyword argument 'Title'"),
        (CN, (), {"title\udc80": None}, "convert_notebook() got an unexpected keyword argument "
                                        "'title\ufffd\ufffd\ufffd'"),
        (CN, (1, 2, 3), {}, "argument 'notebook_path': 'int' object cannot be converted to 'PyString'"),
        (CN, (pathlib.Path("a.ipynb"), "html", None), {},
         "argument 'notebook_path': 'PosixPath' object cannot be converted to 'PyString'"),
        (CJ, (b"{}", "html", None), {}, "argument 'notebook_json': 'bytes' object cannot be converted to 'PyString'"),
        (CJ, (VALID, None, None), {}, "argument 'format': 'NoneType' object cannot be converted to 'PyString'"),
        (CJ, (VALID, "markdown", 5), {}, "argument 'title': 'int' object cannot be converted to 'PyString'"),
        (CN, ("/no/such/file", "markdown", 5), {},
         "argument 'title': 'int' object cannot be converted to 'PyString'"),
        (CJ, (VALID, "html", Outer.Inner()), {},
         "argument 'title': 'Outer.Inner' object cannot be converted to 'PyString'"),
    ],
)
def test_binding_errors(qc, function, args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        getattr(qc, function)(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)
    assert caught.value.__cause__ is None


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((VALID, "markdown", None), {}),
        ((), {"title": None, "format": "markdown", "notebook_json": VALID}),
        ((VALID,), {"title": None, "format": "markdown"}),
        ((Text(VALID), Text("markdown"), Text("t")), {}),
    ],
)
def test_keywords_and_subclasses_bind_like_positions(qc, args, kwargs):
    assert qc.convert_notebook_from_json(*args, **kwargs) == qc.convert_notebook_from_json(VALID, "markdown", None)


@pytest.mark.parametrize("position", [0, 1, 2])
@pytest.mark.parametrize("function", [CN, CJ])
def test_lone_surrogate_passes_the_encoding_error_on(qc, function, position):
    args = ["x", "html", "t"]
    args[position] = "bad\udc80"
    with pytest.raises(UnicodeEncodeError) as caught:
        getattr(qc, function)(*args)
    assert "surrogates not allowed" in str(caught.value)
    assert "argument" not in str(caught.value)
