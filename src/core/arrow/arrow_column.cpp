#include "core/arrow/arrow_column.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace ferolin::arrow {
namespace {

struct FormatKind {
  std::string_view format;
  Storage storage;
  std::string_view name;
};

constexpr std::array<FormatKind, 15> kFormats = {{
    {"n", Storage::Null, "null"},
    {"b", Storage::Bool, "bool"},
    {"c", Storage::Int8, "int8"},
    {"C", Storage::UInt8, "uint8"},
    {"s", Storage::Int16, "int16"},
    {"S", Storage::UInt16, "uint16"},
    {"i", Storage::Int32, "int32"},
    {"I", Storage::UInt32, "uint32"},
    {"l", Storage::Int64, "int64"},
    {"L", Storage::UInt64, "uint64"},
    {"f", Storage::Float32, "float"},
    {"g", Storage::Float64, "double"},
    {"u", Storage::Utf8, "string"},
    {"U", Storage::LargeUtf8, "large_string"},
    {"vu", Storage::Utf8View, "string_view"},
}};

std::optional<Storage> storage_of(std::string_view format) {
  for (const FormatKind& kind : kFormats) {
    if (kind.format == format) return kind.storage;
  }
  return std::nullopt;
}

// Names for the formats the pass does not read, by their prefix.
std::string other_type_name(std::string_view format) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 22> kOthers = {{
      {"e", "halffloat"},       {"z", "binary"},         {"Z", "large_binary"},
      {"vz", "binary_view"},    {"w:", "fixed_size_binary"}, {"d:", "decimal"},
      {"tdD", "date32"},        {"tdm", "date64"},       {"tt", "time"},
      {"ts", "timestamp"},      {"tD", "duration"},      {"ti", "interval"},
      {"+l", "list"},           {"+L", "large_list"},    {"+vl", "list_view"},
      {"+w:", "fixed_size_list"}, {"+s", "struct"},      {"+m", "map"},
      {"+ud", "dense_union"},   {"+us", "sparse_union"}, {"+r", "run_end_encoded"},
      {"+vL", "large_list_view"},
  }};
  for (const auto& [prefix, name] : kOthers) {
    if (format.starts_with(prefix)) {
      if (prefix == "ts" && format.size() >= 3) {
        static constexpr std::string_view kUnits = "smun";
        const std::size_t unit = kUnits.find(format[2]);
        if (unit != std::string_view::npos) {
          static constexpr std::array<std::string_view, 4> kUnitNames = {"s", "ms", "us", "ns"};
          return "timestamp[" + std::string(kUnitNames[unit]) + "]";
        }
      }
      return std::string(name);
    }
  }
  return "format '" + std::string(format) + "'";
}

std::string_view storage_name(Storage storage) {
  for (const FormatKind& kind : kFormats) {
    if (kind.storage == storage) return kind.name;
  }
  return "dictionary";
}

bool is_integer(Storage s) { return s >= Storage::Int8 && s <= Storage::UInt64; }
bool is_float(Storage s) { return s == Storage::Float32 || s == Storage::Float64; }
bool is_string(Storage s) {
  return s == Storage::Utf8 || s == Storage::LargeUtf8 || s == Storage::Utf8View;
}

bool takes(ColumnUse use, const ColumnType& type) {
  const Storage s = type.storage;
  if (s == Storage::Null) return true;
  switch (use) {
    case ColumnUse::Text:
      return is_string(s) || is_integer(s) || s == Storage::Dictionary;
    case ColumnUse::Rank:
      return is_integer(s);
    case ColumnUse::Number:
      return is_float(s) || is_integer(s);
    case ColumnUse::Label:
      return s == Storage::Bool || is_integer(s) || is_string(s) || s == Storage::Dictionary;
    case ColumnUse::Confidence:
      return is_float(s) || is_integer(s) || is_string(s) || s == Storage::Dictionary;
  }
  return false;
}

std::string_view use_text(ColumnUse use) {
  switch (use) {
    case ColumnUse::Text:
      return "strings (or integers)";
    case ColumnUse::Rank:
      return "integers";
    case ColumnUse::Number:
      return "float32 or float64 numbers (or integers)";
    case ColumnUse::Label:
      return "booleans, integers 0 and 1, or strings true/false";
    case ColumnUse::Confidence:
      return "numbers, or strings that hold them";
  }
  return "";
}

