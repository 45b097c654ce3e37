// Feeds arbitrary bytes to read_profile: it must accept or refuse, never
// crash, and whatever it accepts must be exactly what the launcher writes
// for the lists it read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "linux/profile_reader.h"
#include "policy/policy.h"
#include "policy/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto rules = kestrum::sandbox::read_profile(text);
  if (!rules) return 0;
  kestrum::sandbox::PreparedPolicy policy;
  policy.write = rules->write;
  policy.write_files = rules->write_files;
  policy.deny_write = rules->deny_write;
  policy.deny_read = rules->deny_read;
  policy.deny_read_except = rules->exceptions;
  policy.network.loopback = rules->loopback;
  policy.network.sockets = rules->sockets;
  policy.keychain = rules->keychain;
  if (kestrum::sandbox::build_profile(policy, rules->port) != text) std::abort();
  return 0;
}
