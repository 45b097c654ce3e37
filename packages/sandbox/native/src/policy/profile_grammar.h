// The fixed text of the Seatbelt profile the launcher writes: the heads of
// its rules, the forms of their items, and the lines that never change. The
// launcher builds profiles from it, and the Linux backend reads them back
// with it, so the two cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kestrum::sandbox::profile_grammar {

// Rule heads; a rule is its head, one or more " <item>", then ")".
inline constexpr std::string_view kAllowWrite = "(allow file-write*";
inline constexpr std::string_view kDenyWrite = "(deny file-write*";
inline constexpr std::string_view kDenyReadAndWrite = "(deny file-read* file-write*";
inline constexpr std::string_view kAllowRead = "(allow file-read*";
inline constexpr std::string_view kAllowMetadata = "(allow file-read-metadata";
inline constexpr std::string_view kAllowMachLookup = "(allow mach-lookup";

// Items: the opener, a quoted string, ")".
enum class Item { kSubpath, kLiteral, kRegex, kGlobalName };

constexpr std::string_view item_opener(Item item) {
  switch (item) {
    case Item::kSubpath:
      return "(subpath ";
    case Item::kLiteral:
      return "(literal ";
    case Item::kRegex:
      return "(regex ";
    case Item::kGlobalName:
      return "(global-name ";
  }
  return {};
}

// A writeFiles regex is "^" and the path with these characters escaped.
inline constexpr std::string_view kRegexCharacters = "\\.^$|?*+()[]{}";

// The proxy's port: kPortHead, the decimal port, kPortTail.
inline constexpr std::string_view kPortHead = "(allow network-outbound (remote ip \"localhost:";
inline constexpr std::string_view kPortTail = "\"))";
// A socket: kSocketHead, the quoted path, kSocketTail.
inline constexpr std::string_view kSocketHead =
    "(allow network-outbound (remote unix-socket (path-literal ";
inline constexpr std::string_view kSocketTail = ")))";
inline constexpr std::string_view kLoopbackLine =
    R"((allow network-bind network-inbound (local ip "localhost:*")))";

inline constexpr std::array<std::string_view, 6> kOpeningLines{
    "(version 1)",
    "(deny default)",
    "(allow process-exec process-fork)",
    "(allow signal (target same-sandbox))",
    "(allow process-info* (target same-sandbox))",
    "(allow file-read*)",
};

inline constexpr std::string_view kDeviceWriteLine =
    R"((allow file-write* (literal "/dev/null") (literal "/dev/zero") (literal "/dev/stdout"))"
    R"( (literal "/dev/stderr") (regex #"^/dev/fd/")))";

inline constexpr std::array<std::string_view, 5> kSystemLines{
    "(allow file-ioctl)",           "(allow sysctl-read)",
    "(allow pseudo-tty)",           "(allow ipc-posix-shm* ipc-posix-sem)",
    "(allow user-preference-read)",
};

inline constexpr std::array<std::string_view, 10> kMachServices{
    "com.apple.system.opendirectoryd.libinfo",
    "com.apple.system.opendirectoryd.membership",
    "com.apple.system.logger",
    "com.apple.system.notification_center",
    "com.apple.logd",
    "com.apple.diagnosticd",
    "com.apple.trustd.agent",
    "com.apple.cfprefsd.daemon",
    "com.apple.cfprefsd.agent",
    "com.apple.FSEvents",
};

// Added after kMachServices when the policy asks for the keychain.
inline constexpr std::array<std::string_view, 4> kKeychainMachServices{
    "com.apple.SecurityServer",
    "com.apple.securityd.xpc",
    "com.apple.trustd",
    "com.apple.ocspd",
};

inline constexpr std::size_t kKeychainServiceCount =
    kMachServices.size() + kKeychainMachServices.size();

}  // namespace kestrum::sandbox::profile_grammar
