#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "policy/policy.h"
#include "testing/record.h"

namespace kestrum::sandbox {
namespace {

using Changes = std::vector<std::pair<std::string, std::string>>;

// The smallest accepted document with members replaced by (or, for keys it
// lacks, extended with) raw JSON values, in the order given.
std::string policy_with(const Changes& changes) {
  Changes members = {{"version", "6"},
                     {"cwd", "\"/w\""},
                     {"write", "[]"},
                     {"denyWrite", "[]"},
                     {"denyRead", "[]"},
                     {"denyEnv", "[]"},
                     {"network", "{\"allow\":[]}"}};
  for (const auto& change : changes) {
    auto found = std::find_if(members.begin(), members.end(),
                              [&](const auto& m) { return m.first == change.first; });
    if (found != members.end()) {
      found->second = change.second;
    } else {
      members.push_back(change);
    }
  }
  std::string text = "{";
  for (const auto& [key, value] : members) {
    text += (text.size() > 1 ? ",\"" : "\"") + key + "\":" + value;
  }
  return text + "}";
}

std::string network_with(const std::string& members) {
  return policy_with({{"network", "{" + members + "}"}});
}

std::string credentials_with(const std::string& command, const std::string& hosts) {
  return network_with(R"("allow":[],"credentials":{"socket":"/s","command":")" + command +
                      R"(","hosts":)" + hosts + R"(,"certificates":"/c"})");
}

// Every document read here is recorded with its verdict for the schema
// check, so these tables are also the schema's cases.
Result<Policy> parse_recorded(const std::string& text) {
  auto policy = parse_policy(text);
  kestrum::testing::record_case("sandbox-policy", text, policy ? "" : policy.error());
  return policy;
}

// "ok" or the message.
std::string outcome(const std::string& text) {
  auto policy = parse_recorded(text);
  return policy ? "ok" : policy.error();
}

struct Case {
  std::string text;
  std::string outcome;
};

void expect_outcomes(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(outcome(c.text), c.outcome) << c.text;
}

TEST(ParsePolicy, TheSmallestDocumentTakesEveryDefault) {
  auto policy = parse_recorded(policy_with({}));
  ASSERT_TRUE(policy) << policy.error();
  EXPECT_EQ(policy->version, 6u);
  EXPECT_EQ(policy->cwd, "/w");
  EXPECT_TRUE(policy->write.empty() && policy->write_files.empty() &&
              policy->deny_read_except.empty());
  EXPECT_TRUE(policy->keep_env.empty());
  EXPECT_FALSE(policy->keychain);
  EXPECT_FALSE(policy->network.open);
  EXPECT_FALSE(policy->network.loopback);
  EXPECT_TRUE(policy->network.sockets.empty());
  EXPECT_FALSE(policy->network.credentials);
}

void expect_full(const Policy& p) {
  EXPECT_EQ(p.cwd, "/w");
  EXPECT_EQ(p.write, (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(p.write_files, std::vector<std::string>{"/f"});
  EXPECT_EQ(p.deny_write, std::vector<std::string>{"/a/.git"});
  EXPECT_EQ(p.deny_read, std::vector<std::string>{"/h"});
  EXPECT_EQ(p.deny_read_except, std::vector<std::string>{"/h/x"});
  EXPECT_EQ(p.deny_env, std::vector<std::string>{"*_TOKEN"});
  EXPECT_EQ(p.keep_env, std::vector<std::string>{"GH_TOKEN"});
  EXPECT_TRUE(p.keychain);
  EXPECT_EQ(p.network.allow, (std::vector<std::string>{"example.com", "*.example.org"}));
  EXPECT_TRUE(p.network.open);
  EXPECT_FALSE(p.network.loopback);
  EXPECT_EQ(p.network.sockets, std::vector<std::string>{"/run/s.sock"});
  ASSERT_TRUE(p.network.credentials);
  EXPECT_EQ(p.network.credentials->socket, "/run/cred.sock");
  EXPECT_EQ(p.network.credentials->command, "git-credential");
  EXPECT_EQ(p.network.credentials->hosts, std::vector<std::string>{"github.com"});
  EXPECT_EQ(p.network.credentials->certificates, "/etc/certs.pem");
}

TEST(ParsePolicy, ReadsEveryFieldFromObjectsOrArrays) {
  const std::string objects = R"(
    {"network": {"credentials": {"certificates": "/etc/certs.pem", "hosts": ["github.com"],
                                 "command": "git-credential", "socket": "/run/cred.sock"},
                 "sockets": ["/run/s.sock"], "loopback": false, "open": true,
                 "allow": ["example.com", "*.example.org"]},
     "keychain": true, "keepEnv": ["GH_TOKEN"], "denyEnv": ["*_TOKEN"], "denyReadExcept": ["/h/x"],
     "denyRead": ["/h"], "denyWrite": ["/a/.git"], "writeFiles": ["/f"], "write": ["/a", "/b"],
     "cwd": "/w", "version": 6}
  )";
  const std::string arrays =
      R"([6, "/w", ["/a", "/b"], ["/f"], ["/a/.git"], ["/h"], ["/h/x"], ["*_TOKEN"], ["GH_TOKEN"], true,
          [["example.com", "*.example.org"], true, false, ["/run/s.sock"],
           ["/run/cred.sock", "git-credential", ["github.com"], "/etc/certs.pem"]]])";
  for (const std::string& text : {objects, arrays}) {
    auto policy = parse_recorded(text);
    ASSERT_TRUE(policy) << policy.error();
    expect_full(*policy);
  }
}

