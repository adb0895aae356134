// The Arrow C data and C stream interfaces: three structs that producers
// (pyarrow, polars, pandas, DuckDB) and consumers declare each on their own,
// as Arrow's format documentation asks (a stable ABI; no Arrow library is needed).
// https://arrow.apache.org/docs/format/CDataInterface.html and
// https://arrow.apache.org/docs/format/CStreamInterface.html
// The guards are Arrow's own, so that a translation unit that also
// includes Arrow's own declaration sees one definition.
#pragma once

#include <cstdint>

extern "C" {

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

// A field's type (a format string), name and children; a dictionary-encoded
// field also points at its values' type.
struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);  // null once released
  void* private_data;
};

// One array's buffers (validity first), children and dictionary values;
// `offset` counts the rows before the first one, in every buffer.
struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);  // null once released
  void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

// A producer of arrays of one schema: get_next hands out a released
// (null) array at the end; a nonzero result is an errno code.
struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);  // null once released
  void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE

}  // extern "C"