bool bit(const std::uint8_t* bits, std::int64_t i) {
  return ((bits[i >> 3] >> (i & 7)) & 1) != 0;
}

template <typename T>
T load(const void* values, std::int64_t at) {
  T value;
  std::memcpy(&value, static_cast<const char*>(values) + at * static_cast<std::int64_t>(sizeof(T)),
              sizeof value);
  return value;
}

// A float32 as the double of its shortest decimal text.
double widen(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  std::array<char, 32> digits{};
  const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  return *table::parse_float(std::string_view(digits.data(), written.ptr));
}

}  // namespace

std::string arrow_type_name(const ArrowSchema& schema) {
  const std::string_view format = schema.format != nullptr ? schema.format : "";
  const std::optional<Storage> storage = storage_of(format);
  const std::string own = storage ? std::string(storage_name(*storage)) : other_type_name(format);
  if (schema.dictionary == nullptr) return own;
  return "dictionary<values=" + arrow_type_name(*schema.dictionary) + ", indices=" + own + ">";
}

Result<ColumnType> column_type(const ArrowSchema& schema, ColumnUse use, std::string_view name) {
  const std::string_view format = schema.format != nullptr ? schema.format : "";
  ColumnType type;
  bool known = false;
  if (schema.dictionary != nullptr) {
    const std::optional<Storage> indices = storage_of(format);
    const char* values_format = schema.dictionary->format;
    const Storage values =
        storage_of(values_format != nullptr ? values_format : "").value_or(Storage::Null);
    if (indices && is_integer(*indices) && is_string(values)) {
      type = {Storage::Dictionary, *indices, values};
      known = true;
    }
  } else if (const std::optional<Storage> storage = storage_of(format)) {
    type.storage = *storage;
    known = true;
  }
  if (!known || !takes(use, type)) {
    return std::unexpected(FerolinError::invalid_argument(
        "column '" + std::string(name) + "' has the Arrow type " + arrow_type_name(schema) +
        ", which ferolin cannot read there; it takes " + std::string(use_text(use))));
  }
  return type;
}

ColumnView::ColumnView(const ColumnType& type, const ArrowArray& array, std::int64_t parent_offset)
    : storage_(type.storage),
      indices_(type.indices),
      offset_(array.offset + parent_offset) {
  if (storage_ == Storage::Null) return;
  if (array.null_count != 0 && array.n_buffers > 0) {
    validity_ = static_cast<const std::uint8_t*>(array.buffers[0]);
  }
  values_ = array.n_buffers > 1 ? array.buffers[1] : nullptr;
  if (storage_ == Storage::Utf8 || storage_ == Storage::LargeUtf8) {
    data_ = static_cast<const char*>(array.buffers[2]);
  } else if (storage_ == Storage::Utf8View) {
    variadic_ = array.buffers + 2;
  } else if (storage_ == Storage::Dictionary) {
    dictionary_ = std::make_unique<ColumnView>(ColumnType{type.values}, *array.dictionary, 0);
  }
}

bool ColumnView::is_null(std::int64_t row) const {
  if (storage_ == Storage::Null) return true;
  return validity_ != nullptr && !bit(validity_, offset_ + row);
}

bool ColumnView::is_signed() const {
  const Storage s = storage_ == Storage::Dictionary ? indices_ : storage_;
  return s == Storage::Int8 || s == Storage::Int16 || s == Storage::Int32 || s == Storage::Int64;
}

std::int64_t ColumnView::integer(std::int64_t at) const {
  switch (storage_ == Storage::Dictionary ? indices_ : storage_) {
    case Storage::Int8:
      return load<std::int8_t>(values_, at);
    case Storage::UInt8:
      return load<std::uint8_t>(values_, at);
    case Storage::Int16:
      return load<std::int16_t>(values_, at);
    case Storage::UInt16:
      return load<std::uint16_t>(values_, at);
    case Storage::Int32:
      return load<std::int32_t>(values_, at);
    case Storage::UInt32:
      return load<std::uint32_t>(values_, at);
    case Storage::Int64:
      return load<std::int64_t>(values_, at);
    case Storage::UInt64:
      return static_cast<std::int64_t>(load<std::uint64_t>(values_, at));
    default:
      return 0;
  }
}

