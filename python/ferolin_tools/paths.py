"""Checks of the paths a run reads and writes, made before any work, with
messages that name the path and say what is wrong."""
from __future__ import annotations

import errno
import os
import stat
from typing import Union

PathArg = Union[str, "os.PathLike[str]"]


class PathProblem(Exception):
    """A path that cannot be read or written; the message names it."""


def as_text(path: PathArg) -> str:
    """Returns a path given as str or os.PathLike as str."""
    return os.fsdecode(os.fspath(path))


def _reason(error: OSError) -> str:
    return os.strerror(error.errno).lower() if error.errno else str(error)


def check_readable(path: str, what: str) -> None:
    """Raises PathProblem unless `path` names something that can be read:
    a file, a pipe or FIFO, a device; not a directory."""
    try:
        if os.path.isdir(path):
            raise PathProblem(f"cannot read {what} {path}: it is a directory")
        os.stat(path)
    except OSError as error:
        raise PathProblem(f"cannot read {what} {path}: {_reason(error)}") from error
    if not os.access(path, os.R_OK):
        raise PathProblem(f"cannot read {what} {path}: {os.strerror(errno.EACCES).lower()}")


def check_writable(path: str, what: str) -> None:
    """Raises PathProblem unless a file can be written at `path`: its folder
    exists and is writable, and it is not a directory."""
    if os.path.isdir(path):
        raise PathProblem(f"cannot write {what} {path}: it is a directory")
    if is_special(path):
        if not os.access(path, os.W_OK):
            raise PathProblem(f"cannot write {what} {path}: {os.strerror(errno.EACCES).lower()}")
        return
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise PathProblem(f"cannot write {what} {path}: the folder {folder} does not exist")
    if os.path.exists(path) and not os.access(path, os.W_OK):
        raise PathProblem(f"cannot write {what} {path}: {os.strerror(errno.EACCES).lower()}")
    # New files are written beside the target and renamed over it.
    if not os.access(folder, os.W_OK | os.X_OK):
        raise PathProblem(f"cannot write {what} {path}: the folder {folder} is not writable")


def is_special(path: str) -> bool:
    """Returns True for an existing path that is not a regular file or a
    directory (/dev/stdout, a FIFO): written in place, never replaced."""
    try:
        mode = os.stat(path).st_mode
    except OSError:
        return False
    return not stat.S_ISREG(mode) and not stat.S_ISDIR(mode)
