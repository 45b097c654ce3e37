#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "policy/policy.h"
#include "temp_tree.h"

namespace kestrum::sandbox {
namespace {

using namespace std::string_literals;

// Paths and messages in the tables start with "@", which stands for the tree's root.
class PreparePolicyTest : public ::testing::Test {
 protected:
  PreparePolicyTest() {
    tree_.folder("project");
    tree_.folder("hidden/a/b/c");
    tree_.folder("hidden/a/b-c");
    tree_.file("hidden/file.txt");
    tree_.file("plain.txt");
    tree_.link("link-project", "project");
    tree_.link("hidden-link", "hidden");
    tree_.link("hidden/alias", "a");
    tree_.link("hidden/out", "../project");
  }

  std::string at(const std::string& text) const {
    return text.starts_with("@") ? tree_.at("") + text.substr(1) : text;
  }
  std::vector<std::string> at(const std::vector<std::string>& texts) const {
    std::vector<std::string> out;
    for (const auto& text : texts) out.push_back(at(text));
    return out;
  }
  Policy policy() const {
    Policy p;
    p.version = 6;
    p.cwd = at("@/project");
    return p;
  }

  testing::TempTree tree_;
};

TEST_F(PreparePolicyTest, CwdIsCanonicalOrTheOnlyFailureThatWins) {
  const struct {
    std::string cwd;
    std::vector<std::string> except;
    std::string result;  // the prepared cwd, or the message
    bool ok;
  } cases[] = {
      {"@/link-project/", {}, "@/project", true},
      {"@/plain.txt", {}, "@/plain.txt", true},  // a file fails only when the command starts
      {"@/missing", {}, "@/missing: No such file or directory (os error 2)", false},
      {"@/plain.txt/sub", {}, "@/plain.txt/sub: Not a directory (os error 20)", false},
      {"@/\xff", {}, "@/\xef\xbf\xbd: No such file or directory (os error 2)", false},
      // Never the folder before the NUL.
      {"@/project\0zzz"s, {}, "@/project\0zzz: file name contained an unexpected NUL byte"s, false},
      {"@/missing", {"@/hidden"}, "@/missing: No such file or directory (os error 2)", false},
  };
  for (const auto& c : cases) {
    Policy p = policy();
    p.cwd = at(c.cwd);
    p.deny_read_except = at(c.except);
    const auto prepared = prepare_policy(p);
    ASSERT_EQ(prepared.ok(), c.ok) << c.cwd;
    EXPECT_EQ(c.ok ? prepared->cwd : prepared.error(), at(c.result));
  }
}

TEST_F(PreparePolicyTest, ExceptionsAreVerifiedInDocumentOrder) {
  const struct {
    std::vector<std::string> deny_read, except;
    std::variant<std::vector<std::string>, std::string> result;  // prepared list, or the message
  } cases[] = {
      {{"@/hidden"}, {"@/hidden/a/b", "@/hidden/a/b/c"}, std::vector<std::string>{"@/hidden/a/b"}},
      {{"@/hidden"},
       {"@/hidden-link/a/b/c", "@/hidden/a/./b", "@/hidden/alias/b-c", "@/hidden/a/b"},
       std::vector<std::string>{"@/hidden/a/b", "@/hidden/a/b-c"}},
      {{"@/hidden"},
       {"@/hidden/a/b-c", "@/hidden/a/b/c", "@/hidden/a"},
       std::vector<std::string>{"@/hidden/a"}},
      {{"@/hidden-link", "@/missing"}, {"@/hidden/alias"}, std::vector<std::string>{"@/hidden/a"}},
      {{"@/hidden"}, {"@/hidden"}, "@/hidden is not inside a hidden folder"},
      {{}, {"@/hidden/a"}, "@/hidden/a is not inside a hidden folder"},
      {{"@/missing"}, {"@/missing/a", "@/hidden/a"}, "@/missing/a is not a folder"},
      {{"@/missing"}, {"@/hidden/a"}, "@/hidden/a is not inside a hidden folder"},
      {{"@/hidden"}, {"@/hidden/out"}, "@/hidden/out is not inside a hidden folder"},
      {{"@/hidden"}, {"@/hidden/./file.txt"}, "@/hidden/./file.txt is not a folder"},
      {{"@/hidden"}, {"@/hidden/missing", "@/hidden"}, "@/hidden/missing is not a folder"},
      {{"@/hidden"}, {"@/hidden", "@/hidden/missing"}, "@/hidden is not inside a hidden folder"},
      {{"@/hidden"}, {"@/hidden/\xff"}, "@/hidden/\xef\xbf\xbd is not a folder"},
      {{"@/hidden"}, {"@/hidden/a/b\0/c"s}, "@/hidden/a/b\0/c is not a folder"s},
      {{"@/hidden\0/a"s}, {"@/hidden/a"}, "@/hidden/a is not inside a hidden folder"},
  };
  for (const auto& c : cases) {
    Policy p = policy();
    p.deny_read = at(c.deny_read);
    p.deny_read_except = at(c.except);
    const auto prepared = prepare_policy(p);
    if (const auto* list = std::get_if<std::vector<std::string>>(&c.result)) {
      ASSERT_TRUE(prepared.ok()) << prepared.error();
      EXPECT_EQ(prepared->deny_read_except, at(*list));
    } else {
      ASSERT_FALSE(prepared.ok()) << c.except.front();
      EXPECT_EQ(prepared.error(), at(std::get<std::string>(c.result)));
    }
  }
}

TEST_F(PreparePolicyTest, WriteAndDenyReadKeepOnlyExistingEntries) {
  const std::vector<std::string> entries =
      at(std::vector<std::string>{"@/link-project", "@/project/", "@/missing", "@/project/new.txt",
                                  "@/hidden/a/b-c", "@/hidden/a/b/c", "@/hidden/../hidden/a/b",
                                  "@/hidden-link/file.txt", "/\0zzz"s, "@/project\0/x"s});
  const std::vector<std::string> expected = at(std::vector<std::string>{
      "@/hidden/a/b", "@/hidden/a/b/c", "@/hidden/a/b-c", "@/hidden/file.txt", "@/project"});
  Policy p = policy();
  p.write = entries;
  p.deny_read = entries;
  const auto prepared = prepare_policy(p);
  ASSERT_TRUE(prepared.ok()) << prepared.error();
  EXPECT_EQ(prepared->write, expected);
  EXPECT_EQ(prepared->deny_read, expected);
}

TEST_F(PreparePolicyTest, FileEntriesFallBackToParentJoinedWithName) {
  const struct {
    std::string entry;
    std::optional<std::string> prepared;
  } cases[] = {
      {"@/link-project/new.txt", "@/project/new.txt"},
      {"@/link-project/new.txt/", "@/project/new.txt"},
      {"@/hidden-link/file.txt", "@/hidden/file.txt"},
      {"@/missing/new.txt", std::nullopt},
      {"@/project/..", "@"},
      {"@/project/new/..", std::nullopt},
      {"@/missing/..", std::nullopt},
      {"@/project/new/.", std::nullopt},
      {"@/project/.", "@/project"},
      {"@/plain.txt/..", std::nullopt},  // the parent exists, but ".." is no name
      {"@/plain.txt/.", std::nullopt},
      {"@/plain.txt/x", "@/plain.txt/x"},
      {"/\0zzz"s, std::nullopt},
      {"@/project/new\0.txt"s, std::nullopt},
      {"@/project\0/new.txt"s, std::nullopt},
  };
  for (const auto& c : cases) {
    Policy p = policy();
    p.write_files = p.deny_write = p.network.sockets = {at(c.entry)};
    const auto prepared = prepare_policy(p);
    ASSERT_TRUE(prepared.ok()) << prepared.error();
    const std::vector<std::string> expected =
        c.prepared ? std::vector<std::string>{at(*c.prepared)} : std::vector<std::string>{};
    EXPECT_EQ(prepared->write_files, expected) << c.entry;
    EXPECT_EQ(prepared->deny_write, expected) << c.entry;
    EXPECT_EQ(prepared->network.sockets, expected) << c.entry;
  }

  Policy p = policy();
  p.write_files = at(std::vector<std::string>{"@/project/b", "@/link-project/a", "@/project/a"});
  const auto sorted = prepare_policy(p);
  ASSERT_TRUE(sorted.ok()) << sorted.error();
  EXPECT_EQ(sorted->write_files, at(std::vector<std::string>{"@/project/a", "@/project/b"}));
}

// The credential service's paths belong to the proxy, which opens them as
// written; only the command's own paths are resolved.
TEST_F(PreparePolicyTest, CredentialPathsStayAsWritten) {
  Policy p = policy();
  p.deny_env = {"*_TOKEN", "AWS_*", "*_TOKEN"};
  p.network.credentials = Credentials{
      at("@/link-project/cred.sock"), "git-cred", {"*.example"}, at("@/link-project/ca.pem")};
  const auto prepared = prepare_policy(p);
  ASSERT_TRUE(prepared.ok()) << prepared.error();
  EXPECT_EQ(prepared->deny_env, p.deny_env);
  ASSERT_TRUE(prepared->network.credentials.has_value());
  EXPECT_EQ(prepared->network.credentials->socket, at("@/link-project/cred.sock"));
  EXPECT_EQ(prepared->network.credentials->certificates, at("@/link-project/ca.pem"));
}

}  // namespace
}  // namespace kestrum::sandbox
