"""Packed native columns (bytes of doubles, counts or flags) handed to the
caller as numpy arrays sharing their memory, or as lists without numpy."""
from __future__ import annotations

from array import array
from typing import Any, Optional


def numpy_module(wanted: Optional[bool]) -> Any:
    """numpy when wanted (None: when installed), else None."""
    if wanted is False:
        return None
    try:
        import numpy
    except ImportError:
        if wanted:
            raise
        return None
    return numpy


def unpack(packed: "bytearray | memoryview", typecode: str, numpy: Any) -> Any:
    """A packed column as a numpy array sharing its memory, or as a list."""
    if numpy is not None:
        dtype = {"d": numpy.float64, "Q": numpy.uint64, "B": numpy.bool_}[typecode]
        return numpy.frombuffer(packed, dtype=dtype)
    if typecode == "B":
        return [byte == 1 for byte in packed]
    values = array(typecode)
    values.frombytes(bytes(packed))
    return values.tolist()
