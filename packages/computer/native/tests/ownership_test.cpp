#include "serve/ownership.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/state_fixture.h"

// Table rows name only the members that matter; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrum::computer {
namespace {

using testing::kTakeover;
using testing::StateFixture;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string show(const std::optional<Outcome>& stop) {
  if (!stop) return "allowed";
  if (const auto* failure = std::get_if<Failure>(&*stop)) return "failure: " + failure->text;
  const auto& refusal = std::get<Refusal>(*stop);
  return json::to_json(refusal_object(refusal));
}

// One step of the person's or the client's doing.
struct Step {
  enum Kind { kMotion, kPress, kOwnerAgent, kOwnerPerson } kind;
  double dx = 0;
  double dy = 0;
};

TEST(Ownership, PersonInputFollowsTheStateMachine) {
  const struct {
    std::string name;
    bool granted;
    std::vector<Step> steps;
    Party owner;
    double total;
    std::size_t events;
  } cases[] = {
      {"nothing granted ignores everything",
       false,
       {{Step::kPress}, {Step::kMotion, 50, 50}},
       Party::kAgent,
       0,
       0},
      {"motions add up to six",
       true,
       {{Step::kMotion, 2, 0}, {Step::kMotion, 0, 3}, {Step::kMotion, 1, 0}},
       Party::kPerson,
       6,
       1},
      {"below six keeps the agent",
       true,
       {{Step::kMotion, 2, 0}, {Step::kMotion, 0, 3}},
       Party::kAgent,
       5,
       0},
      {"a diagonal counts both axes", true, {{Step::kMotion, 3, 3}}, Party::kPerson, 6, 1},
      {"negative deltas count by size", true, {{Step::kMotion, -4, -2}}, Party::kPerson, 6, 1},
      {"a press takes over at once", true, {{Step::kPress}}, Party::kPerson, 0, 1},
      {"after a takeover nothing changes",
       true,
       {{Step::kPress}, {Step::kMotion, 9, 9}, {Step::kPress}},
       Party::kPerson,
       0,
       1},
      {"the owner request resets the total",
       true,
       {{Step::kMotion, 4, 4}, {Step::kOwnerAgent}, {Step::kMotion, 5, 0}},
       Party::kAgent,
       5,
       1},
      {"and a further point then takes over",
       true,
       {{Step::kMotion, 4, 4}, {Step::kOwnerAgent}, {Step::kMotion, 5, 0}, {Step::kMotion, 0, 1}},
       Party::kPerson,
       6,
       2},
      {"the owner request announces nothing",
       true,
       {{Step::kOwnerPerson}, {Step::kOwnerAgent}},
       Party::kAgent,
       0,
       0},
      {"a total that is not a number never takes over",
       true,
       {{Step::kMotion, kNaN, 0}, {Step::kMotion, 100, 0}},
       Party::kAgent,
       kNaN,
       0},
      {"but a press still does",
       true,
       {{Step::kMotion, kNaN, 0}, {Step::kPress}},
       Party::kPerson,
       kNaN,
       1},
  };
  for (const auto& c : cases) {
    StateFixture fixture;
    if (c.granted) fixture.grant({"com.example.Mail"});
    for (const Step& step : c.steps) {
      switch (step.kind) {
        case Step::kMotion:
          note_person_input(fixture.state, MotionNote{step.dx, step.dy});
          break;
        case Step::kPress:
          note_person_input(fixture.state, PressNote{});
          break;
        case Step::kOwnerAgent:
          set_owner(fixture.state, Party::kAgent);
          break;
        case Step::kOwnerPerson:
          set_owner(fixture.state, Party::kPerson);
          break;
      }
    }
    const ControlState control = fixture.control();
    EXPECT_EQ(control.owner, c.owner) << c.name;
    if (std::isnan(c.total)) {
      EXPECT_TRUE(std::isnan(control.motion_total)) << c.name;
    } else {
      EXPECT_EQ(control.motion_total, c.total) << c.name;
    }
    EXPECT_EQ(fixture.messages(), std::vector<std::string>(c.events, std::string(kTakeover)))
        << c.name;
  }
}

TEST(Ownership, GrantsAreASortedSetAndNeverTheServersOwn) {
  StateFixture fixture(OwnIdentity{std::nullopt, "com.kestrum.app"});
  ASSERT_TRUE(set_grants(fixture.state, {"b", "a", "b", "B"}).ok());
  EXPECT_EQ(fixture.control().granted, (std::set<std::string>{"B", "a", "b"}));

  auto refused = set_grants(fixture.state, {"x", "com.kestrum.app"});
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), (Refusal{RefusalKind::kKestrum, "", ""}));
  EXPECT_EQ(fixture.control().granted, (std::set<std::string>{"B", "a", "b"}));

  // Case matters: this is another identifier.
  ASSERT_TRUE(set_grants(fixture.state, {"COM.KESTRUM.APP"}).ok());
  ASSERT_TRUE(set_grants(fixture.state, {}).ok());
  EXPECT_TRUE(fixture.control().granted.empty());
}

