#include "main/run.h"

#include "policy/launch.h"
#include "proxy/server.h"

namespace kestrum::sandbox {

static bool needs_proxy(const PreparedPolicy& policy, const RunRequest& request) {
  return !policy.network.allow.empty() || policy.network.open || request.events_fd.has_value();
}

Status run(const RunRequest& request, std::string_view tool) {
  auto policy = parse_policy(request.policy_text);
  if (!policy) return fail(policy.error());
  auto prepared = prepare_policy(*policy);
  if (!prepared) return fail(prepared.error());
  const LaunchCommand command{request.program, request.args};
  if (needs_proxy(*prepared, request)) {
    return start_proxy(*prepared, tool, command, request.events_fd);
  }
  return launch(*prepared, tool, command, std::nullopt);
}

}  // namespace kestrum::sandbox
