// Policy files: one PolicyFile stored as a JSON document, read in any JSON
// layout and written in one fixed layout.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/error.h"
#include "core/os/interruption.h"
#include "core/types.h"

namespace ferolin::policy_file {

// Which scoring methods a reader takes: the eight (the module's functions),
// or also kConfidenceColumnMethod with its column (ferolin_tools).
enum class PolicyMethods { Eight, WithConfidenceColumn };

// Returns the policy held by the JSON text `bytes` (an object with the nine
// keys, or an array of seven to nine values), after checking its version.
// Every failure to convert is Json, "{description} at line L column C";
// UnknownPolicyVersion comes only after the whole text has converted.
[[nodiscard]] Result<PolicyFile> parse_policy(std::span<const char> bytes,
                                              PolicyMethods methods = PolicyMethods::Eight);

// Returns the policy stored in the file at `path`, as parse_policy does. A
// file that cannot be opened is Io ("No such file or directory (os error
// 2)"); a path holding a NUL byte is Io "path contains a NUL byte"; a failed
// read is Json with the system's text and no position. `interrupted` is
// asked whenever a signal interrupts opening or reading the file (a FIFO
// without a writer); the error it returns is the failure.
[[nodiscard]] Result<PolicyFile> read_policy(std::string_view path,
                                             os::InterruptCheck interrupted = {},
                                             PolicyMethods methods = PolicyMethods::Eight);

// A key that a writer of policies stores beside the policy's own (what a
// threshold rests on, say): readers skip keys they do not know.
struct ExtraKey {
  std::string key;
  std::string json;  // the text of one JSON value
};

// Returns the text of `value` as a policy file: two-space indents, keys in
// field order, "group_col" and "group_thresholds" only when present (for a
// policy on a confidence column, scoring_method "confidence_column" and,
// after created_by, "confidence_col" and "lower_is_better"), NaN and
// infinities as null, then the `extra` keys in order, their values laid out
// with the same indents; no newline at the end. A string that is not UTF-8
// fails as Json; an extra key that is one of the policy's own keys (a
// reader would refuse the file) or whose value is not one JSON value fails
// as InvalidArgument.
[[nodiscard]] Result<std::string> policy_to_json_text(const PolicyFile& value,
                                                      std::span<const ExtraKey> extra = {});

// Returns nothing once the file at `path` holds the text of `value`. The
// text replaces a regular file whole or not at all, keeping its permission
// bits; a new file gets 0666 less the umask. A file that cannot be created
// or opened for writing is Io; a failed write, flush or rename is Json with
// the system's text; a path holding a NUL byte is Io "path contains a NUL
// byte". `extra` and its failures as in policy_to_json_text, which come
// before the file is touched. `interrupted` is asked whenever a signal
// interrupts opening or writing the file (a FIFO without a reader); the
// error it returns is the failure, and an old file is left as it was.
[[nodiscard]] Result<void> write_json(const PolicyFile& value, std::string_view path,
                                      std::span<const ExtraKey> extra = {},
                                      os::InterruptCheck interrupted = {});

}  // namespace ferolin::policy_file