constexpr std::int64_t kOwnPid = 500;
constexpr std::int64_t kMail = 10;
constexpr std::int64_t kNotes = 11;
constexpr std::int64_t kKestrum = 12;
constexpr std::int64_t kNameless = 13;
constexpr std::int64_t kStray = 99;  // a process without a running-application object

std::vector<RunningApp> running() {
  return {
      {kMail, "com.example.Mail", "Mail", "Mail.app", 0},
      {kNotes, "com.example.Notes", "Notes", "Notes.app", 0},
      {kKestrum, "com.kestrum.app", "Kestrum", "Kestrum.app", 0},
      {kNameless, "com.example.Tool", std::nullopt, std::nullopt, 0},
      {kOwnPid, "com.example.Host", "Host", std::nullopt, 0},
  };
}

TEST(Ownership, PointerTargetCheck) {
  const OwnIdentity own{kOwnPid, "com.kestrum.app"};
  const struct {
    std::string name;
    ElementAtPoint element;
    Point point;
    std::string want;
    Party party = Party::kAgent;
    Party owner = Party::kAgent;
    std::set<std::string> granted = {"com.example.Mail"};
    DisplayBounds bounds = {0, 0, 1440, 900};
  } cases[] = {
      {"granted app", ElementProcess{kMail}, {100, 200}, "allowed"},
      {"not granted",
       ElementProcess{kNotes},
       {100, 200},
       R"({"app":"com.example.Notes","kind":"outside","name":"Notes"})"},
      {"a nameless app is named by its id",
       ElementProcess{kNameless},
       {1, 1},
       R"({"app":"com.example.Tool","kind":"outside","name":"com.example.Tool"})"},
      {"a system window",
       ElementProcess{kStray},
       {1, 1},
       R"({"app":"","kind":"outside","name":"a system window"})"},
      {"a granted empty identifier lets a system window through",
       ElementProcess{kStray},
       {1, 1},
       "allowed",
       Party::kAgent,
       Party::kAgent,
       {""}},
      {"own application by identifier",
       ElementProcess{kKestrum},
       {1, 1},
       R"({"kind":"kestrum"})",
       Party::kAgent,
       Party::kAgent,
       {"com.kestrum.app"}},
      {"own process",
       ElementProcess{kOwnPid},
       {1, 1},
       R"({"kind":"kestrum"})",
       Party::kAgent,
       Party::kAgent,
       {"com.example.Host"}},
      {"nothing under the point", NoElement{}, {1, 1}, R"({"kind":"desktop"})"},
      {"left of the display", ElementProcess{kMail}, {-0.5, 1}, R"({"kind":"off-screen"})"},
      {"right edge is outside", ElementProcess{kMail}, {1440, 1}, R"({"kind":"off-screen"})"},
      {"bottom edge is outside", ElementProcess{kMail}, {1, 900}, R"({"kind":"off-screen"})"},
      {"last point inside", ElementProcess{kMail}, {1439.9, 899.9}, "allowed"},
      {"not a number", ElementProcess{kMail}, {kNaN, 1}, R"({"kind":"off-screen"})"},
      {"off-screen beats the lookup", NoElement{}, {5000, 1}, R"({"kind":"off-screen"})"},
      {"a display left of the origin",
       ElementProcess{kMail},
       {-1, 5},
       "allowed",
       Party::kAgent,
       Party::kAgent,
       {"com.example.Mail"},
       {-1440, 0, 1440, 900}},
      {"and its right edge",
       ElementProcess{kMail},
       {0, 5},
       R"({"kind":"off-screen"})",
       Party::kAgent,
       Party::kAgent,
       {"com.example.Mail"},
       {-1440, 0, 1440, 900}},
      {"no accessibility service",
       NoAccessibilityService{},
       {1, 1},
       "failure: the accessibility service is not available"},
      {"even off-screen",
       NoAccessibilityService{},
       {-5, -5},
       "failure: the accessibility service is not available"},
      {"the person owns",
       ElementProcess{kMail},
       {1, 1},
       R"({"kind":"person"})",
       Party::kAgent,
       Party::kPerson},
      {"asked for the person",
       ElementProcess{kMail},
       {1, 1},
       "allowed",
       Party::kPerson,
       Party::kPerson},
      {"the agent owns",
       ElementProcess{kMail},
       {1, 1},
       R"({"kind":"agent"})",
       Party::kPerson,
       Party::kAgent},
  };
  for (const auto& c : cases) {
    StateFixture fixture(own);
    fixture.desktop.apps = running();
    fixture.desktop.element = c.element;
    fixture.desktop.bounds = c.bounds;
    {
      const std::lock_guard<std::mutex> hold(fixture.state.control_lock);
      fixture.state.control.granted = c.granted;
      fixture.state.control.owner = c.owner;
    }
    EXPECT_EQ(show(check_pointer_target(fixture.state, c.party, c.point)), c.want) << c.name;
  }
}

