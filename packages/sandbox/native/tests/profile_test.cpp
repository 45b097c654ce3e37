#include "policy/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// Table rows name only the members that matter; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrum::sandbox {
namespace {

constexpr std::string_view kSmallest =
    "(version 1)\n"
    "(deny default)\n"
    "(allow process-exec process-fork)\n"
    "(allow signal (target same-sandbox))\n"
    "(allow process-info* (target same-sandbox))\n"
    "(allow file-read*)\n"
    "(allow file-write* (literal \"/dev/null\") (literal \"/dev/zero\") (literal \"/dev/stdout\") "
    "(literal \"/dev/stderr\") (regex #\"^/dev/fd/\"))\n"
    "(allow file-ioctl)\n"
    "(allow sysctl-read)\n"
    "(allow pseudo-tty)\n"
    "(allow ipc-posix-shm* ipc-posix-sem)\n"
    "(allow user-preference-read)\n"
    "(allow mach-lookup (global-name \"com.apple.system.opendirectoryd.libinfo\") "
    "(global-name \"com.apple.system.opendirectoryd.membership\") "
    "(global-name \"com.apple.system.logger\") (global-name "
    "\"com.apple.system.notification_center\") "
    "(global-name \"com.apple.logd\") (global-name \"com.apple.diagnosticd\") "
    "(global-name \"com.apple.trustd.agent\") (global-name \"com.apple.cfprefsd.daemon\") "
    "(global-name \"com.apple.cfprefsd.agent\") (global-name \"com.apple.FSEvents\"))";

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    lines.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

// The smallest profile with `added` lines inserted: each before the line of
// the smallest profile with the given index (13 appends at the end).
std::string smallest_with(const std::vector<std::pair<int, std::string>>& added) {
  const std::vector<std::string> base = split_lines(kSmallest);
  std::string text;
  for (std::size_t i = 0; i <= base.size(); ++i) {
    for (const auto& [before, line] : added) {
      if (static_cast<std::size_t>(before) == i) text += line + "\n";
    }
    if (i < base.size()) text += base[i] + "\n";
  }
  text.pop_back();
  return text;
}

TEST(ProfileTest, SmallestPolicyGivesThirteenLines) {
  EXPECT_EQ(build_profile(PreparedPolicy{{.cwd = "/w"}}, std::nullopt), kSmallest);
  EXPECT_EQ(split_lines(kSmallest).size(), 13u);
}

TEST(ProfileTest, QuotesAndEscapes) {
  const struct {
    std::string_view text, quoted, escaped;
  } cases[] = {
      {"/plain/p\xc3\xa4th-1_2", "\"/plain/p\xc3\xa4th-1_2\"", "/plain/p\xc3\xa4th-1_2"},
      {"a\"b", "\"a\\\"b\"", "a\"b"},
      {"a\\b", "\"a\\\\b\"", "a\\\\b"},
      {"\\\"", "\"\\\\\\\"\"", "\\\\\""},
      {"\\.^$|?*+()[]{}", R"("\\.^$|?*+()[]{}")", R"(\\\.\^\$\|\?\*\+\(\)\[\]\{\})"},
      {"#/-<>,;:'`~!@%&=_ ", "\"#/-<>,;:'`~!@%&=_ \"", "#/-<>,;:'`~!@%&=_ "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sbpl_quote(c.text), c.quoted) << c.text;
    EXPECT_EQ(regex_escape(c.text), c.escaped) << c.text;
  }
}

TEST(ProfileTest, LinesAppearInTheirPlace) {
  const struct {
    std::string name;
    Policy policy;
    std::optional<std::uint16_t> port;
    std::vector<std::pair<int, std::string>> added;
  } cases[] = {
      {"port", {}, 8080, {{12, "(allow network-outbound (remote ip \"localhost:8080\"))"}}},
      {"port 0", {}, 0, {{12, "(allow network-outbound (remote ip \"localhost:0\"))"}}},
      {"port max", {}, 65535, {{12, "(allow network-outbound (remote ip \"localhost:65535\"))"}}},
      {"loopback",
       {.network = {.loopback = true}},
       std::nullopt,
       {{12, "(allow network-bind network-inbound (local ip \"localhost:*\"))"}}},
      {"two sockets",
       {.network = {.sockets = {"/run/a \"b\".sock", "/run/c\\d.sock"}}},
       std::nullopt,
       {{12, R"((allow network-outbound (remote unix-socket (path-literal "/run/a \"b\".sock"))))"},
        {12, R"((allow network-outbound (remote unix-socket (path-literal "/run/c\\d.sock"))))"}}},
      {"write",
       {.write = {"/w/a", "/w/\xff"}},
       std::nullopt,
       {{6, "(allow file-write* (subpath \"/w/a\") (subpath \"/w/\xef\xbf\xbd\"))"}}},
      {"write files",
       {.write_files = {"/w/.env", "/w/caf\xc3\xa9 (1).txt", "/w/q\"x"}},
       std::nullopt,
       {{6, R"((allow file-write* (regex "^/w/\\.env") (regex "^/w/café \\(1\\)\\.txt"))"
            R"( (regex "^/w/q\"x")))"}}},
      {"deny write",
       {.deny_write = {"/w/.git", "/w/a"}},
       std::nullopt,
       {{7, "(deny file-write* (subpath \"/w/.git\") (subpath \"/w/a\"))"}}},
      {"deny read",
       {.deny_read = {"/h"}},
       std::nullopt,
       {{13, "(deny file-read* file-write* (subpath \"/h\"))"}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(build_profile(PreparedPolicy{c.policy}, c.port), smallest_with(c.added)) << c.name;
  }
}

