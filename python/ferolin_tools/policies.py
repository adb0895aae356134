"""Policy files with what the companion adds to them: the group fields
(which ferolin.load_policy reads but does not return) and a record of what
the threshold rests on, stored under an extra key that every reader of
policy files skips. Both go through the core's reader and writer (the
private module), so a file is checked as ferolin.load_policy checks it and
replaced whole or not at all as ferolin.save_policy replaces it."""
from __future__ import annotations

import json
import math
import os
from collections import Counter
import warnings
from typing import Any, Mapping, Optional

from ferolin_tools import _native, policy_messages, wording
from ferolin_tools.methods import NO_THRESHOLD
from ferolin_tools.output import json_safe

#: The extra key of a policy file that records what its threshold rests on.
PROVENANCE_KEY = "calibration"


def read(path: str) -> dict[str, Any]:
    """The policy dict of a policy file, as ferolin.load_policy returns it,
    with "group_col" and "group_thresholds" (None where absent). Raises
    RuntimeError as ferolin.load_policy does, and for a group label given
    twice (which would silently keep the later threshold); PolicyTypeError
    (a DataError), worded for people, for a value of the wrong JSON type."""
    try:
        policy = _native.read_policy(path)
    except _native.CoreError as error:
        if error.kind != "json_type":
            raise
        raise policy_messages.wrong_type_error(error) from None
    if policy.get("group_thresholds") and os.path.isfile(path):
        _refuse_repeated_labels(path)
    return policy


def _refuse_repeated_labels(path: str) -> None:
    # Every object read as its list of pairs, so that repeats are kept.
    with open(path, "rb") as stream:
        top = json.loads(stream.read(), object_pairs_hook=lambda pairs: pairs)
    for name, value in top if isinstance(top, list) else []:
        if name != "group_thresholds" or not isinstance(value, list):
            continue
        counts = Counter(label for label, _ in value)
        repeated = sorted(label for label, count in counts.items() if count > 1)
        if repeated:
            raise RuntimeError(f"the group label {repeated[0]!r} is given twice in "
                               f"group_thresholds: which threshold is meant cannot be told; "
                               f"keep one")


def _check_storable(policy: Mapping[str, Any]) -> None:
    """ValueError for a threshold JSON cannot hold: a file written with it
    (as null) could not be read back or applied."""
    thresholds = {"threshold": policy.get("threshold")}
    thresholds.update({f"group_thresholds[{label!r}]": value
                       for label, value in (policy.get("group_thresholds") or {}).items()})
    for name, value in thresholds.items():
        if isinstance(value, (int, float)) and not math.isfinite(value):
            raise ValueError(f"the policy's {name} is {value!r}, which a policy file cannot "
                             f"hold; a policy accepts only finite confidences, so no such "
                             f"threshold can be applied")


def _extra(provenance: Optional[Mapping[str, Any]]) -> Optional[dict[str, str]]:
    if provenance is None:
        return None
    return {PROVENANCE_KEY: json.dumps(json_safe(dict(provenance)), allow_nan=False)}


def write(path: str, policy: Mapping[str, Any],
          provenance: Optional[Mapping[str, Any]] = None) -> None:
    """Writes the policy (with its group fields, when it has them) and the
    provenance record, replacing a file whole as ferolin.save_policy does.
    ValueError, with nothing written, for an infinite or NaN threshold."""
    _check_storable(policy)
    _native.write_policy(path, dict(policy), _extra(provenance))


def text(policy: Mapping[str, Any], provenance: Optional[Mapping[str, Any]] = None) -> str:
    """The text write() writes, for standard output and pipes."""
    _check_storable(policy)
    return _native.policy_text(dict(policy), _extra(provenance))


#: The policy's fields that its calibration record repeats, so that a file
#: edited after calibration can be told from the one calibrated.
CALIBRATED_FIELDS = ("scoring_method", "threshold", "target_error_rate", "calibration_method",
                     "confidence_level")


def calibrated_fields(policy: Mapping[str, Any]) -> dict[str, Any]:
    """The fields of `policy` that its calibration record keeps."""
    return {key: policy.get(key) for key in CALIBRATED_FIELDS}


def calibration_record(path: str) -> Optional[dict[str, Any]]:
    """The calibration record of a policy file (read after the core has
    accepted the file), or None when it has none."""
    try:
        with open(path, "rb") as source:
            record = json.load(source).get(PROVENANCE_KEY)
    except (OSError, ValueError, AttributeError):
        return None
    return record if isinstance(record, dict) else None


def _same(a: Any, b: Any) -> bool:
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return bool(a == b)


def edits(policy: Mapping[str, Any], record: Optional[Mapping[str, Any]]) -> list[str]:
    """'threshold 0.01 (calibrated: 0.9229346)' for each field of the policy
    that differs from what its calibration record says was calibrated."""
    if not record:
        return []
    def shown(key: str, value: Any) -> str:
        if key == "threshold" and value == NO_THRESHOLD:
            return "none (rejects every query)"
        return repr(value)

    return [f"{key} {shown(key, policy.get(key))} (calibrated: {shown(key, record[key])})"
            for key in CALIBRATED_FIELDS
            if key in record and not _same(policy.get(key), record[key])]


class EditedPolicyWarning(UserWarning):
    """The policy applied is not the one its calibration record describes:
    its threshold, method or target was changed after calibration."""


def edited_text(name: str, policy: Mapping[str, Any],
                record: Optional[Mapping[str, Any]]) -> Optional[str]:
    """What makes the policy `name` differ from its calibration record, and
    why that matters; None when it has no record or matches it."""
    changed = edits(policy, record)
    if not changed or record is None:
        return None
    return (f"{name} is not the policy its calibration record describes: "
            f"{', '.join(changed)}. The record's figures "
            f"({wording.queries(record.get('accepted', 0), 'accepted labelled')}, "
            f"observed risk {record.get('observed_risk')}) do not hold for this "
            f"policy; calibrate again rather than edit a policy")


def warn_if_edited(path: Optional[str], policy: Mapping[str, Any]) -> None:
    """Warns (EditedPolicyWarning) when a policy to apply differs from its
    calibration record: the record of the file at `path`, or for a policy
    given as a dict (path None) the one it holds under PROVENANCE_KEY."""
    record = calibration_record(path) if path is not None else policy.get(PROVENANCE_KEY)
    text = edited_text(path or "the policy", policy, record if isinstance(record, dict) else None)
    if text is not None:
        warnings.warn(text, EditedPolicyWarning, stacklevel=3)
