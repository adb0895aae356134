"""Writing results as TSV or JSON, with numbers that read back to the same floats."""
import csv
import json
import math

CURVE_COLUMNS = ["threshold", "accepted", "total", "coverage", "errors", "risk"]
DECISION_COLUMNS = ["query_id", "candidate_id", "confidence", "accepted", "threshold", "method"]


def number_text(value):
    """Shortest round-trip text: repr() of a float is exactly that ('nan', 'inf')."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)
    return str(value)


def tsv_writer(stream):
    # excel-tab quotes fields that hold a tab, a quote, CR or LF.
    return csv.writer(stream, dialect="excel-tab", lineterminator="\n")


def write_curve_tsv(stream, curves):
    """curves: list of (score name, curve rows); a score column leads when several."""
    writer = tsv_writer(stream)
    several = len(curves) > 1
    writer.writerow((["score"] if several else []) + CURVE_COLUMNS)
    for score, rows in curves:
        for row in rows:
            cells = [number_text(row[column]) for column in CURVE_COLUMNS]
            writer.writerow(([score] if several else []) + cells)


def json_safe(value):
    """NaN and infinities become null: JSON has no words for them."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {key: json_safe(item) for key, item in value.items()}
    if isinstance(value, list):
        return [json_safe(item) for item in value]
    return value


def write_json(stream, value):
    json.dump(json_safe(value), stream, indent=2, allow_nan=False)
    stream.write("\n")


def write_decisions_tsv(stream, decisions):
    writer = tsv_writer(stream)
    writer.writerow(DECISION_COLUMNS)
    for decision in decisions:
        writer.writerow([number_text(decision[column]) for column in DECISION_COLUMNS])
