"""Policy files with what the companion adds to them: the group fields
(which ferolin.load_policy reads but does not return) and a record of what
the threshold rests on, stored under an extra key that every reader of
policy files skips. Both go through the core's reader and writer (the
private module), so a file is checked as ferolin.load_policy checks it and
replaced whole or not at all as ferolin.save_policy replaces it."""
from __future__ import annotations

import json
from typing import Any, Mapping, Optional

from ferolin_tools import _native
from ferolin_tools.output import json_safe

#: The extra key of a policy file that records what its threshold rests on.
PROVENANCE_KEY = "calibration"


def read(path: str) -> dict[str, Any]:
    """The policy dict of a policy file, as ferolin.load_policy returns it,
    with "group_col" and "group_thresholds" (None where absent). Raises
    RuntimeError as ferolin.load_policy does."""
    return _native.read_policy(path)


def _extra(provenance: Optional[Mapping[str, Any]]) -> Optional[dict[str, str]]:
    if provenance is None:
        return None
    return {PROVENANCE_KEY: json.dumps(json_safe(dict(provenance)), allow_nan=False)}


def write(path: str, policy: Mapping[str, Any],
          provenance: Optional[Mapping[str, Any]] = None) -> None:
    """Writes the policy (with its group fields, when it has them) and the
    provenance record, replacing a file whole as ferolin.save_policy does."""
    _native.write_policy(path, dict(policy), _extra(provenance))


def text(policy: Mapping[str, Any], provenance: Optional[Mapping[str, Any]] = None) -> str:
    """The text write() writes, for standard output and pipes."""
    return _native.policy_text(dict(policy), _extra(provenance))
