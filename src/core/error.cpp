#include "core/error.h"

#include <system_error>
#include <utility>

#include "core/number_format.h"

namespace ferolin {
namespace {

FerolinError make(ErrorKind kind, std::string detail = {}) {
  FerolinError error;
  error.kind = kind;
  error.detail = std::move(detail);
  return error;
}

}  // namespace

std::string FerolinError::message() const {
  switch (kind) {
    case ErrorKind::Csv:
    case ErrorKind::BadCell:
    case ErrorKind::TooLong:
      return "CSV error: " + detail;
    case ErrorKind::Io:
      return "IO error: " + detail;
    case ErrorKind::Json:
    case ErrorKind::JsonType:
    case ErrorKind::Write:
      return "JSON error: " + detail;
    case ErrorKind::MissingColumn:
      return "Missing required column: " + detail;
    case ErrorKind::UnknownPolicyVersion:
      return "Unknown policy version: " + detail;
    case ErrorKind::UnsupportedConfidenceLevel:
      return "Unsupported confidence level: " + format_plain_decimal(level) +
             ". Supported: 0.90, 0.95, 0.975, 0.99";
    case ErrorKind::MissingConfidenceLevel:
      return "confidence_level required for binomial method";
    case ErrorKind::ParquetNotCompiled:
      return "Parquet input detected but ferolin was compiled without the 'parquet' feature; "
             "recompile with --features parquet";
    case ErrorKind::InvalidArgument:
      return detail;
  }
  return "unknown error";
}

FerolinError FerolinError::csv(std::string d) { return make(ErrorKind::Csv, std::move(d)); }
FerolinError FerolinError::io(std::string d) { return make(ErrorKind::Io, std::move(d)); }
FerolinError FerolinError::json(std::string d) { return make(ErrorKind::Json, std::move(d)); }
FerolinError FerolinError::write(std::string path, std::string d) {
  FerolinError error = make(ErrorKind::Write, std::move(d));
  error.path = std::move(path);
  return error;
}
FerolinError FerolinError::missing_column(std::string column) {
  return make(ErrorKind::MissingColumn, std::move(column));
}
FerolinError FerolinError::unknown_policy_version(std::string version) {
  return make(ErrorKind::UnknownPolicyVersion, std::move(version));
}
FerolinError FerolinError::unsupported_confidence_level(double level) {
  FerolinError error = make(ErrorKind::UnsupportedConfidenceLevel);
  error.level = level;
  return error;
}
FerolinError FerolinError::missing_confidence_level() {
  return make(ErrorKind::MissingConfidenceLevel);
}
FerolinError FerolinError::parquet_not_compiled() { return make(ErrorKind::ParquetNotCompiled); }
FerolinError FerolinError::invalid_argument(std::string message) {
  return make(ErrorKind::InvalidArgument, std::move(message));
}

std::string os_error_text(int errnum) {
  return std::system_category().message(errnum) + " (os error " + std::to_string(errnum) + ")";
}

}  // namespace ferolin
