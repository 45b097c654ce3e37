#include "serve/tap.h"

#include <gtest/gtest.h>

#include <map>

#include "support/state_fixture.h"

namespace kestrum::computer {
namespace {

using testing::FakeTap;
using testing::kTakeover;
using testing::StateFixture;

TEST(Tap, DisabledNoticesSwitchTheStoredTapBackOn) {
  StateFixture fixture;
  fixture.grant({"a"});
  TapContext context(fixture.state);
  // Before a tap is stored there is nothing to switch on.
  context.on_event(event_type::kTapDisabledByTimeout, PlainTapEvent(0, 0, 0));
  int enabled = 0;
  context.holder().store(std::make_unique<FakeTap>(enabled));
  context.on_event(event_type::kTapDisabledByTimeout, PlainTapEvent(0, 0, 0));
  context.on_event(event_type::kTapDisabledByUserInput, PlainTapEvent(0, 0, 0));
  EXPECT_EQ(enabled, 2);
  // The notices are not the person's input.
  EXPECT_EQ(fixture.control().owner, Party::kAgent);
  EXPECT_TRUE(fixture.messages().empty());
}

TEST(Tap, EventsTaggedByTheServerNeverCount) {
  StateFixture fixture;
  fixture.grant({"a"});
  TapContext context(fixture.state);
  for (std::uint32_t type : {1u, 3u, 5u, 6u, 7u, 10u, 22u, 25u, 27u}) {
    context.on_event(type, PlainTapEvent(kEventTag, 1000, 1000));
  }
  EXPECT_EQ(fixture.control().owner, Party::kAgent);
  EXPECT_EQ(fixture.control().motion_total, 0);
  // Any other tag is the person's.
  context.on_event(event_type::kMouseMoved, PlainTapEvent(kEventTag + 1, 1, 2));
  EXPECT_EQ(fixture.control().motion_total, 3);
}

TEST(Tap, TypesSplitIntoMotionAndPress) {
  const struct {
    std::uint32_t type;
    bool motion;
  } cases[] = {
      {event_type::kLeftMouseDown, false},    {event_type::kRightMouseDown, false},
      {event_type::kMouseMoved, true},        {event_type::kLeftMouseDragged, true},
      {event_type::kRightMouseDragged, true}, {event_type::kKeyDown, false},
      {event_type::kScrollWheel, false},      {event_type::kOtherMouseDown, false},
      {event_type::kOtherMouseDragged, true},
  };
  for (const auto& c : cases) {
    StateFixture fixture;
    fixture.grant({"a"});
    TapContext context(fixture.state);
    // Deltas of 2 and -3 stay below a takeover as motion; a press takes
    // over whatever its fields say.
    context.on_event(c.type, PlainTapEvent(0, 2, -3));
    const ControlState control = fixture.control();
    if (c.motion) {
      EXPECT_EQ(control.owner, Party::kAgent) << c.type;
      EXPECT_EQ(control.motion_total, 5) << c.type;
      EXPECT_TRUE(fixture.messages().empty()) << c.type;
    } else {
      EXPECT_EQ(control.owner, Party::kPerson) << c.type;
      EXPECT_EQ(control.motion_total, 0) << c.type;
      EXPECT_EQ(fixture.messages(), std::vector<std::string>{std::string(kTakeover)}) << c.type;
    }
  }
}

}  // namespace
}  // namespace kestrum::computer