TEST(ProfileTest, ExceptionsReopenWhatTheHiddenFoldersClose) {
  const struct {
    std::string name;
    Policy policy;
    std::vector<std::string> lines;  // the lines after the mach-lookup line
  } cases[] = {
      {"ancestors stop at the hidden folder",
       {.deny_read = {"/u/h"}, .deny_read_except = {"/u/h/a/b"}},
       {"(deny file-read* file-write* (subpath \"/u/h\"))",
        "(allow file-read* (subpath \"/u/h/a/b\"))",
        "(allow file-read-metadata (literal \"/u/h\") (literal \"/u/h/a\"))"}},
      {"ancestors of several exceptions, sorted",
       {.deny_read = {"/h1", "/h2/x"}, .deny_read_except = {"/h1/a/b", "/h1/c", "/h2/x/y"}},
       {"(deny file-read* file-write* (subpath \"/h1\") (subpath \"/h2/x\"))",
        "(allow file-read* (subpath \"/h1/a/b\") (subpath \"/h1/c\") (subpath \"/h2/x/y\"))",
        "(allow file-read-metadata (literal \"/h1\") (literal \"/h1/a\") (literal \"/h2/x\"))"}},
      {"the root hidden",
       {.deny_read = {"/"}, .deny_read_except = {"/a"}},
       {"(deny file-read* file-write* (subpath \"/\"))", "(allow file-read* (subpath \"/a\"))",
        "(allow file-read-metadata (literal \"/\"))"}},
      {"an exception inside a write entry",
       {.write = {"/h/a"}, .deny_read = {"/h"}, .deny_read_except = {"/h/a/b"}},
       {"(deny file-read* file-write* (subpath \"/h\"))", "(allow file-read* (subpath \"/h/a/b\"))",
        "(allow file-read-metadata (literal \"/h\") (literal \"/h/a\"))",
        "(allow file-write* (subpath \"/h/a/b\"))"}},
      {"a write entry inside an exception",
       {.write = {"/h/a/b/c"}, .deny_read = {"/h"}, .deny_read_except = {"/h/a/b"}},
       {"(deny file-read* file-write* (subpath \"/h\"))", "(allow file-read* (subpath \"/h/a/b\"))",
        "(allow file-read-metadata (literal \"/h\") (literal \"/h/a\"))",
        "(allow file-write* (subpath \"/h/a/b/c\"))"}},
      {"the home folder written",
       {.write = {"/u"}, .deny_read = {"/u/.s"}, .deny_read_except = {"/u/.s/ok"}},
       {"(deny file-read* file-write* (subpath \"/u/.s\"))",
        "(allow file-read* (subpath \"/u/.s/ok\"))",
        "(allow file-read-metadata (literal \"/u/.s\"))",
        "(allow file-write* (subpath \"/u/.s/ok\"))"}},
      {"writable entries sorted and unique",
       {.write = {"/h", "/h/a/z", "/h/b"},
        .deny_read = {"/h"},
        .deny_read_except = {"/h/a", "/h/b"}},
       {"(deny file-read* file-write* (subpath \"/h\"))",
        "(allow file-read* (subpath \"/h/a\") (subpath \"/h/b\"))",
        "(allow file-read-metadata (literal \"/h\"))",
        "(allow file-write* (subpath \"/h/a\") (subpath \"/h/a/z\") (subpath \"/h/b\"))"}},
      {"denials inside an exception again",
       {.deny_write = {"/h/a/b/x", "/w"},
        .deny_read = {"/h", "/h/a/b/s"},
        .deny_read_except = {"/h/a/b"}},
       {"(deny file-read* file-write* (subpath \"/h\") (subpath \"/h/a/b/s\"))",
        "(allow file-read* (subpath \"/h/a/b\"))",
        "(allow file-read-metadata (literal \"/h\") (literal \"/h/a\"))",
        "(deny file-write* (subpath \"/h/a/b/x\"))",
        "(deny file-read* file-write* (subpath \"/h/a/b/s\"))"}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> lines =
        split_lines(build_profile(PreparedPolicy{c.policy}, std::nullopt));
    const auto mach = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.starts_with("(allow mach-lookup");
    });
    ASSERT_NE(mach, lines.end()) << c.name;
    EXPECT_EQ(std::vector<std::string>(mach + 1, lines.end()), c.lines) << c.name;
  }
}

