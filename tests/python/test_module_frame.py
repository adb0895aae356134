"""The module object, argument binding, conversion rules and their exact messages."""
import ast
import gc
import importlib.util
import inspect
import math
import pathlib
import sys

import pytest

import ferolin

NAMES = ["compute_curve", "aurc", "eaurc", "calibrate", "apply_policy", "load_policy", "save_policy"]
ROW = {"threshold": 0.5, "accepted": 4, "total": 4, "coverage": 1.0, "errors": 1, "risk": 0.25}
STUBS = pathlib.Path(__file__).resolve().parents[2] / "python" / "ferolin-stubs" / "__init__.pyi"


def test_module_shape():
    assert ferolin.__all__ == NAMES
    assert ferolin.__doc__ == ""
    assert [n for n in dir(ferolin) if not n.startswith("_")] == sorted(NAMES)
    for name in NAMES:
        function = getattr(ferolin, name)
        assert function.__module__ == "ferolin"
        assert function.__name__ == name


def test_each_module_object_has_its_own_state():
    spec = importlib.util.find_spec("ferolin")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    assert module is not ferolin and module.__all__ == NAMES
    assert module.aurc([ROW]) == 0.125
    del module
    gc.collect()  # clears and frees the second module's state
    assert ferolin.aurc([ROW]) == 0.125


def stub_functions():
    """The functions of the type stubs shipped with the module, by name."""
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_docstrings_and_signatures_match_the_stubs():
    stubs = stub_functions()
    assert list(stubs) == NAMES
    for name, stub in stubs.items():
        function = getattr(ferolin, name)
        assert function.__doc__ == ast.get_docstring(stub), name
        parameters = inspect.signature(function).parameters.values()
        assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in parameters), name
        assert [p.name for p in parameters] == [a.arg for a in stub.args.args], name
        defaults = [ast.literal_eval(d) for d in stub.args.defaults]
        required = [inspect.Parameter.empty] * (len(stub.args.args) - len(defaults))
        assert [p.default for p in parameters] == required + defaults, name


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: ferolin.aurc([], []), "aurc() takes 1 positional arguments but 2 were given"),
        (lambda: ferolin.eaurc(), "eaurc() missing 1 required positional argument: 'curve'"),
        (lambda: ferolin.compute_curve(),
         "compute_curve() missing 2 required positional arguments: 'csv_path' and 'score'"),
        (lambda: ferolin.calibrate(),
         "calibrate() missing 3 required positional arguments: "
         "'csv_path', 'score', and 'error_rate'"),
        (lambda: ferolin.calibrate("a", "b"),
         "calibrate() missing 1 required positional argument: 'error_rate'"),
        (lambda: ferolin.calibrate(score="b"),
         "calibrate() missing 2 required positional arguments: 'csv_path' and 'error_rate'"),
        (lambda: ferolin.calibrate(1, 2, 3, 4, 5, 6),
         "calibrate() takes from 3 to 5 positional arguments but 6 were given"),
        (lambda: ferolin.load_policy("a", "b"),
         "load_policy() takes 1 positional arguments but 2 were given"),
        (lambda: ferolin.save_policy("a", {}, 3),
         "save_policy() takes 2 positional arguments but 3 were given"),
        (lambda: ferolin.aurc([], curves=[]), "aurc() got an unexpected keyword argument 'curves'"),
        (lambda: ferolin.aurc([], curve=[]), "aurc() got multiple values for argument 'curve'"),
        (lambda: ferolin.apply_policy("x", {}, csv_path="y"),
         "apply_policy() got multiple values for argument 'csv_path'"),
        (lambda: ferolin.calibrate("x", "y", 0.1, confidence=0.9),
         "calibrate() got an unexpected keyword argument 'confidence'"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message
    assert not getattr(caught.value, "__notes__", None)


def test_every_parameter_by_keyword():
    assert ferolin.aurc(curve=[ROW]) == ferolin.aurc([ROW]) == 0.125


def notes_of(error):
    return getattr(error, "__notes__", [])


@pytest.mark.parametrize(
    "call, exception, message, note",
    [
        (lambda: ferolin.aurc((ROW,)), TypeError, "'tuple' object is not an instance of 'list'",
         "while processing 'curve'"),
        (lambda: ferolin.aurc(None), TypeError, "'None' is not an instance of 'list'",
         "while processing 'curve'"),
        (lambda: ferolin.load_policy(b"p.json"), TypeError,
         "'bytes' object is not an instance of 'str'", "while processing 'path'"),
        (lambda: ferolin.save_policy("p.json", []), TypeError,
         "'list' object is not an instance of 'dict'", "while processing 'policy_dict'"),
        (lambda: ferolin.apply_policy("t.csv", None), TypeError,
         "'None' is not an instance of 'dict'", "while processing 'policy_dict'"),
        (lambda: ferolin.calibrate("t.csv", "margin", 0.05, None), TypeError,
         "'None' is not an instance of 'str'", "while processing 'method'"),
        (lambda: ferolin.compute_curve("t.csv", 3), TypeError,
         "'int' object is not an instance of 'str'", "while processing 'score'"),
    ],
)
def test_parameter_type_errors_carry_a_note(call, exception, message, note):
    with pytest.raises(exception) as caught:
        call()
    assert str(caught.value) == message
    if sys.version_info >= (3, 11):
        assert notes_of(caught.value) == [note]


@pytest.mark.parametrize("bad", [None, "0.05", [0.05]])
def test_float_parameter_failures_keep_the_interpreters_exception(bad, tmp_path):
    with pytest.raises(TypeError) as caught:
        ferolin.calibrate(str(tmp_path / "missing.csv"), "margin", bad)
    if sys.version_info >= (3, 11):
        assert notes_of(caught.value) == ["while processing 'error_rate'"]


def test_lone_surrogate_text_raises_unicode_error_with_note():
    with pytest.raises(UnicodeEncodeError) as caught:
        ferolin.load_policy("\udc80.json")
    if sys.version_info >= (3, 11):
        assert notes_of(caught.value) == ["while processing 'path'"]


def test_conversion_order_reports_first_bad_parameter():
    with pytest.raises(TypeError) as caught:
        ferolin.calibrate(1, 2, "x", None, "y")
    if sys.version_info >= (3, 11):
        assert notes_of(caught.value) == ["while processing 'csv_path'"]


def test_note_is_skipped_when_add_note_fails():
    class NoNotes(TypeError):
        def add_note(self, note):
            raise RuntimeError("refused")

    class Weird:
        def __float__(self):
            raise NoNotes("bad float")

    with pytest.raises(NoNotes) as caught:
        ferolin.calibrate("t.csv", "margin", Weird())
    assert str(caught.value) == "bad float"
    assert notes_of(caught.value) == []


def test_float_parameter_accepts_int_bool_and_dunder_methods(tmp_path):
    class Floaty:
        def __float__(self):
            return 0.1

    class Indexy:
        def __index__(self):
            return 0

    missing = str(tmp_path / "missing.csv")
    for value in (0, True, Floaty(), Indexy(), 0.5):
        # The argument converts; the missing table is what fails.
        with pytest.raises((RuntimeError, NotImplementedError)):
            ferolin.calibrate(missing, "margin", value)


def test_nan_is_returned_not_raised():
    assert math.isnan(ferolin.aurc([]))
    assert math.isnan(ferolin.eaurc([]))


def test_only_the_init_function_is_exported():
    import shutil
    import subprocess

    if shutil.which("nm") is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(["nm", "-D", "--defined-only", ferolin.__file__],
                             capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_ferolin"]
