// Loading and saving trust policies as policy files.
#pragma once

#include <string_view>

#include "core/error.h"
#include "core/types.h"

namespace ferolin::policy {

// Returns the policy stored at `path`; the errors of io::read_policy.
[[nodiscard]] Result<PolicyFile> load_policy(std::string_view path);

// Returns nothing once `policy` is stored at `path`; the errors of
// io::write_json. A failed save leaves an existing policy file untouched.
[[nodiscard]] Result<void> save_policy(const PolicyFile& policy, std::string_view path);

}  // namespace ferolin::policy