std::uint64_t ColumnView::unsigned_integer(std::int64_t at) const {
  if (storage_ == Storage::UInt64) return load<std::uint64_t>(values_, at);
  return static_cast<std::uint64_t>(integer(at));
}

std::string ColumnView::value_text(std::int64_t row) const {
  const std::int64_t at = offset_ + row;
  return is_signed() ? std::to_string(integer(at)) : std::to_string(unsigned_integer(at));
}

std::string_view ColumnView::text(std::int64_t row) const {
  if (is_null(row)) return {};
  const std::int64_t at = offset_ + row;
  switch (storage_) {
    case Storage::Utf8: {
      const auto begin = load<std::int32_t>(values_, at);
      const auto end = load<std::int32_t>(values_, at + 1);
      return {data_ + begin, static_cast<std::size_t>(end - begin)};
    }
    case Storage::LargeUtf8: {
      const auto begin = load<std::int64_t>(values_, at);
      const auto end = load<std::int64_t>(values_, at + 1);
      return {data_ + begin, static_cast<std::size_t>(end - begin)};
    }
    case Storage::Utf8View: {
      const char* view = static_cast<const char*>(values_) + at * 16;
      std::int32_t length;
      std::memcpy(&length, view, 4);
      if (length <= 12) return {view + 4, static_cast<std::size_t>(length)};
      std::int32_t buffer;
      std::int32_t offset;
      std::memcpy(&buffer, view + 8, 4);
      std::memcpy(&offset, view + 12, 4);
      return {static_cast<const char*>(variadic_[buffer]) + offset,
              static_cast<std::size_t>(length)};
    }
    case Storage::Dictionary:
      return dictionary_->text(integer(at));
    default: {
      // Numbers as a CSV writer writes them: the shortest text that reads
      // back as the same value, so that converting it later gives the cell's
      // own number.
      char* const first = scratch_.data();
      char* const last = first + scratch_.size();
      std::to_chars_result written{};
      if (storage_ == Storage::Float64) {
        written = std::to_chars(first, last, load<double>(values_, at));
      } else if (storage_ == Storage::Float32) {
        written = std::to_chars(first, last, load<float>(values_, at));
      } else {
        written = is_signed() ? std::to_chars(first, last, integer(at))
                              : std::to_chars(first, last, unsigned_integer(at));
      }
      return {first, static_cast<std::size_t>(written.ptr - first)};
    }
  }
}

std::expected<std::uint64_t, CellProblem> ColumnView::rank(std::int64_t row) const {
  if (is_null(row)) return std::unexpected(CellProblem::Null);
  const std::int64_t at = offset_ + row;
  if (!is_signed()) return unsigned_integer(at);
  const std::int64_t value = integer(at);
  if (value < 0) return std::unexpected(CellProblem::Negative);
  return static_cast<std::uint64_t>(value);
}

std::optional<double> ColumnView::number(std::int64_t row) const {
  if (is_null(row)) return std::nullopt;
  const std::int64_t at = offset_ + row;
  switch (storage_) {
    case Storage::Float64:
      return load<double>(values_, at);
    case Storage::Float32:
      return widen(load<float>(values_, at));
    default:
      return is_signed() ? static_cast<double>(integer(at))
                         : static_cast<double>(unsigned_integer(at));
  }
}

std::expected<std::optional<bool>, CellProblem> ColumnView::label(
    std::int64_t row, table::LabelSpelling spelling) const {
  if (is_null(row)) return std::optional<bool>();
  const std::int64_t at = offset_ + row;
  if (storage_ == Storage::Bool) return bit(static_cast<const std::uint8_t*>(values_), at);
  if (storage_ == Storage::Dictionary || is_string(storage_)) {
    const std::string_view cell = text(row);
    if (cell.empty()) return std::optional<bool>();
    const auto parsed = table::parse_label(cell, spelling);
    if (!parsed) return std::unexpected(CellProblem::NotALabel);
    return *parsed;
  }
  const std::uint64_t value = is_signed() && integer(at) < 0 ? 2 : unsigned_integer(at);
  if (value > 1) return std::unexpected(CellProblem::NotALabel);
  return value == 1;
}

}  // namespace ferolin::arrow
