#include "binding/native/records.h"

#include <span>
#include <vector>

#include "binding/native/native_state.h"

namespace ferolin::binding::native {
namespace {

// A record spec of any field count, for creating the types in one loop.
struct AnySpec {
  RecordKind kind;
  const char* name;
  const char* doc;
  std::span<const char* const> fields;
};

template <std::size_t N>
constexpr AnySpec any(const RecordSpec<N>& spec) {
  return {spec.kind, spec.name, spec.doc, spec.fields};
}

constexpr std::array<AnySpec, kRecordKindCount> kSpecs = {
    any(kReadOutcome),     any(kCounts),          any(kSummary),
    any(kCalibration),     any(kColumns),         any(kThresholdOutcome),
    any(kGroupReport),     any(kGroupedCalibration), any(kDecisions),
    any(kOperatingPoints), any(kMetricInterval),  any(kBootstrap),
    any(kProbabilityCheck)};

PyObject* new_record_type(const AnySpec& spec) {
  // The type copies the fields; the names and the type's name are literals.
  std::vector<PyStructSequence_Field> fields;
  for (const char* field : spec.fields) fields.push_back({field, nullptr});
  fields.push_back({nullptr, nullptr});
  PyStructSequence_Desc desc{spec.name, spec.doc, fields.data(),
                             static_cast<int>(spec.fields.size())};
  return reinterpret_cast<PyObject*>(PyStructSequence_NewType(&desc));
}

}  // namespace

int create_record_types(std::array<PyObject*, kRecordKindCount>& types) {
  for (const AnySpec& spec : kSpecs) {
    PyObject*& type = types[static_cast<std::size_t>(spec.kind)];
    type = new_record_type(spec);
    if (type == nullptr) return -1;
  }
  return 0;
}

PyObject* record_type(PyObject* module, RecordKind kind) {
  return native_state(module).records[static_cast<std::size_t>(kind)];
}

}  // namespace ferolin::binding::native