TEST(ParsePolicy, LeavesOutTrailingArrayElementsAndNullCredentials) {
  for (const std::string& text :
       {std::string(R"([6,"/w",[],[],[],[],[],[],[],false,[[]]])"),
        std::string(R"([6,"/w",[],[],[],[],[],[],[],false,[[],false,false,[],null]])"),
        std::string(R"([6,"/w",[],[],[],[],[],[],[],false,{"allow":[]}])"),
        network_with(R"("allow":[],"credentials":null)")}) {
    auto policy = parse_recorded(text);
    ASSERT_TRUE(policy) << text << ": " << policy.error();
    EXPECT_FALSE(policy->network.credentials) << text;
  }
  EXPECT_EQ(outcome(R"([6,"/w",[],[]])"),
            "invalid policy: invalid length 4, expected struct Policy with 11 elements at line 1 "
            "column 14");
  EXPECT_EQ(outcome(R"([6,"/w",[],[],[],[],[],[],[],false])"),
            "invalid policy: invalid length 10, expected struct Policy with 11 elements at line 1 "
            "column 35");
}

TEST(ParsePolicy, RefusesDocumentsOfTheWrongShape) {
  const std::string policy_fields =
      "one of `version`, `cwd`, `write`, `writeFiles`, `denyWrite`, `denyRead`, `denyReadExcept`, "
      "`denyEnv`, `keepEnv`, `keychain`, `network`";
  expect_outcomes({
      {"[6]",
       "invalid policy: invalid length 1, expected struct Policy with 11 elements at line 1 column "
       "3"},
      {"{\"Version\": 6}", "invalid policy: unknown field `Version`, expected " + policy_fields +
                               " at line 1 column 10"},
      {"{\"version\": 6}", "invalid policy: missing field `cwd` at line 1 column 14"},
      {"{\"version\": 6, \"version\": 6}",
       "invalid policy: duplicate field `version` at line 1 column 24"},
      {policy_with({{"extra", "1"}}), "invalid policy: unknown field `extra`, expected " +
                                          policy_fields + " at line 1 column 107"},
      {network_with(R"("allow":[],"proxy":1)"),
       "invalid policy: unknown field `proxy`, expected one of `allow`, `open`, `loopback`, "
       "`sockets`, "
       "`credentials` at line 1 column 106"},
      {network_with(R"("allow":[],"credentials":{})"),
       "invalid policy: missing field `socket` at line 1 column 115"},
      {network_with(R"("allow":[],"credentials":{"user":1})"),
       "invalid policy: unknown field `user`, expected one of `socket`, `command`, `hosts`, "
       "`certificates` "
       "at line 1 column 120"},
      {network_with(R"("allow":[],"credentials":[])"),
       "invalid policy: invalid length 0, expected struct Credentials with 4 elements at line 1 "
       "column 115"},
      {policy_with({{"network", "[]"}}),
       "invalid policy: invalid length 0, expected struct Network with 5 elements at line 1 column "
       "89"},
      {policy_with({{"network", "5"}}),
       "invalid policy: invalid type: integer `5`, expected struct Network at line 1 column 88"},
      {"\"policy\"",
       "invalid policy: invalid type: string \"policy\", expected struct Policy at line 1 column "
       "8"},
      {"", "invalid policy: EOF while parsing a value at line 1 column 0"},
      {policy_with({}) + " x", "invalid policy: trailing characters at line 1 column 102"},
      {policy_with({}) + " \n\t", "ok"},
  });
}

