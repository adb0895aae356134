#include "core/shards/packed_pairs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/argument_names.h"
#include "core/utf8.h"

namespace ferolin::shards {
namespace {

// Layout: the magic; a word that shows the byte order; the numbers of
// queries (N), rows and methods (M); M method codes; N flag bytes; M columns
// of N confidences; N id ends; the ids' bytes.
constexpr std::string_view kMagic = "FRLNPRS1";
constexpr std::uint64_t kByteOrder = 0x0102030405060708;
constexpr std::uint64_t kHeaderSize = kMagic.size() + 4 * sizeof(std::uint64_t);

constexpr std::uint8_t kCorrect = 1;
constexpr std::uint8_t kUnlabelled = 2;
constexpr std::uint8_t kLabelMask = 3;
constexpr std::uint8_t kSingleCandidate = 4;

class Writer {
 public:
  explicit Writer(std::span<char> out) : out_(out) {}
  template <typename T>
  void put(const T& value) {
    std::memcpy(out_.data() + at_, &value, sizeof(T));
    at_ += sizeof(T);
  }
  void put_bytes(std::string_view bytes) {
    std::memcpy(out_.data() + at_, bytes.data(), bytes.size());
    at_ += bytes.size();
  }

 private:
  std::span<char> out_;
  std::size_t at_ = 0;
};

std::uint64_t id_bytes(const TextColumn& ids) {
  std::uint64_t bytes = 0;
  for (std::size_t q = 0; q < ids.size(); ++q) bytes += ids[q].size();
  return bytes;
}

std::uint8_t flags_of(const pipeline::QueryTable& table, std::size_t q) {
  const std::optional<bool>& label = table.top_labels[q];
  const std::uint8_t flags = !label ? kUnlabelled : (*label ? kCorrect : 0);
  return table.candidates[q] == 1 ? flags | kSingleCandidate : flags;
}

FerolinError corrupt(std::string_view what) {
  return FerolinError::io("these are not whole packed query pairs: " + std::string(what));
}

template <typename T>
T read_at(std::string_view bytes, std::uint64_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// The parts of packed bytes, checked against their length.
struct PackedView {
  std::uint64_t queries = 0;
  std::uint64_t rows = 0;
  std::vector<ScoringMethod> methods;
  std::uint64_t flags = 0;  // offsets into the bytes
  std::uint64_t confidences = 0;
  std::uint64_t ends = 0;
  std::uint64_t ids = 0;
};

Result<PackedView> view_of(std::string_view bytes) {
  if (bytes.size() < kHeaderSize || !bytes.starts_with(kMagic))
    return std::unexpected(corrupt("no header"));
  if (read_at<std::uint64_t>(bytes, kMagic.size()) != kByteOrder) {
    return std::unexpected(corrupt("packed on a machine of another byte order"));
  }
  PackedView view;
  view.queries = read_at<std::uint64_t>(bytes, kMagic.size() + 8);
  view.rows = read_at<std::uint64_t>(bytes, kMagic.size() + 16);
  const auto method_count = read_at<std::uint64_t>(bytes, kMagic.size() + 24);
  const std::uint64_t size = bytes.size();
  // Each query takes at least 9 bytes, each method 1: bounds before products.
  if (method_count > kScoringMethodCount || view.queries > size / 9) {
    return std::unexpected(corrupt("counts larger than the bytes"));
  }
  if (kHeaderSize + method_count > size) return std::unexpected(corrupt("cut short"));
  for (std::uint64_t m = 0; m < method_count; ++m) {
    const auto code = static_cast<std::uint8_t>(bytes[kHeaderSize + m]);
    if (code >= kScoringMethodCount) return std::unexpected(corrupt("an unknown method"));
    view.methods.push_back(static_cast<ScoringMethod>(code));
  }
  view.flags = kHeaderSize + method_count;
  view.confidences = view.flags + view.queries;
  view.ends = view.confidences + method_count * view.queries * sizeof(double);
  view.ids = view.ends + view.queries * sizeof(std::uint64_t);
  if (view.ids > size) return std::unexpected(corrupt("cut short"));
  const std::uint64_t last_end =
      view.queries == 0 ? 0 : read_at<std::uint64_t>(bytes, view.ids - 8);
  if (last_end != size - view.ids) return std::unexpected(corrupt("the ids do not fill the rest"));
  return view;
}

}  // namespace

Result<std::uint64_t> packed_size(const pipeline::QueryTable& table) {
  if (table.query_ids.size() != table.size()) {
    return std::unexpected(FerolinError::invalid_argument(
        "the pass kept no query ids (keep_ids), so its queries cannot be merged"));
  }
  const std::uint64_t n = table.size();
  return kHeaderSize + table.methods.size() + n + table.methods.size() * n * sizeof(double) +
         n * sizeof(std::uint64_t) + id_bytes(table.query_ids);
}

void pack(const pipeline::QueryTable& table, std::span<char> out) {
  Writer writer(out);
  writer.put_bytes(kMagic);
  writer.put(kByteOrder);
  writer.put(static_cast<std::uint64_t>(table.size()));
  writer.put(table.rows);
  writer.put(static_cast<std::uint64_t>(table.methods.size()));
  for (const ScoringMethod method : table.methods) writer.put(static_cast<std::uint8_t>(method));
  for (std::size_t q = 0; q < table.size(); ++q) writer.put(flags_of(table, q));
  for (const auto& column : table.confidences) {
    for (const std::optional<double>& confidence : column) {
      writer.put(confidence.value_or(std::numeric_limits<double>::quiet_NaN()));
    }
  }
  std::uint64_t end = 0;
  for (std::size_t q = 0; q < table.size(); ++q) {
    end += table.query_ids[q].size();
    writer.put(end);
  }
  for (std::size_t q = 0; q < table.size(); ++q) writer.put_bytes(table.query_ids[q]);
}

Result<PackedSize> packed_contents(std::string_view packed) {
  Result<PackedView> view = view_of(packed);
  if (!view) return std::unexpected(std::move(view.error()));
  return PackedSize{view->queries, packed.size() - view->ids};
}

Result<void> unpack_into(std::string_view packed, ShardMerge& merge) {
  Result<PackedView> view = view_of(packed);
  if (!view) return std::unexpected(std::move(view.error()));
  // The packed column of each method the merge wants.
  std::vector<std::uint64_t> columns;
  for (const ScoringMethod method : merge.methods()) {
    const auto found = std::find(view->methods.begin(), view->methods.end(), method);
    if (found == view->methods.end()) {
      return std::unexpected(FerolinError::missing_column(std::string(argument_name(method))));
    }
    columns.push_back(view->confidences +
                      static_cast<std::uint64_t>(found - view->methods.begin()) * view->queries *
                          sizeof(double));
  }
  // Room for the queries and ids that these bytes hold, now that their
  // layout is checked against their length: a count claimed by bytes that
  // are not there never reserves anything.
  merge.reserve(view->queries, packed.size() - view->ids);
  std::vector<double> values(columns.size());
  ShardQuery query;
  query.confidences = values;
  std::uint64_t begin = 0;
  for (std::uint64_t q = 0; q < view->queries; ++q) {
    const auto flags = static_cast<std::uint8_t>(packed[view->flags + q]);
    const auto end = read_at<std::uint64_t>(packed, view->ends + q * 8);
    if ((flags & kLabelMask) > kUnlabelled || flags > (kLabelMask | kSingleCandidate) ||
        end < begin || end > packed.size() - view->ids) {
      return std::unexpected(corrupt("a query's entry is out of range"));
    }
    query.query_id = packed.substr(view->ids + begin, end - begin);
    if (utf8_error_offset(query.query_id)) return std::unexpected(corrupt("an id is not UTF-8"));
    begin = end;
    const std::uint8_t label = flags & kLabelMask;
    query.top_is_correct =
        label == kUnlabelled ? std::nullopt : std::optional<bool>(label == kCorrect);
    query.single_candidate = (flags & kSingleCandidate) != 0;
    for (std::size_t m = 0; m < columns.size(); ++m) {
      values[m] = read_at<double>(packed, columns[m] + q * sizeof(double));
    }
    if (Result<void> added = merge.add(query); !added) return added;
  }
  merge.add_rows(view->rows);
  return {};
}

}  // namespace ferolin::shards
