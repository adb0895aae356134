"""Tables that are not CSV text: any object that exports the Arrow C stream
interface (`__arrow_c_stream__`: a polars or pandas DataFrame, a pyarrow
Table or RecordBatchReader, a DuckDB relation), and Parquet and Arrow IPC
files (.parquet; .arrow, .feather, .ipc), which pyarrow (the optional extra
`parquet`) reads as a stream of record batches holding only the columns the
call needs.

The core reads the stream batch by batch without the GIL, converting only
the columns it needs and copying no numeric column; the results are those
of the same table written as CSV, bit for bit.
"""
from __future__ import annotations

import hashlib
import importlib
import os
import threading
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, replace
from typing import Any, Iterable, Mapping, Optional, Sequence

from ferolin_tools import _native, confidence, read_errors
from ferolin_tools.confidence import OwnConfidence
from ferolin_tools.errors import TableError
from ferolin_tools.layout import TableLayout

#: File suffixes read through pyarrow, and the pyarrow.dataset format of each.
FILE_FORMATS = {".parquet": "parquet", ".arrow": "ipc", ".feather": "ipc", ".ipc": "ipc"}
#: What to install for them.
INSTALL_HINT = "pip install 'ferolin[parquet]' (or pip install pyarrow)"

# The known columns that the per-query pass reads; the details (smiles, ...)
# are left in the file.
_READ_COLUMNS = ("query_id", "candidate_id", "rank", "score", "probability", "is_correct")
# Record batches read ahead of the core: memory stays bounded by a few batches
# and the row group being decoded.
_BATCH_ROWS = 1 << 17
_BATCH_READAHEAD = 2


def is_frame(table: Any) -> bool:
    """True for an object that exports an Arrow C stream (not a path)."""
    return (not isinstance(table, (str, bytes, os.PathLike))
            and callable(getattr(type(table), "__arrow_c_stream__", None)))


def frame_name(table: Any) -> str:
    """How messages name an in-memory table: '<polars DataFrame>'."""
    kind = type(table)
    return f"<{kind.__module__.split('.')[0]} {kind.__name__}>"


def file_format(path: str) -> Optional[str]:
    """The pyarrow.dataset format of a Parquet or Arrow IPC file name, else None."""
    name = path.lower()
    for suffix, kind in FILE_FORMATS.items():
        if name.endswith(suffix):
            return kind
    return None


def further_columns(group_column: Optional[str], own: Optional[OwnConfidence]) -> set[str]:
    """The columns a call reads besides the known ones: its group column
    and its own-confidence column, where it has them."""
    return {name for name in (group_column, own.column if own else None) if name is not None}


def wanted_columns(header: Sequence[str], columns: Mapping[str, str],
                   further: Iterable[str]) -> list[str]:
    """The names of `header` that the pass reads, in header order, once each:
    the known columns it reads and the `further` ones (further_columns)."""
    wanted = {columns.get(column, column) for column in _READ_COLUMNS}
    wanted.update(further)
    seen: set[str] = set()
    names = []
    for name in header:
        if name in wanted and name not in seen:
            seen.add(name)
            names.append(name)
    return names


def _quoted(name: str) -> str:
    return '"' + name.replace('"', '""') + '"'


def narrowed(table: Any, columns: Mapping[str, str], further: Iterable[str]
             ) -> tuple[Any, Optional[list[str]]]:
    """The table reduced to the columns the pass reads, where its library
    can select columns without copying them (polars, pyarrow, pandas,
    DuckDB): a producer then exports nothing else (polars, for one, prepares
    every exported column). Returns it with the whole table's column names
    (None when the table is passed on as it is)."""
    library = type(table).__module__.split(".")[0]
    try:
        if library == "polars" and hasattr(table, "select"):
            header = list(table.columns)
            return table.select(wanted_columns(header, columns, further)), header
        if library == "pyarrow" and hasattr(table, "select"):
            header = list(table.column_names)
            return table.select(wanted_columns(header, columns, further)), header
        if library == "pandas" and all(isinstance(name, str) for name in table.columns):
            header = list(table.columns)
            return table[wanted_columns(header, columns, further)], header
        if library == "duckdb" and hasattr(table, "project"):
            header = list(table.columns)
            names = wanted_columns(header, columns, further)
            return table.project(", ".join(_quoted(name) for name in names)), header
    except Exception:  # an unusual table of a known library: read it whole
        pass
    return table, None


@dataclass(frozen=True)
class StreamRead:
    """A pass over an Arrow stream, with what the stream cannot tell of its
    file: the whole header, the file's size and its SHA-256."""

    native: _native.Pass
    header: list[str]
    file_bytes: int = 0
    sha256: Optional[str] = None


def run_stream(stream_owner: Any, name: str, scores: Sequence[str], layout: TableLayout, *,
               keep_ids: bool, progress: Any, group_column: Optional[str],
               group_policy: Optional[str], header: Optional[Sequence[str]] = None,
               own: Optional[OwnConfidence] = None) -> StreamRead:
    """Runs the per-query pass over the Arrow C stream of `stream_owner`
    (with `own`, that column's top values as one more column, as run_pass),
    or raises TableError naming `name`. `header`: the columns of the whole
    file, for messages and the pass, when the stream holds fewer."""
    try:
        capsule = stream_owner.__arrow_c_stream__()
    except Exception as error:  # the producer's own failure, e.g. a DuckDB query's
        raise TableError(f"{name}: cannot read it as an Arrow stream: {error}") from error
    try:
        result = _native.run_arrow_pass(capsule, list(scores), columns=layout.columns,
                                        keep_ids=keep_ids, progress=progress,
                                        group_column=group_column,
                                        **confidence.pass_arguments(own))
    except _native.CoreError as error:
        raise read_errors.table_error(name, error, layout, group_column, group_policy,
                                      header) from None
    return StreamRead(result.query_pass, list(header) if header is not None else result.header)


