"""Policy dictionaries, save_policy and load_policy from Python."""
import math
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ferolin

SCORING = ["max_prob", "score_gap", "margin", "entropy", "score_ratio", "top_k_gap",
           "effective_k", "candidate_count"]
CALIBRATION = ["empirical", "binomial", "crc"]
SCORING_VARIANTS = ("expected one of `max_prob`, `score_gap`, `margin`, `entropy`, "
                    "`score_ratio`, `top_k_gap`, `effective_k`, `candidate_count`")
POLICY = {"version": "0.1.0", "scoring_method": "max_prob", "threshold": 0.8,
          "target_error_rate": 0.05, "calibration_method": "empirical",
          "confidence_level": None, "created_by": "ferolin"}
WRITTEN = """{
  "version": "0.1.0",
  "scoring_method": "max_prob",
  "threshold": 0.8,
  "target_error_rate": 0.05,
  "calibration_method": "empirical",
  "confidence_level": null,
  "created_by": "ferolin"
}"""


def test_written_layout_is_exact(tmp_path):
    path = tmp_path / "p.json"
    assert ferolin.save_policy(str(path), POLICY) is None
    assert path.read_bytes() == WRITTEN.encode()
    assert ferolin.load_policy(str(path)) == POLICY


def test_save_ignores_created_by_and_group_keys(tmp_path):
    path = tmp_path / "p.json"
    ferolin.save_policy(str(path), dict(POLICY, created_by="me", group_col="batch",
                                        group_thresholds={"b1": 0.1}, extra=1))
    assert path.read_bytes() == WRITTEN.encode()


@pytest.mark.parametrize(
    "change, exception, message",
    [
        ({"scoring_method": None}, KeyError, "missing 'scoring_method'"),
        ({"calibration_method": None}, KeyError, "missing 'calibration_method'"),
        ({"version": None}, KeyError, "missing 'version'"),
        ({"threshold": None}, KeyError, "missing 'threshold'"),
        ({"target_error_rate": None}, KeyError, "missing 'target_error_rate'"),
        ({"scoring_method": "max-prob"}, RuntimeError,
         "unknown variant `max-prob`, " + SCORING_VARIANTS),
        ({"scoring_method": "topk_gap"}, RuntimeError,
         "unknown variant `topk_gap`, " + SCORING_VARIANTS),
        ({"calibration_method": "Empirical"}, RuntimeError,
         "unknown variant `Empirical`, expected one of `empirical`, `binomial`, `crc`"),
        ({"scoring_method": 3}, TypeError, "'int' object is not an instance of 'str'"),
        ({"version": b"0.1.0"}, TypeError, "'bytes' object is not an instance of 'str'"),
        ({"calibration_method": None, "threshold": None}, KeyError,
         "missing 'calibration_method'"),
        ({"version": None, "threshold": "x"}, KeyError, "missing 'version'"),
    ],
)
def test_dict_errors_come_before_the_file_is_touched(tmp_path, change, exception, message):
    policy = dict(POLICY)
    for key, value in change.items():
        if value is None:
            del policy[key]
        else:
            policy[key] = value
    path = tmp_path / "p.json"
    for call in (lambda: ferolin.save_policy(str(path), policy),
                 lambda: ferolin.apply_policy(str(tmp_path / "missing.csv"), policy)):
        with pytest.raises(exception) as caught:
            call()
        assert caught.value.args[0] == message
        assert not getattr(caught.value, "__notes__", None)
    assert not path.exists()


@pytest.mark.parametrize("key, value", [("threshold", None), ("threshold", "0.5"),
                                        ("target_error_rate", []), ("confidence_level", "x")])
def test_float_values_raise_interpreters_type_error(tmp_path, key, value):
    with pytest.raises(TypeError) as caught:
        ferolin.save_policy(str(tmp_path / "p.json"), dict(POLICY, **{key: value}))
    assert not getattr(caught.value, "__notes__", None)


