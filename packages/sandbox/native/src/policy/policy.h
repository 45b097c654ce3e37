// The policy document as parsed, and as prepared against the file system.
// Paths are byte strings as the system holds them; texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace kestrum::sandbox {

inline constexpr std::uint32_t kPolicyVersion = 6;

struct Credentials {
  std::string socket;
  std::string command;
  std::vector<std::string> hosts;
  std::string certificates;
};

struct Network {
  std::vector<std::string> allow;
  bool open = false;
  bool loopback = false;
  std::vector<std::string> sockets;
  std::optional<Credentials> credentials;
};

struct Policy {
  std::uint32_t version = 0;
  std::string cwd;
  std::vector<std::string> write;
  std::vector<std::string> write_files;
  std::vector<std::string> deny_write;
  std::vector<std::string> deny_read;
  std::vector<std::string> deny_read_except;
  std::vector<std::string> deny_env;
  std::vector<std::string> keep_env;
  bool keychain = false;
  Network network;
};

// The same fields, every path canonical (or, for write_files, deny_write
// and sockets, a canonical parent joined with a last name), every path list
// sorted in path order without duplicates.
struct PreparedPolicy : Policy {};

// Reads the JSON text and checks it without touching the file system.
// Fails with "invalid policy: ..." for reader errors, or a check's message.
Result<Policy> parse_policy(std::string_view text);

// Resolves the paths; reads the file system, writes nothing.
Result<PreparedPolicy> prepare_policy(const Policy& policy);

}  // namespace kestrum::sandbox
