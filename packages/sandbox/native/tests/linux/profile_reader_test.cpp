#include "linux/profile_reader.h"

#include <gtest/gtest.h>

#include "policy/policy.h"
#include "policy/profile.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrum::sandbox {
namespace {

using Paths = std::vector<std::string>;

struct RoundTrip {
  const char* name;
  Policy policy;
  std::optional<std::uint16_t> port;
  ProfileRules expected;
};

Policy with_network(Policy policy, bool loopback) {
  policy.network.loopback = loopback;
  return policy;
}

const RoundTrip kRoundTrips[] = {
    {"smallest", {}, std::nullopt, {}},
    {"write lists",
     {.write = {"/p", "/q r"},
      .write_files = {"/h/.gitconfig", "/h/a[1]$(x)"},
      .deny_write = {"/p/.git"}},
     std::nullopt,
     {.write = {"/p", "/q r"},
      .write_files = {"/h/.gitconfig", "/h/a[1]$(x)"},
      .deny_write = {"/p/.git"}}},
    {"quotes and backslashes", {.write = {"/a\"b\\c"}}, std::nullopt, {.write = {"/a\"b\\c"}}},
    // A file name may hold a line feed; it ends no line of the profile.
    {"line feeds in paths",
     {.write_files = {"/p/a\n)\n(allow default)"}, .deny_read = {"/h\n\"\n"}},
     std::nullopt,
     {.write_files = {"/p/a\n)\n(allow default)"}, .deny_read = {"/h\n\"\n"}}},
    {"exceptions and what follows from them",
     {.write = {"/h/x/a/b/c", "/p"},
      .deny_write = {"/h/x/a/b/g"},
      .deny_read = {"/h/x", "/h/x/a/b/s"},
      .deny_read_except = {"/h/x/a/b"}},
     std::nullopt,
     {.write = {"/h/x/a/b/c", "/p"},
      .deny_write = {"/h/x/a/b/g"},
      .deny_read = {"/h/x", "/h/x/a/b/s"},
      .exceptions = {"/h/x/a/b"},
      .traverse = {"/h/x", "/h/x/a"},
      .write_in_exceptions = {"/h/x/a/b/c"},
      .deny_write_in_exceptions = {"/h/x/a/b/g"},
      .deny_read_in_exceptions = {"/h/x/a/b/s"}}},
    {"proxy port", {}, 8080, {.port = 8080}},
    {"loopback and keychain",
     with_network({.keychain = true}, true),
     std::nullopt,
     {.loopback = true, .keychain = true}},
};

TEST(ReadProfile, ReadsBackEveryListTheLauncherWrites) {
  for (const RoundTrip& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    auto rules = read_profile(build_profile(PreparedPolicy{row.policy}, row.port));
    ASSERT_TRUE(rules) << rules.error();
    const ProfileRules& e = row.expected;
    EXPECT_EQ(rules->write, e.write);
    EXPECT_EQ(rules->write_files, e.write_files);
    EXPECT_EQ(rules->deny_write, e.deny_write);
    EXPECT_EQ(rules->deny_read, e.deny_read);
    EXPECT_EQ(rules->exceptions, e.exceptions);
    EXPECT_EQ(rules->traverse, e.traverse);
    EXPECT_EQ(rules->write_in_exceptions, e.write_in_exceptions);
    EXPECT_EQ(rules->deny_write_in_exceptions, e.deny_write_in_exceptions);
    EXPECT_EQ(rules->deny_read_in_exceptions, e.deny_read_in_exceptions);
    EXPECT_EQ(rules->port, e.port);
    EXPECT_EQ(rules->loopback, e.loopback);
    EXPECT_EQ(rules->keychain, e.keychain);
  }
}

TEST(ReadProfile, ReadsSocketLinesSoThatThePlanCanRefuseThem) {
  PreparedPolicy policy;
  policy.network.sockets = {"/run/a.sock", "/run/b.sock"};
  auto rules = read_profile(build_profile(policy, std::nullopt));
  ASSERT_TRUE(rules) << rules.error();
  EXPECT_EQ(rules->sockets, (Paths{"/run/a.sock", "/run/b.sock"}));
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// The probe's profile, edited line by line.
std::vector<std::string> probe_lines() {
  PreparedPolicy policy;
  policy.write = {"/t"};
  policy.deny_write = {"/t/.git"};
  policy.deny_read = {"/t/hidden"};
  return lines_of(build_profile(policy, std::nullopt));
}

struct Refusal {
  const char* name;
  std::string text;
  std::string message;
};

std::vector<Refusal> refusals() {
  const std::vector<std::string> probe = probe_lines();
  auto edited = [&](std::size_t index, std::string line) {
    auto lines = probe;
    lines[index] = std::move(line);
    return joined(lines);
  };
  auto inserted = [&](std::size_t index, std::string line) {
    auto lines = probe;
    lines.insert(lines.begin() + static_cast<long>(index), std::move(line));
    return joined(lines);
  };
  auto swapped = probe;
  std::swap(swapped[6], swapped[8]);
  const std::vector<std::string> truncated(probe.begin(), probe.begin() + 13);
  return {
      {"empty", "", "line 1: unknown or out of place: "},
      {"newline at the end", joined(probe) + "\n", "line 17: unknown or out of place: "},
      {"carriage return", joined(probe) + "\r",
       "line 16: unknown or out of place: " + probe[15] + "\r"},
      {"unknown rule", inserted(15, "(allow network*)"),
       "line 16: unknown or out of place: (allow network*)"},
      {"lines in another order", joined(swapped), "line 7: unknown or out of place: " + probe[8]},
      {"lines missing", joined(truncated), "line 14: missing: " + probe[13]},
      {"a fixed line altered", edited(5, "(allow file-read* file-write*)"),
       "line 6: unknown or out of place: (allow file-read* file-write*)"},
      {"extra space", edited(6, "(allow file-write*  (subpath \"/t\"))"),
       "line 7: unknown or out of place: (allow file-write*  (subpath \"/t\"))"},
      {"unescaped regex character", inserted(7, "(allow file-write* (regex \"^/t/a.b\"))"),
       "line 8: malformed regex: ^/t/a.b"},
      {"regex without its anchor", inserted(7, "(allow file-write* (regex \"/t/a\"))"),
       "line 8: malformed regex: /t/a"},
      {"port with a leading zero",
       inserted(14, "(allow network-outbound (remote ip \"localhost:080\"))"),
       "line 15: unknown or out of place: (allow network-outbound (remote ip \"localhost:080\"))"},
      {"port out of range",
       inserted(14, "(allow network-outbound (remote ip \"localhost:65536\"))"),
       "line 15: malformed port: (allow network-outbound (remote ip \"localhost:65536\"))"},
      {"replaced bytes in a path", edited(6, "(allow file-write* (subpath \"/t/\xEF\xBF\xBD\"))"),
       "line 7: a path that is not valid UTF-8 cannot be enforced: /t/\xEF\xBF\xBD"},
      // The refusal is one line, though the path holds a line feed.
      {"replaced bytes after a line feed",
       edited(6, "(allow file-write* (subpath \"/t/\n\xEF\xBF\xBD\"))"),
       "line 7: a path that is not valid UTF-8 cannot be enforced: /t/"},
      {"bytes that are not UTF-8", edited(6, "(allow file-write* (subpath \"/t/\xFF\"))"),
       "the profile is not valid UTF-8"},
      {"unterminated string", edited(6, "(allow file-write* (subpath \"/t))"),
       "line 7: unknown or out of place: (allow file-write* (subpath \"/t))"},
  };
}

TEST(ReadProfile, RefusesEveryProfileTheLauncherWouldNotWrite) {
  for (const Refusal& row : refusals()) {
    SCOPED_TRACE(row.name);
    auto rules = read_profile(row.text);
    ASSERT_FALSE(rules);
    EXPECT_EQ(rules.error(), row.message);
  }
}

TEST(ReadProfile, AcceptsTheProbesProfileUnchanged) {
  auto rules = read_profile(joined(probe_lines()));
  ASSERT_TRUE(rules) << rules.error();
  EXPECT_EQ(rules->write, Paths{"/t"});
  EXPECT_EQ(rules->deny_write, Paths{"/t/.git"});
  EXPECT_EQ(rules->deny_read, Paths{"/t/hidden"});
}

}  // namespace
}  // namespace kestrum::sandbox