def test_conversions_and_subclass_lookups(tmp_path):
    class Strict(dict):
        def __getitem__(self, key):
            raise AssertionError("must read the storage directly")

    class Name(str):
        pass

    path = tmp_path / "p.json"
    ferolin.save_policy(str(path), Strict(POLICY, threshold=1, target_error_rate=True,
                                          scoring_method=Name("top_k_gap"),
                                          confidence_level=0))
    loaded = ferolin.load_policy(str(path))
    assert loaded["threshold"] == 1.0 and type(loaded["threshold"]) is float
    assert loaded["target_error_rate"] == 1.0
    assert loaded["scoring_method"] == "top_k_gap"
    assert loaded["confidence_level"] == 0.0


def test_missing_confidence_level_is_absent(tmp_path):
    policy = dict(POLICY)
    del policy["confidence_level"]
    ferolin.save_policy(str(tmp_path / "p.json"), policy)
    assert ferolin.load_policy(str(tmp_path / "p.json"))["confidence_level"] is None


@pytest.mark.parametrize(
    "content, message",
    [
        ('{"version": "0.2.0", "scoring_method": "margin", "threshold": 1, '
         '"target_error_rate": 0.1, "calibration_method": "crc", "created_by": "x"}',
         "Unknown policy version: 0.2.0"),
        ('{"version": "0.1", "scoring_method": "margin", "threshold": 1, '
         '"target_error_rate": 0.1, "calibration_method": "crc", "created_by": "x"}',
         "Unknown policy version: 0.1"),
    ],
)
def test_version_is_checked_on_reading(write_file, content, message):
    with pytest.raises(RuntimeError) as caught:
        ferolin.load_policy(write_file("p.json", content))
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "content, starts",
    [
        ('{"version": "0.1.0"}', "JSON error: missing field `scoring_method`"),
        ('{"version": "0.1.0", "scoring_method": "margin", "threshold": true, '
         '"target_error_rate": 0.1, "calibration_method": "crc", "created_by": "x"}',
         "JSON error: invalid type: boolean `true`, expected f64 at line 1 column "),
        ('{"version": "0.1.0", "scoring_method": "maxprob"}',
         "JSON error: unknown variant `maxprob`, " + SCORING_VARIANTS + " at line 1 column "),
        ("[1, 2] 3", "JSON error: "),
        ("5", "JSON error: invalid type: integer `5`, expected struct PolicyFile at line 1 column "),
        ("", "JSON error: "),
        ("\0", "JSON error: "),
    ],
)
def test_malformed_files(write_file, content, starts):
    with pytest.raises(RuntimeError) as caught:
        ferolin.load_policy(write_file("p.json", content))
    assert str(caught.value).startswith(starts)
    assert " at line " in str(caught.value)


def test_group_fields_are_read_but_not_shown(write_file):
    loaded = ferolin.load_policy(write_file("p.json", """{"created_by": "other",
      "group_thresholds": {"b1": 0.7, "b1": 0.9}, "group_col": "batch",
      "calibration_method": "binomial", "confidence_level": 0.95, "comment": [1, {"a": 2}],
      "threshold": 1e-6, "target_error_rate": 0.05, "scoring_method": {"margin": null},
      "version": "0.1.0", "comment": null}"""))
    assert loaded == {"version": "0.1.0", "scoring_method": "margin", "threshold": 1e-6,
                      "target_error_rate": 0.05, "calibration_method": "binomial",
                      "confidence_level": 0.95, "created_by": "other"}


def test_non_finite_threshold_is_written_as_null_and_fails_to_load(tmp_path):
    path = str(tmp_path / "p.json")
    ferolin.save_policy(path, dict(POLICY, threshold=math.inf, confidence_level=math.nan))
    assert '"threshold": null' in pathlib.Path(path).read_text()
    with pytest.raises(RuntimeError, match=r"^JSON error: invalid type: null, expected f64"):
        ferolin.load_policy(path)