TEST(ParsePolicy, RefusesValuesOfTheWrongType) {
  expect_outcomes({
      {policy_with({{"version", "5"}}),
       "policy version 5 is not supported; this launcher reads version 6"},
      {policy_with({{"version", "-1"}}),
       "invalid policy: invalid value: integer `-1`, expected u32 at line 1 column 13"},
      {policy_with({{"version", "4294967296"}}),
       "invalid policy: invalid value: integer `4294967296`, expected u32 at line 1 column 21"},
      {policy_with({{"version", "\"6\""}}),
       "invalid policy: invalid type: string \"6\", expected u32 at line 1 column 14"},
      {policy_with({{"version", "6.0"}}),
       "invalid policy: invalid type: floating point `6.0`, expected u32 at line 1 column 14"},
      {policy_with({{"cwd", "[]"}}),
       "invalid policy: invalid type: sequence, expected path string at line 1 column 19"},
      {policy_with({{"write", "\"/a\""}}),
       "invalid policy: invalid type: string \"/a\", expected a sequence at line 1 column 36"},
      {policy_with({{"write", "[\"/a\", 7]"}}),
       "invalid policy: invalid type: integer `7`, expected path string at line 1 column 40"},
      {policy_with({{"denyEnv", "[null]"}}),
       "invalid policy: invalid type: null, expected a string at line 1 column 79"},
      {policy_with({{"keychain", "\"yes\""}}),
       "invalid policy: invalid type: string \"yes\", expected a boolean at line 1 column 116"},
      {policy_with({{"keychain", "null"}}),
       "invalid policy: invalid type: null, expected a boolean at line 1 column 115"},
      {network_with(R"("allow":[],"open":1)"),
       "invalid policy: invalid type: integer `1`, expected a boolean at line 1 column 107"},
  });
}

TEST(ParsePolicy, LocatesReaderErrorsByLineAndColumn) {
  const std::string head = "{\n  \"version\": 6,\n  \"cwd\": \"/w\",\n";
  expect_outcomes({
      {head + "  \"write\": [\"/a\", 7],\n}",
       "invalid policy: invalid type: integer `7`, expected path string at line 4 column 19"},
      {head + "  \"write\": [\"/a\"],\n}", "invalid policy: trailing comma at line 5 column 1"},
      {head + "  \"write\": [\"/a\"]\n  \"denyWrite\": []\n}",
       "invalid policy: expected `,` or `}` at line 5 column 3"},
      {head + "  \"write\" : [],\n  \"write\": []\n}",
       "invalid policy: duplicate field `write` at line 5 column 9"},
      {head + "  \"write\": [\"/a\", \"unterminated]\n}",
       "invalid policy: control character (\\u0000-\\u001F) found while parsing a string at line 5 "
       "column 0"},
      {head + "  \"network\": {\"allow\": [\"\\u00\"]}\n}",
       "invalid policy: invalid escape at line 4 column 31"},
      // A typed fault before a syntax error further on wins.
      {head + "  \"write\": 1,\n  \"denyWrite\": [\n",
       "invalid policy: invalid type: integer `1`, expected a sequence at line 4 column 12"},
      {head + "  \"write\": [],\n", "invalid policy: EOF while parsing a value at line 5 column 0"},
  });
}

TEST(ParsePolicy, ChecksHostNames) {
  const std::string longest = std::string(249, 'a') + ".com";  // 253 bytes
  const auto allow = [](const std::string& host) {
    return network_with("\"allow\":[\"" + host + "\"]");
  };
  expect_outcomes({
      {allow("*.example"), "ok"},
      {allow("example.com"), "ok"},
      {allow("[::1]"), "ok"},
      {allow("localhost:8080"), "ok"},
      {allow("[::1]:443"), "ok"},
      {allow("Example-1.COM"), "ok"},
      {allow(longest), "ok"},
      {allow("*." + longest), "ok"},
      {allow("x" + longest), "policy host \"x" + longest + "\" is not a host name"},
      {allow("*."), "policy host \"*.\" is not a host name"},
      {allow("*"), "policy host \"*\" is not a host name"},
      {allow("*.*.example"), "policy host \"*.*.example\" is not a host name"},
      {allow(""), "policy host \"\" is not a host name"},
      {allow("a b"), "policy host \"a b\" is not a host name"},
      {allow("tab\\t"), "policy host \"tab\\t\" is not a host name"},
      {allow("quote\\\"d"), "policy host \"quote\\\"d\" is not a host name"},
      {allow("b\xc3\xbc"
             "cher.example"),
       "policy host \"b\xc3\xbc"
       "cher.example\" is not a host name"},
      {allow("zero\\u200bwidth"), "policy host \"zero\\u{200b}width\" is not a host name"},
      {allow("under_score.example"), "policy host \"under_score.example\" is not a host name"},
  });
}