TEST(ProfileTest, EveryLineInOrder) {
  const PreparedPolicy policy{{.write = {"/h/a"},
                               .write_files = {"/f"},
                               .deny_write = {"/h/a/b/w"},
                               .deny_read = {"/h", "/h/a/b/r"},
                               .deny_read_except = {"/h/a/b"},
                               .keychain = true,
                               .network = {.loopback = true, .sockets = {"/s"}}}};
  const std::vector<std::string> base = split_lines(kSmallest);
  const std::vector<std::string> expected = {
      base[0],
      base[1],
      base[2],
      base[3],
      base[4],
      base[5],
      R"((allow file-write* (subpath "/h/a")))",
      R"((allow file-write* (regex "^/f")))",
      base[6],
      R"((deny file-write* (subpath "/h/a/b/w")))",
      base[7],
      base[8],
      base[9],
      base[10],
      base[11],
      R"((allow network-outbound (remote ip "localhost:1")))",
      R"((allow network-bind network-inbound (local ip "localhost:*")))",
      R"((allow network-outbound (remote unix-socket (path-literal "/s"))))",
      base[12].substr(0, base[12].size() - 1) +
          R"( (global-name "com.apple.SecurityServer") (global-name "com.apple.securityd.xpc"))"
          R"( (global-name "com.apple.trustd") (global-name "com.apple.ocspd")))",
      R"((deny file-read* file-write* (subpath "/h") (subpath "/h/a/b/r")))",
      R"((allow file-read* (subpath "/h/a/b")))",
      R"((allow file-read-metadata (literal "/h") (literal "/h/a")))",
      R"((allow file-write* (subpath "/h/a/b")))",
      R"((deny file-write* (subpath "/h/a/b/w")))",
      R"((deny file-read* file-write* (subpath "/h/a/b/r")))",
  };
  EXPECT_EQ(split_lines(build_profile(policy, 1)), expected);
}

}  // namespace
}  // namespace kestrum::sandbox