def test_io_errors(tmp_path):
    missing = "IO error: No such file or directory (os error 2)"
    nul = "IO error: path contains a NUL byte"
    calls = [
        (lambda: ferolin.load_policy(str(tmp_path / "missing.json")), missing),
        (lambda: ferolin.save_policy(str(tmp_path / "no-dir" / "p.json"), POLICY), missing),
        (lambda: ferolin.load_policy(str(tmp_path / "p.json\0.csv")), nul),
        (lambda: ferolin.save_policy(str(tmp_path / "p.json\0.csv"), POLICY), nul),
    ]
    for call, message in calls:
        with pytest.raises(RuntimeError) as caught:
            call()
        assert str(caught.value) == message
    assert list(tmp_path.iterdir()) == []


def test_directory_and_dev_zero_fail_cleanly(tmp_path):
    with pytest.raises(RuntimeError, match=r"^JSON error: "):
        ferolin.load_policy(str(tmp_path))
    with pytest.raises(RuntimeError, match=r"^JSON error: "):
        ferolin.load_policy("/dev/zero")


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs resource limits")
def test_failed_write_leaves_the_old_policy_intact(tmp_path):
    path = tmp_path / "p.json"
    ferolin.save_policy(str(path), POLICY)
    old = path.read_bytes()
    script = textwrap.dedent(f"""
        import resource, signal, ferolin
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (64, 64))
        try:
            ferolin.save_policy({str(path)!r}, {dict(POLICY, version="x" * 500)!r})
        except RuntimeError as error:
            print(error)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            check=True)
    assert result.stdout.startswith("JSON error: ")
    assert path.read_bytes() == old
    assert [p.name for p in tmp_path.iterdir()] == ["p.json"]  # no temporary file left


def test_existing_permissions_are_kept(tmp_path):
    path = tmp_path / "p.json"
    path.write_text("old")
    os.chmod(path, 0o640)
    ferolin.save_policy(str(path), POLICY)
    assert os.stat(path).st_mode & 0o777 == 0o640
    assert path.read_bytes() == WRITTEN.encode()


def test_symbolic_link_is_written_through(tmp_path):
    target = tmp_path / "real.json"
    target.write_text("old")
    link = tmp_path / "link.json"
    link.symlink_to(target)
    ferolin.save_policy(str(link), POLICY)
    assert link.is_symlink()
    assert target.read_bytes() == WRITTEN.encode()


finite = st.floats(allow_nan=False, allow_infinity=False)
policies = st.fixed_dictionaries({
    "version": st.text(st.characters(blacklist_categories=("Cs",))),
    "scoring_method": st.sampled_from(SCORING),
    "threshold": finite,
    "target_error_rate": finite,
    "calibration_method": st.sampled_from(CALIBRATION),
    "confidence_level": st.one_of(st.none(), finite),
    "created_by": st.just("ferolin"),
})


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(policy=policies)
def test_round_trip(tmp_path, policy):
    path = str(tmp_path / "p.json")
    ferolin.save_policy(path, policy)
    if policy["version"] != "0.1.0":
        with pytest.raises(RuntimeError) as caught:
            ferolin.load_policy(path)
        assert str(caught.value) == f"Unknown policy version: {policy['version']}"
        policy = dict(policy, version="0.1.0")
        ferolin.save_policy(path, policy)
    loaded = ferolin.load_policy(path)
    assert list(loaded) == list(POLICY)
    for key in policy:
        if isinstance(policy[key], float):
            assert math.copysign(1, loaded[key]) == math.copysign(1, policy[key])
        assert loaded[key] == policy[key]


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_damaged_files_fail_cleanly_or_load(tmp_path, data):
    path = tmp_path / "p.json"
    ferolin.save_policy(str(path), dict(POLICY, confidence_level=0.95))
    text = bytearray(path.read_bytes())
    if data.draw(st.booleans()):
        text = text[: data.draw(st.integers(0, len(text)))]
    else:
        for _ in range(data.draw(st.integers(1, 4))):
            text[data.draw(st.integers(0, len(text) - 1))] = data.draw(st.integers(0, 255))
    path.write_bytes(bytes(text))
    try:
        loaded = ferolin.load_policy(str(path))
    except RuntimeError as error:
        assert str(error).startswith(("JSON error: ", "Unknown policy version: "))
    else:
        assert list(loaded) == list(POLICY)
