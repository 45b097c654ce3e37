// gtest before any X header: Xlib defines None, which gtest names too.
// clang-format off
#include <gtest/gtest.h>
#include "x11/running_apps.h"
// clang-format on

namespace kestrum::computer::x11 {
namespace {

TEST(RunningApps, OnePerProcessNamedByItsFirstWindow) {
  const std::vector<ClientWindow> windows = {
      {1, 10, "Term", false},  {2, std::nullopt, "NoPid", false},
      {3, 11, "Panel", true},  {4, 10, "Other", false},
      {5, 12, "", false},      {6, 11, "Late", false},
      {7, 13, "Paint", false},
  };
  const std::vector<DesktopEntry> entries = {
      {"kestrum-paint", "Paint Program", std::string("Paint"), "paint"},
      {"Term", "Terminal", std::nullopt, "xterm"},
  };
  const std::vector<RunningApp> apps = running_apps(windows, entries);
  ASSERT_EQ(apps.size(), 4u);
  const struct {
    std::int64_t pid;
    std::optional<std::string> id, name, bundle;
    std::int64_t policy;
  } want[] = {
      {10, "Term", "Terminal", "Term", 0},
      {11, "Panel", "Panel", std::nullopt, kSystemPolicy},
      {12, std::nullopt, std::nullopt, std::nullopt, 0},
      {13, "Paint", "Paint Program", "kestrum-paint", 0},
  };
  for (std::size_t i = 0; i < apps.size(); ++i) {
    EXPECT_EQ(apps[i].pid, want[i].pid) << i;
    EXPECT_EQ(apps[i].bundle_identifier, want[i].id) << i;
    EXPECT_EQ(apps[i].localized_name, want[i].name) << i;
    EXPECT_EQ(apps[i].bundle_file_name, want[i].bundle) << i;
    EXPECT_EQ(apps[i].activation_policy, want[i].policy) << i;
  }
}

}  // namespace
}  // namespace kestrum::computer::x11
