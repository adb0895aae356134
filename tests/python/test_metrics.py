"""aurc and eaurc from Python: curve dictionaries in, floats out."""
import math
from collections import OrderedDict

import pytest

import ferolin


def row(coverage, risk, accepted=0, total=0, errors=0, threshold=0.0):
    return {"threshold": threshold, "accepted": accepted, "total": total,
            "coverage": coverage, "errors": errors, "risk": risk}


FOUR_ROWS = [row(0.2, 0.0), row(0.6, 0.3333333333333333), row(0.8, 0.25), row(1.0, 0.4, 5, 5, 2)]


@pytest.mark.parametrize(
    "curve, aurc, eaurc",
    [
        ([], math.nan, math.nan),
        ([row(1.0, 0.25, 4, 4, 1)], 0.125, 0.09076155433883568),
        ([row(1.0, 0.0, 4, 4, 0)], 0.0, math.nan),
        (FOUR_ROWS, 0.19, 0.09649537425959442),
        (FOUR_ROWS[:2] + [row(0.8, 0.25, 4, 5, 1)], 0.125, math.nan),
        ([row(0.5, 0.0), row(1.0, 0.5, 2, 2, 1)], 0.125, -0.028426409720027357),
        ([row(0.5, 0.5), row(1.0, None, 4, 4, 2)], 0.25, 0.09657359027997264),
        ([row(1.0, 1.0, 2, 2, 3)], 0.5, math.nan),
        ([row(math.nan, 0.5, 2, 2, 1)], math.nan, math.nan),
    ],
)
def test_examples_to_the_bit(curve, aurc, eaurc):
    for function, expected in ((ferolin.aurc, aurc), (ferolin.eaurc, eaurc)):
        result = function(curve)
        assert type(result) is float
        if math.isnan(expected):
            assert math.isnan(result)
        else:
            assert result == expected


class Sub(dict):
    def __getitem__(self, key):
        raise AssertionError("__getitem__ must not be consulted")

    def __missing__(self, key):
        raise AssertionError("__missing__ must not be consulted")


class MyList(list):
    pass


def test_accepted_containers_and_conversions():
    class Floaty:
        def __float__(self):
            return 0.25

    class Indexy:
        def __index__(self):
            return 4

    curve = MyList([Sub(threshold=1, accepted=Indexy(), total=True + 3, coverage=1,
                        errors=True, risk=Floaty(), extra="ignored")])
    assert ferolin.aurc(curve) == 0.125
    assert ferolin.eaurc(curve) == 0.09076155433883568
    ordered = OrderedDict(reversed(list(row(1.0, 0.25, 4, 4, 1).items())))
    assert ferolin.aurc([ordered]) == 0.125


@pytest.mark.parametrize("missing", ["threshold", "accepted", "total", "coverage", "errors", "risk"])
def test_missing_key_raises_key_error_without_note(missing):
    element = row(1.0, 0.25, 4, 4, 1)
    del element[missing]
    with pytest.raises(KeyError) as caught:
        ferolin.aurc([row(1.0, 0.25, 4, 4, 1), element])
    assert caught.value.args[0] == f"missing '{missing}'"
    assert not getattr(caught.value, "__notes__", None)


@pytest.mark.parametrize(
    "key, value, exception",
    [
        ("accepted", -1, OverflowError),
        ("total", 2**64, OverflowError),
        ("accepted", 2.0, TypeError),
        ("errors", "1", TypeError),
        ("threshold", "0.5", TypeError),
        ("coverage", None, TypeError),
        ("risk", "0.25", TypeError),
    ],
)
def test_bad_values_raise_the_interpreters_exception_without_note(key, value, exception):
    element = row(1.0, 0.25, 4, 4, 1)
    element[key] = value
    with pytest.raises(exception) as caught:
        ferolin.eaurc([element])
    assert not getattr(caught.value, "__notes__", None)


def test_unsigned_limits():
    top = 2**64 - 1
    assert math.isnan(ferolin.eaurc([row(1.0, 0.5, top, top, top)]))
    assert ferolin.eaurc([row(1.0, 0.5, 2, 2, 1)]) == 0.25 - (math.log(0.5) * 0.5 + 0.5)


def test_bad_element_type_has_no_note():
    with pytest.raises(TypeError) as caught:
        ferolin.aurc([1])
    assert str(caught.value) == "'int' object is not an instance of 'dict'"
    assert not getattr(caught.value, "__notes__", None)


def test_missing_key_stops_before_later_keys_are_read():
    # "total" is missing and "coverage" is bad: the KeyError comes first.
    element = {"threshold": 0.5, "accepted": 1, "coverage": "bad", "errors": 0, "risk": 0.0}
    with pytest.raises(KeyError) as caught:
        ferolin.aurc([element])
    assert caught.value.args[0] == "missing 'total'"


def test_exception_raised_by_a_stored_keys_eq_is_passed_on():
    class Key:
        def __hash__(self):
            return hash("threshold")

        def __eq__(self, other):
            raise ZeroDivisionError("from __eq__")

    with pytest.raises(ZeroDivisionError):
        ferolin.aurc([{Key(): 1}])


def test_list_mutated_during_conversion_does_not_crash():
    curve = []

    class Key:
        def __hash__(self):
            return hash("threshold")

        def __eq__(self, other):
            curve.clear()
            return False

    element = {Key(): 0, **row(1.0, 0.25, 4, 4, 1)}
    curve.extend([element, row(1.0, 0.25, 4, 4, 1), row(1.0, 0.25, 4, 4, 1)])
    # The list empties while its first element is read: the walk stops there.
    assert ferolin.aurc(curve) == 0.125
