// Reads the profile text the launcher hands to its sandbox tool back into
// the lists it was built from. Only profiles that the launcher's own
// build_profile writes, line for line, are accepted: anything else could
// carry a meaning this backend does not enforce.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace kestrum::sandbox {

// Each list in the order of its line; the names follow the profile's lines.
struct ProfileRules {
  std::vector<std::string> write;  // "(allow file-write* (subpath ...))" before the services
  std::vector<std::string>
      write_files;                      // "(allow file-write* (regex ...))", unescaped, without "^"
  std::vector<std::string> deny_write;  // "(deny file-write* ...)" before the services
  std::vector<std::string> deny_read;   // the hidden folders and files
  std::vector<std::string> exceptions;  // readable again inside the hidden ones
  std::vector<std::string> traverse;    // ancestors of exceptions that show their metadata
  std::vector<std::string> write_in_exceptions;
  std::vector<std::string> deny_write_in_exceptions;
  std::vector<std::string> deny_read_in_exceptions;
  std::vector<std::string> sockets;
  std::optional<std::uint16_t> port;
  bool loopback = false;
  bool keychain = false;
};

// Fails with "line N: ..." naming the first line that is unknown, malformed,
// altered or out of place, or that names a path which was not valid UTF-8.
Result<ProfileRules> read_profile(std::string_view text);

}  // namespace kestrum::sandbox
