#include "core/policy/policy_store.h"

#include "core/io/policy_json.h"

namespace ferolin::policy {

Result<PolicyFile> load_policy(std::string_view path) { return io::read_policy(path); }

Result<void> save_policy(const PolicyFile& policy, std::string_view path) {
  return io::write_json(policy, path);
}

}  // namespace ferolin::policy