TEST(ParsePolicy, ChecksCredentialHostsAfterAllowAndThenTheCommand) {
  const std::string letters64(64, 'c');
  expect_outcomes({
      {credentials_with(letters64, "[\"*.example\"]"), "ok"},
      {credentials_with("git-credential-2", "[]"), "ok"},
      {credentials_with(letters64 + "c", "[]"),
       "policy command \"" + letters64 + "c\" is not a command name"},
      {credentials_with("git_credential", "[]"),
       "policy command \"git_credential\" is not a command name"},
      {credentials_with("", "[]"), "policy command \"\" is not a command name"},
      {credentials_with("git.cred", "[]"), "policy command \"git.cred\" is not a command name"},
      {credentials_with("git_credential", "[\"ok.example\", \"bad host\"]"),
       "policy host \"bad host\" is not a host name"},
      {network_with(
           R"("allow":["bad one"],"credentials":{"socket":"/s","command":"c","hosts":["bad two"],)"
           R"("certificates":"/c"})"),
       "policy host \"bad one\" is not a host name"},
  });
}

TEST(ParsePolicy, ChecksThatPathsAreAbsoluteInOrder) {
  const std::string credentials =
      R"("credentials":{"socket":"sock","command":"c","hosts":[],"certificates":"certs"})";
  expect_outcomes({
      {policy_with({{"cwd", "\"relative\""}}), "policy path relative is not absolute"},
      {policy_with({{"cwd", "\"\""}}), "policy path  is not absolute"},
      {policy_with({{"cwd", "\"r\\u00e9l\""}}), "policy path r\xc3\xa9l is not absolute"},
      {policy_with({{"write", R"(["/a", "b"])"}}), "policy path b is not absolute"},
      {policy_with({{"denyRead", R"(["dr"])"},
                    {"denyReadExcept", R"(["dre"])"},
                    {"writeFiles", R"(["wf"])"},
                    {"denyWrite", R"(["dw"])"}}),
       "policy path wf is not absolute"},
      {policy_with({{"denyRead", R"(["dr"])"},
                    {"denyReadExcept", R"(["dre"])"},
                    {"denyWrite", R"(["dw"])"}}),
       "policy path dw is not absolute"},
      {policy_with({{"denyRead", R"(["dr"])"}, {"denyReadExcept", R"(["dre"])"}}),
       "policy path dr is not absolute"},
      {policy_with(
           {{"denyReadExcept", R"(["dre"])"}, {"network", R"({"allow":[],"sockets":["s"]})"}}),
       "policy path dre is not absolute"},
      {network_with(R"("allow":[],"sockets":["s"],)" + credentials),
       "policy path s is not absolute"},
      {network_with(R"("allow":[],)" + credentials), "policy path sock is not absolute"},
      {network_with(
           R"("allow":[],"credentials":{"socket":"/s","command":"c","hosts":[],"certificates":"c"})"),
       "policy path c is not absolute"},
  });
}

TEST(ParsePolicy, ReportsOnlyTheFirstFailingCheck) {
  expect_outcomes({
      {policy_with({{"version", "7"}, {"network", R"({"allow":["bad host"]})"}}),
       "policy version 7 is not supported; this launcher reads version 6"},
      {network_with(
           R"("allow":["bad host"],"credentials":{"socket":"/s","command":"bad_cmd","hosts":[],)"
           R"("certificates":"/c"})"),
       "policy host \"bad host\" is not a host name"},
      {policy_with({{"cwd", "\"relative\""},
                    {"network",
                     R"({"allow":[],"credentials":{"socket":"/s","command":"bad_cmd","hosts":[],)"
                     R"("certificates":"/c"}})"}}),
       "policy command \"bad_cmd\" is not a command name"},
  });
}

}  // namespace
}  // namespace kestrum::sandbox
