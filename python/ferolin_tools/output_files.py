"""Output files of the command written by the core's writer, the one that
saves policies: the target is replaced only once complete (a killed run or
a full disk leaves the old file as it was and nothing beside it), keeps
its owner, mode and links, and a new file gets the mode the umask gives.
Pipes, FIFOs and /dev/stdout are written as the output comes."""
from __future__ import annotations

import contextlib
import io
import os
from typing import IO, Any, Iterator, Sequence

from ferolin_tools import _native
from ferolin_tools.paths import PathProblem

# Text is handed to the core in pieces of this size.
_BUFFER_BYTES = 1 << 20


class _CoreOutput(io.RawIOBase):
    """A raw binary stream into an output of the core's writer. Once
    committed or abandoned it takes no more bytes: what a wrapper flushes
    while closing after a failure is dropped."""

    def __init__(self, path: str):
        super().__init__()
        self._path = path
        self._output: _native.OutputFile = self._call(_native.output_open, path)
        self._finished = False

    def _call(self, function: Any, *args: Any) -> Any:
        """Calls the native function; its OSError names the path."""
        try:
            return function(*args)
        except OSError as error:
            self._finished = True
            raise OSError(f"{self._path}: {error}") from None

    def writable(self) -> bool:
        return True

    def write(self, data: "bytes | bytearray | memoryview") -> int:  # type: ignore[override]
        if self._finished:
            return len(data)
        return int(self._call(self._output.write, bytes(data)))

    def commit(self) -> None:
        self._finished = True
        self._call(self._output.commit)

    def abandon(self) -> None:
        if not self._finished:
            self._finished = True
            self._output.abandon()


@contextlib.contextmanager
def output_file(path: str, binary: bool = False) -> Iterator[IO[Any]]:
    """Yields a stream into `path` (text: UTF-8, newlines as written) that
    takes the place of the target only when the block ends without an
    exception; OSError, naming the path, when the file cannot be opened,
    written or put in place."""
    raw = _CoreOutput(path)
    unchecked: Any = raw  # a RawIOBase, though its write() narrows the argument type
    buffered = io.BufferedWriter(unchecked, _BUFFER_BYTES)
    stream: IO[Any] = (buffered if binary else
                  io.TextIOWrapper(buffered, encoding="utf-8", newline=""))
    try:
        yield stream
        stream.flush()
        raw.commit()
    finally:
        raw.abandon()
        stream.close()


def _identity(path: str) -> "tuple[int, int] | None":
    try:
        status = os.stat(path)
    except (OSError, ValueError):
        return None
    return status.st_dev, status.st_ino


def check_distinct(inputs: Sequence[tuple[str, str]], outputs: Sequence[tuple[str, str]]
                   ) -> None:
    """Raises PathProblem when an output (what, path) is the same file as
    an input, or as another output (device and inode, through links):
    writing it would destroy what is read. Streams (pipes, terminals,
    /dev/null) are outputs like any other only when they are regular files."""
    seen: dict[tuple[int, int], tuple[str, str]] = {}
    for what, path in inputs:
        identity = _identity(path)
        if identity is not None:
            seen.setdefault(identity, (what, path))
    for what, path in outputs:
        identity = _identity(path)
        if identity is None or not os.path.isfile(path):
            continue
        if identity in seen:
            other_what, other_path = seen[identity]
            raise PathProblem(f"the {what} {path} is the same file as the {other_what} "
                              f"{other_path}: writing it would destroy it; choose another path")
        seen[identity] = (what, path)
