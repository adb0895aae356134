"""A plain implementation of the described arithmetic, for property tests.

It works on full candidate lists with a stable sort by rank, with none of the
module's shortcuts (per-query summaries, streaming), so agreement with the
module checks those shortcuts.
"""
import math
import struct

NAN = float("nan")


def top_candidate(candidates):
    best = candidates[0]
    for candidate in candidates[1:]:
        if candidate["rank"] < best["rank"]:
            best = candidate
    return best


def entropy_sum(candidates):
    """H over all probabilities in list order, or None if one is missing."""
    h = -0.0
    for candidate in candidates:
        p = candidate["probability"]
        if p is None:
            return None
        if p == 0.0:
            h += 0.0
        else:
            h += -p * log(p)
    return h


def log(p):
    if math.isnan(p) or p < 0:
        return NAN
    if math.isinf(p):
        return math.inf
    return math.log(p)


def finite_or_none(value):
    return value if math.isfinite(value) else None


def confidence(candidates, method):
    n = len(candidates)
    if method == "max_prob":
        p = top_candidate(candidates)["probability"]
        return None if p is None or math.isnan(p) else p
    if method == "candidate_count":
        return 1.0 / n
    if method == "entropy":
        if n == 1:
            return 1.0
        h = entropy_sum(candidates)
        if h is None:
            return None
        try:
            return finite_or_none(1.0 - h / math.log(float(n)))
        except (OverflowError, ValueError):
            return None
    if method == "effective_k":
        h = entropy_sum(candidates)
        if h is None or math.isnan(h):
            return None
        try:
            return finite_or_none(math.exp(-h))
        except OverflowError:
            return None
    if n < 2:
        return None
    ordered = sorted(candidates, key=lambda c: c["rank"])  # stable
    c1, c2 = ordered[0], ordered[1]
    if method == "score_gap":
        s1, s2 = c1["score"], c2["score"]
        return None if math.isnan(s1) or math.isnan(s2) else s1 - s2
    if method == "margin":
        p1, p2 = c1["probability"], c2["probability"]
        if p1 is None or p2 is None or math.isnan(p1) or math.isnan(p2):
            return None
        return p1 - p2
    if method == "score_ratio":
        s1, s2 = c1["score"], c2["score"]
        if math.isnan(s1) or math.isnan(s2) or s2 <= 0:
            return None
        try:
            return finite_or_none(s1 / s2)
        except OverflowError:
            return None
    if method == "top_k_gap":
        s1 = c1["score"]
        if math.isnan(s1):
            return None
        m = min(n, 5)
        rest = [c["score"] for c in ordered[1:m]]
        if any(math.isnan(s) for s in rest):
            return None
        total = -0.0
        for s in rest:
            total += s
        return s1 - total / float(m - 1)
    raise ValueError(method)


def total_order_key(value):
    """Sort key for IEEE 754 total order of doubles."""
    bits = struct.unpack("<q", struct.pack("<d", value))[0]
    return bits ^ 0x7FFFFFFFFFFFFFFF if bits < 0 else bits


def group(rows):
    queries = {}
    for row in rows:
        queries.setdefault(row["query_id"], []).append(row)
    return sorted(queries.items(), key=lambda item: item[0].encode("utf-8"))


def curve(rows, method):
    pairs = []
    for _, candidates in group(rows):
        top = top_candidate(candidates)
        if top["is_correct"] is None:
            continue
        c = confidence(candidates, method)
        if c is not None and math.isnan(c):
            c = None  # a present NaN is never accepted
        pairs.append((c, top["is_correct"]))
    n = len(pairs)
    present = sorted((p for p in pairs if p[0] is not None),
                     key=lambda p: total_order_key(p[0]), reverse=True)
    rows_out, i, accepted, errors = [], 0, 0, 0
    while i < len(present):
        t = present[i][0]
        while i < len(present) and present[i][0] == t:
            accepted += 1
            errors += 0 if present[i][1] else 1
            i += 1
        rows_out.append({"threshold": t, "accepted": accepted, "total": n,
                         "coverage": accepted / n, "errors": errors, "risk": errors / accepted})
    return rows_out


def decisions(rows, method, threshold):
    out = []
    for query_id, candidates in group(rows):
        top = top_candidate(candidates)
        c = confidence(candidates, method)
        c = NAN if c is None else c
        out.append({"query_id": query_id, "candidate_id": top["candidate_id"], "confidence": c,
                    "accepted": math.isfinite(c) and c >= threshold})
    return out


def same_float(a, b):
    """Equal bits, or both NaN."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return struct.pack("<d", a) == struct.pack("<d", b)