def _pyarrow_dataset(path: str) -> Any:
    try:  # imported by name: pyarrow ships no type information
        dataset = importlib.import_module("pyarrow.dataset")
    except ImportError:
        raise TableError(f"{path}: reading Parquet and Arrow IPC files needs pyarrow, which is "
                         f"not installed: {INSTALL_HINT}; or write the table as CSV or "
                         f"TSV") from None
    return dataset


def _parquet_format(dataset: Any, pyarrow: Any, schema: Any, columns: Mapping[str, str]) -> Any:
    """Parquet read with the query ids as dictionaries of strings: each id
    repeats once per candidate, and a dictionary (the file's own, as pyarrow
    writes it) is decoded once per row group instead of a string per row.
    The cells the pass reads are the same."""
    query = columns.get("query_id", "query_id")
    strings = (query in schema.names
               and (pyarrow.types.is_string(schema.field(query).type)
                    or pyarrow.types.is_large_string(schema.field(query).type)))
    options = dataset.ParquetReadOptions(dictionary_columns=[query] if strings else [])
    return dataset.ParquetFileFormat(read_options=options)


def open_file(path: str, columns: Mapping[str, str], further: Iterable[str],
              keep_ids: bool = True) -> tuple[Any, list[str], int]:
    """Opens a Parquet or Arrow IPC file as a reader of record batches of the
    columns the pass reads (the `further` ones too, see further_columns).
    Without `keep_ids` the candidate ids are not decoded, unless one of the
    `further` columns is theirs: the column is checked to be there and read
    as nulls. Returns
    the reader, the file's column names and its number of rows; TableError
    for a file pyarrow cannot read."""
    dataset = _pyarrow_dataset(path)
    pyarrow = importlib.import_module("pyarrow")
    compute = importlib.import_module("pyarrow.compute")

    try:
        table = dataset.dataset(path, format=file_format(path))
        header = list(table.schema.names)
        if file_format(path) == "parquet":
            table = dataset.dataset(path, format=_parquet_format(dataset, pyarrow, table.schema,
                                                                columns))
        skipped = None if keep_ids else columns.get("candidate_id", "candidate_id")
        further = set(further)
        projection = {name: (compute.scalar(None) if name == skipped
                             and name not in further else dataset.field(name))
                      for name in wanted_columns(header, columns, further)}
        # The C library's allocator keeps the memory of the batches read
        # for the next ones; pyarrow's default one (mimalloc) hands it back
        # to the system and takes it again, zeroed, for each row group.
        scanner = table.scanner(columns=projection,
                                batch_size=_BATCH_ROWS, batch_readahead=_BATCH_READAHEAD,
                                fragment_readahead=1, memory_pool=pyarrow.system_memory_pool())
        return scanner.to_reader(), header, table.count_rows()
    except (pyarrow.ArrowException, OSError, ValueError) as error:
        raise TableError(f"{path}: cannot be read as a {file_format(path)} file: "
                         f"{error}") from error


def file_sha256(path: str, stop: threading.Event) -> Optional[str]:
    """The SHA-256 of the file's bytes as sha256sum prints it (hashlib's
    runs on the processor's SHA extensions where it has them); None once
    `stop` is set, which ends the hashing at its next block."""
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            if stop.is_set():
                return None
            digest.update(block)
    return digest.hexdigest()


def read_file(path: str, scores: Sequence[str], layout: Any, *, keep_ids: bool, progress: Any,
              group_column: Optional[str], group_policy: Optional[str],
              fingerprint: bool, own: Optional[OwnConfidence] = None) -> StreamRead:
    """The pass over a Parquet or Arrow IPC file; TableError as run_stream."""
    reader, header, rows = open_file(path, layout.columns, further_columns(group_column, own),
                                     keep_ids or group_column is not None)
    size = os.path.getsize(path) if os.path.isfile(path) else 0
    shown = progress
    if progress is not None:
        # The bytes shown are the file's share of the rows read.
        def shown(_: int, read: int) -> None:
            progress(size * read // rows if rows else size, read)
    # The file's SHA-256 is taken beside the read (hashlib and the core both
    # run without the GIL): the read looks at a few columns only. A failed
    # read stops it rather than wait for the rest of the file.
    stop = threading.Event()
    with ThreadPoolExecutor(max_workers=1) as pool, reader:
        digest = pool.submit(file_sha256, path, stop) if fingerprint else None
        try:
            read = run_stream(reader, path, scores, layout, keep_ids=keep_ids, progress=shown,
                              group_column=group_column, group_policy=group_policy,
                              header=header, own=own)
        except BaseException:
            stop.set()
            raise
        return replace(read, file_bytes=size, sha256=digest.result() if digest else None)