TEST(Ownership, PointerLookupUsesSinglePrecision) {
  StateFixture fixture;
  fixture.desktop.element = NoElement{};
  (void)check_pointer_target(fixture.state, Party::kAgent, {0.1, 1e300});
  ASSERT_EQ(fixture.desktop.looked_up.size(), 1u);
  EXPECT_EQ(fixture.desktop.looked_up[0].first, 0.1f);
  EXPECT_EQ(fixture.desktop.looked_up[0].second, std::numeric_limits<float>::infinity());
}

TEST(Ownership, KeyboardTargetCheck) {
  const OwnIdentity own{kOwnPid, "com.kestrum.app"};
  const struct {
    std::string name;
    std::optional<std::int64_t> front;
    std::string want;
    bool secure = false;
    Party party = Party::kAgent;
    std::set<std::string> granted = {"com.example.Mail"};
  } cases[] = {
      {"granted in front", kMail, "allowed"},
      {"not granted in front", kNotes,
       R"({"app":"com.example.Notes","kind":"not-in-front","name":"Notes"})"},
      {"nothing in front", std::nullopt, R"({"kind":"no-app"})"},
      {"own application in front",
       kKestrum,
       R"({"kind":"kestrum"})",
       false,
       Party::kAgent,
       {"com.kestrum.app"}},
      {"own process in front",
       kOwnPid,
       R"({"kind":"kestrum"})",
       false,
       Party::kAgent,
       {"com.example.Host"}},
      {"secure entry blocks the agent", kMail, R"({"kind":"secure-input"})", true},
      {"before the missing front", std::nullopt, R"({"kind":"secure-input"})", true},
      {"but not the person", kMail, "allowed", true, Party::kPerson},
      {"who still needs a front", std::nullopt, R"({"kind":"no-app"})", true, Party::kPerson},
  };
  for (const auto& c : cases) {
    StateFixture fixture(own);
    fixture.desktop.apps = running();
    fixture.desktop.front = c.front;
    fixture.desktop.secure_input = c.secure;
    {
      const std::lock_guard<std::mutex> hold(fixture.state.control_lock);
      fixture.state.control.granted = c.granted;
      fixture.state.control.owner = c.party;
    }
    EXPECT_EQ(show(check_keyboard_target(fixture.state, c.party)), c.want) << c.name;
  }
}

TEST(Ownership, OpenCheck) {
  const struct {
    std::string name;
    std::string app;
    std::string want;
    Party owner = Party::kAgent;
  } cases[] = {
      {"granted", "com.example.Mail", "allowed"},
      {"not granted", "com.example.Notes", R"({"app":"com.example.Notes","kind":"not-granted"})"},
      {"granted but the server's own", "com.kestrum.app",
       R"({"app":"com.kestrum.app","kind":"not-granted"})"},
      {"the person owns", "com.example.Mail", R"({"kind":"person"})", Party::kPerson},
  };
  for (const auto& c : cases) {
    StateFixture fixture(OwnIdentity{std::nullopt, "com.kestrum.app"});
    {
      const std::lock_guard<std::mutex> hold(fixture.state.control_lock);
      // Granted directly: the grant request itself would refuse the own one.
      fixture.state.control.granted = {"com.example.Mail", "com.kestrum.app"};
      fixture.state.control.owner = c.owner;
    }
    EXPECT_EQ(show(check_open(fixture.state, c.app)), c.want) << c.name;
  }
}

}  // namespace
}  // namespace kestrum::computer
