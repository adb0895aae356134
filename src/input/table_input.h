// TableInput: the bytes of a candidates table for one read, from a plain or a
// gzip-compressed file, pipe or FIFO. Compression is recognised by the first
// two bytes (1f 8b), whatever the name, so `<(cat table.csv.gz)` works too.
// It also keeps what a caller reports about the read: the bytes taken from
// the file so far, the table's header row and, when asked, the SHA-256 of
// the file's bytes, taken as they are read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/os/interruption.h"

namespace ferolin::tools {

class TableInput {
 public:
  // Opens the file at `path` and reads its first bytes. Fails with a `Csv`
  // error with the system's text, as every read of a table does, or with an
  // `Io` error when zlib cannot start. `delimiter` separates the header's
  // fields. `fingerprint`: also hash the file's bytes (the compressed ones
  // of a compressed table) as they are read, for file_sha256().
  // `interrupted` is asked whenever a signal interrupts opening or reading
  // the file (a FIFO waiting for its writer); its error is the failure.
  // A compressed table inflates on a thread of its own when
  // os::thread_count() is above 1; the file is read on the caller's.
  [[nodiscard]] static Result<TableInput> open(std::string_view path, char delimiter,
                                               bool fingerprint = false,
                                               os::InterruptCheck interrupted = {});

  TableInput(TableInput&&) noexcept;
  TableInput& operator=(TableInput&&) noexcept;
  ~TableInput();

  // Limits the header row as the table's read limits its records
  // (CsvTokenizer::limit_field_bytes): then the header is searched as far
  // as the read goes, so that a header the read accepts is reported whole
  // however long it is. Call before the first read().
  void limit_header(std::uint64_t field_bytes);

  // Returns the next bytes of the table, decompressed (valid until the next
  // call), an empty view at the end, or a failure.
  [[nodiscard]] Result<std::string_view> read();

  // Returns the number of bytes read from the file so far (compressed bytes
  // for a compressed table).
  [[nodiscard]] std::uint64_t file_bytes() const;
  // Returns the size of the table's bytes when known: an uncompressed
  // regular file.
  [[nodiscard]] std::optional<std::uint64_t> size_hint() const;
  [[nodiscard]] bool compressed() const;
  // Returns the SHA-256 of the whole file as 64 lowercase hexadecimal
  // digits (what sha256sum prints for it), reading and hashing whatever the
  // table's reader left unread; absent when the input was opened without
  // `fingerprint`. Fails as read() does, or with an `Io` error once `stop`
  // is requested (checked before each read of the file), so that a failed
  // read of the table need not wait for the rest of the file's hash.
  [[nodiscard]] Result<std::optional<std::string>> file_sha256(std::stop_token stop = {});
  // Returns the fields of the header row once it has been read; empty
  // before, and when it could not be split (the read reports why).
  [[nodiscard]] const std::vector<std::string>& header() const;
  // True while read() has not yet given the whole header row, nor found
  // that it cannot be split or is too long to search.
  [[nodiscard]] bool header_pending() const;

  // The reading state, defined where it is used.
  struct State;

 private:
  explicit TableInput(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace ferolin::tools
