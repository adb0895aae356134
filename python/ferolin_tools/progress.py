"""Progress of a long read on standard error: bytes, rows and speed."""
from __future__ import annotations

import sys
import time
from typing import IO, Optional

# Nothing is shown for reads shorter than this: small tables stay quiet.
_FIRST_AFTER = 0.5
_EVERY_LIVE = 0.2  # seconds between updates of a terminal line
_EVERY_LOGGED = 5.0  # seconds between lines when standard error is not a terminal


def _size(count: float) -> str:
    for unit in ("B", "kB", "MB", "GB"):
        if count < 1000 or unit == "GB":
            return f"{count:.0f} {unit}" if unit == "B" else f"{count:.1f} {unit}"
        count /= 1000
    return ""


class ProgressDisplay:
    """A progress callback for reads: shows how far a read of `path` has
    come, on one line rewritten in place on a terminal, or as a line every
    few seconds elsewhere (for --progress into a log)."""

    def __init__(self, path: str, total_bytes: Optional[int], stream: IO[str] = sys.stderr):
        self.path = path
        self.total = total_bytes
        self.stream = stream
        self.live = stream.isatty()
        self.start = time.monotonic()
        self.last = self.start
        self.shown = False

    def text(self, read: int, rows: int, elapsed: float) -> str:
        done = _size(read)
        if self.total:
            done += f" of {_size(self.total)} ({read / self.total:.0%})"
        rate = read / elapsed / 1e6 if elapsed > 0 else 0.0
        return f"{self.path}: {done}, {rows:,} rows, {rate:.0f} MB/s"

    def __call__(self, read: int, rows: int) -> None:
        now = time.monotonic()
        every = _EVERY_LIVE if self.live else _EVERY_LOGGED
        if now - self.start < _FIRST_AFTER or now - self.last < every:
            return
        self.last = now
        self.shown = True
        line = self.text(read, rows, now - self.start)
        self.stream.write(f"\r{line}\x1b[K" if self.live else line + "\n")
        self.stream.flush()

    def close(self) -> None:
        """Clears the terminal line, so that the report takes its place."""
        if self.shown and self.live:
            self.stream.write("\r\x1b[K")
            self.stream.flush()


class StepDisplay(ProgressDisplay):
    """Progress of counted work (bootstrap replicates) on standard error:
    '<what>: 340 of 1,000 replicates', shown as a read's progress is."""

    def __init__(self, what: str, stream: IO[str] = sys.stderr):
        super().__init__(what, None, stream)

    def text(self, done: int, total: int, elapsed: float) -> str:
        return f"{self.path}: {done:,} of {total:,} replicates"
