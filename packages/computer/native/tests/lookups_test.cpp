#include "desktop/lookups.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "support/fake_desktop.h"

namespace kestrum::computer {
namespace {

using testing::FakeDesktop;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(Lookups, DisplayGeometryScalesBothSidesByTheModesWidth) {
  const struct {
    double width, height;
    std::uint64_t mode;
    std::uint64_t pixel_width, pixel_height;
    double scale;
  } cases[] = {
      {1512, 982, 3024, 3024, 1964, 2},
      {1440, 900, 1440, 1440, 900, 1},
      {1440, 900, 0, 1440, 900, 1},     // no current mode
      {0, 900, 100, 0, 900, 1},         // no width to scale by
      {-10, 5, 20, 0, 5, 1},            // a negative side saturates to 0
      {1000.5, 0.5, 2001, 2001, 1, 2},  // halves round away from zero
      {2.5, 3.5, 0, 3, 4, 1},
      {1e30, 1e20, 0, kMax, kMax, 1},  // beyond the range saturates
      {kNaN, 10, 0, 0, 10, 1},
      {3, 2, 4, 4, 3, 4.0 / 3.0},  // 2.666… rounds to 3
  };
  for (const auto& c : cases) {
    FakeDesktop desktop;
    desktop.bounds = {0, 0, c.width, c.height};
    desktop.mode_width = c.mode;
    const DisplayGeometry geometry = display_geometry(desktop);
    EXPECT_EQ(geometry.pixel_width, c.pixel_width)
        << c.width << "x" << c.height << " mode " << c.mode;
    EXPECT_EQ(geometry.pixel_height, c.pixel_height)
        << c.width << "x" << c.height << " mode " << c.mode;
    EXPECT_EQ(geometry.scale, c.scale) << c.width << "x" << c.height << " mode " << c.mode;
  }
}

TEST(Lookups, SaturatingRound) {
  const struct {
    double value;
    std::uint64_t want;
  } cases[] = {
      {0, 0},
      {0.49, 0},
      {0.5, 1},
      {1.5, 2},
      {2.5, 3},
      {-0.4, 0},
      {-0.5, 0},
      {-7, 0},
      {kNaN, 0},
      {kInf, kMax},
      {-kInf, 0},
      {18446744073709551616.0, kMax},
      {18446744073709549568.0, 18446744073709549568u},
  };
  for (const auto& c : cases) EXPECT_EQ(saturating_round(c.value), c.want) << c.value;
}

TEST(Lookups, BundleNames) {
  const struct {
    std::string file;
    std::optional<std::string> want;
  } cases[] = {
      {"Notes.app", "Notes"},
      {"Tool .app", "Tool"},
      {".app", std::nullopt},
      {"x.APP", "x.APP"},  // the suffix is case-sensitive
      {"app", "app"},
      {"a.app", "a"},
      {".app.app", ".app"},
      {" Safari.app ", "Safari.app"},            // the suffix must be last
      {"\xc2\xa0Mail\xe3\x80\x80.app", "Mail"},  // Unicode white space
      {"", std::nullopt},
      {"  \t", std::nullopt},
      {"Mail", "Mail"},
  };
  for (const auto& c : cases) EXPECT_EQ(bundle_name(c.file), c.want) << c.file;
}

TEST(Lookups, AppRecords) {
  const OwnIdentity own{42, "com.kestrum.app"};
  const struct {
    RunningApp app;
    OwnIdentity own;
    std::string id, name;
    std::optional<std::string> bundle;
    bool is_own;
  } cases[] = {
      {{1, "com.example.Notes", "Notes", "Notes.app", 0},
       own,
       "com.example.Notes",
       "Notes",
       "Notes",
       false},
      {{1, "com.example.Tool", std::nullopt, std::nullopt, 0},
       own,
       "com.example.Tool",
       "com.example.Tool",
       std::nullopt,
       false},
      {{1, std::nullopt, std::nullopt, ".app", 0}, own, "", "", std::nullopt, false},
      {{42, "com.example.Host", "Host", std::nullopt, 0},
       own,
       "com.example.Host",
       "Host",
       std::nullopt,
       true},
      {{1, "com.kestrum.app", "Kestrum", "Kestrum.app", 0},
       own,
       "com.kestrum.app",
       "Kestrum",
       "Kestrum",
       true},
      {{1, "COM.KESTRUM.APP", "K", std::nullopt, 0},
       own,
       "COM.KESTRUM.APP",
       "K",
       std::nullopt,
       false},
      // An empty identifier never matches the own one, even an empty one.
      {{1, std::nullopt, "X", std::nullopt, 0},
       OwnIdentity{std::nullopt, ""},
       "",
       "X",
       std::nullopt,
       false},
      {{-5, "a", "A", std::nullopt, 0},
       OwnIdentity{-5, std::nullopt},
       "a",
       "A",
       std::nullopt,
       true},
      {{-5, "a", "A", std::nullopt, 0}, OwnIdentity{}, "a", "A", std::nullopt, false},
  };
  for (const auto& c : cases) {
    const AppRecord record = app_record(c.app, c.own);
    EXPECT_EQ(record.id, c.id);
    EXPECT_EQ(record.name, c.name) << c.id;
    EXPECT_EQ(record.bundle_name, c.bundle) << c.id;
    EXPECT_EQ(record.is_own, c.is_own) << c.id;
  }
}

TEST(Lookups, FrontmostAppIsReportedUnfiltered) {
  FakeDesktop desktop;
  desktop.apps = {{7, std::nullopt, "Nameless", std::nullopt, 2},
                  {8, "com.kestrum.app", "Kestrum", std::nullopt, 0}};
  EXPECT_FALSE(frontmost_app(desktop, {}).has_value());
  desktop.front = 7;
  ASSERT_TRUE(frontmost_app(desktop, {}).has_value());
  EXPECT_EQ(frontmost_app(desktop, {})->id, "");
  EXPECT_EQ(frontmost_app(desktop, {})->name, "Nameless");
  desktop.front = 8;
  EXPECT_TRUE(frontmost_app(desktop, {std::nullopt, "com.kestrum.app"})->is_own);
}

TEST(Lookups, SinglePrecisionCoordinates) {
  const struct {
    double value;
    float want;
  } cases[] = {
      {1.0, 1.0f},
      {0.1, 0.1f},
      {-1512.25, -1512.25f},
      {1e39, std::numeric_limits<float>::infinity()},
      {-1e39, -std::numeric_limits<float>::infinity()},
      {3.4028235e38, FLT_MAX},  // above the largest float, rounds down to it
      {340282356779733661637539395458142568448.0,
       std::numeric_limits<float>::infinity()},  // the halfway point
      {kInf, std::numeric_limits<float>::infinity()},
  };
  for (const auto& c : cases) EXPECT_EQ(to_f32(c.value), c.want) << c.value;
  EXPECT_TRUE(std::isnan(to_f32(kNaN)));
}

std::string show(const Result<AppAtPoint>& found) {
  if (!found) return "error: " + found.error();
  if (std::holds_alternative<NoApp>(*found)) return "none";
  const AppRecord& app = std::get<AppRecord>(*found);
  return "[" + app.id + "] " + app.name + (app.bundle_name ? " (" + *app.bundle_name + ")" : "") +
         (app.is_own ? " own" : "");
}

TEST(Lookups, AppAtPoint) {
  const OwnIdentity own{77, std::nullopt};
  const struct {
    ElementAtPoint element;
    std::string want;
  } cases[] = {
      {NoAccessibilityService{}, "error: the accessibility service is not available"},
      {NoElement{}, "none"},
      {ElementProcess{10}, "[com.example.Mail] Mail (Mail)"},
      {ElementProcess{11}, "[] a system window"},
      {ElementProcess{77}, "[] a system window own"},
  };
  for (const auto& c : cases) {
    FakeDesktop desktop;
    desktop.apps = {{10, "com.example.Mail", "Mail", "Mail.app", 0}};
    desktop.element = c.element;
    EXPECT_EQ(show(app_at_point(desktop, 1, 2, own)), c.want);
  }
}

}  // namespace
}  // namespace kestrum::computer
