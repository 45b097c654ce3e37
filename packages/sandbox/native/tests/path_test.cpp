#include "policy/path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "temp_tree.h"

namespace kestrum::sandbox {
namespace {

using namespace std::string_literals;

TEST(PathTest, OrdersComponentByComponent) {
  const struct {
    std::string_view a, b;
    int order;
  } cases[] = {
      {"/a/b/c", "/a/b-c", -1},  // plain text order would say the opposite
      {"/a/b", "/a/b/c", -1},    // a prefix sorts first
      {"/a/b", "/ab", -1},      {"/", "/a", -1},
      {"/a//b/", "/a/b", 0},  // empty components are not components
      {"/", "//", 0},           {"/B", "/a", -1},
      {"/a/b", "/a/\xff", -1},  // bytes compare unsigned
      {"/\xc3\xa9", "/z", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compare_paths(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(compare_paths(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
}

TEST(PathTest, InsideAndStrictlyInside) {
  const struct {
    std::string_view path, folder;
    bool inside, strictly;
  } cases[] = {
      {"/a/b", "/a", true, true},  {"/a", "/a", true, false},      {"/a/b/", "/a/b", true, false},
      {"/ab", "/a", false, false}, {"/a-b/c", "/a", false, false}, {"/a", "/a/b", false, false},
      {"/a/b", "/", true, true},   {"/", "/", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(inside(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
    EXPECT_EQ(strictly_inside(c.path, c.folder), c.strictly) << c.path << " in " << c.folder;
  }
}

TEST(PathTest, SortsAndKeepsFirstOfEqualPaths) {
  const struct {
    std::vector<std::string> in, out;
  } cases[] = {
      {{"/a/b-c", "/a/b/c", "/a/b", "/", "/a/b/c"}, {"/", "/a/b", "/a/b/c", "/a/b-c"}},
      {{"/x/", "/y", "/x", "//x"}, {"/x/", "/y"}},
      {{}, {}},
  };
  for (auto c : cases) {
    sort_unique_paths(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(PathTest, CanonicalizesOrJoinsParentWithLastName) {
  testing::TempTree tree;
  tree.folder("real/sub");
  tree.file("real/file.txt");
  tree.link("link", "real");
  tree.link("dangling", "nowhere");
  const std::string real = tree.at("real");
  const std::string enoent = "No such file or directory (os error 2)";
  const std::string nul = "file name contained an unexpected NUL byte";
  const struct {
    std::string entry;
    std::string canonical;  // the path, or the error text
    std::optional<std::string> prepared;
  } cases[] = {
      {tree.at("link"), real, real},
      {tree.at("link/sub/.."), real, real},
      {tree.at("real/./sub/"), real + "/sub", real + "/sub"},
      {tree.at("link/new.txt"), enoent, real + "/new.txt"},
      {tree.at("link/new.txt//"), enoent, real + "/new.txt"},  // a trailing "/" is no component
      {tree.at("dangling"), enoent, tree.at("dangling")},
      {tree.at("missing/new.txt"), enoent, std::nullopt},
      {tree.at("real/missing/.."), enoent, std::nullopt},
      {tree.at("real/new/."), enoent, std::nullopt},
      {tree.at("real/file.txt/x"), "Not a directory (os error 20)", tree.at("real/file.txt/x")},
      {"/", "/", "/"},
      {"/kestrum-no-such-entry", enoent, "/kestrum-no-such-entry"},
      // A NUL would cut the path short for the system: never the shorter path.
      {"/\0zzz"s, nul, std::nullopt},
      {tree.at("real\0/sub"s), nul, std::nullopt},
      {tree.at("real/new\0.txt"s), nul, std::nullopt},
      {tree.at("real/sub\0"s), nul, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto canonical = canonicalize(c.entry);
    EXPECT_EQ(canonical ? *canonical : canonical.error(), c.canonical) << c.entry;
    EXPECT_EQ(canonical_or_parent_join(c.entry), c.prepared) << c.entry;
  }
}

}  // namespace
}  // namespace kestrum::sandbox
