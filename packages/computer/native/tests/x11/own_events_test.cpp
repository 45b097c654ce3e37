#include "x11/own_events.h"

#include <gtest/gtest.h>

namespace kestrum::computer::x11 {
namespace {

using Clock = OwnEvents::Clock;
using namespace std::chrono_literals;

TEST(OwnEvents, ClaimsInOrderAndForgetsWhatNeverCame) {
  const Clock::time_point t0{};
  OwnEvents own;
  own.note({OwnKind::kMotion, 0, 10, 20, t0});
  own.note({OwnKind::kButtonPress, 1, 0, 0, t0});
  own.note({OwnKind::kMotion, 0, 30, 40, t0});
  own.note({OwnKind::kKeyPress, 38, 0, 0, t0});
  // The first motion comes back with where it went.
  const auto first = own.claim(OwnKind::kMotion, 0, t0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->x, 10);
  EXPECT_EQ(first->y, 20);
  // Another button or key than the server's is not the server's.
  EXPECT_FALSE(own.claim(OwnKind::kButtonPress, 3, t0));
  EXPECT_FALSE(own.claim(OwnKind::kKeyPress, 39, t0));
  // The button press never came back: the next motion claims past it.
  EXPECT_EQ(own.claim(OwnKind::kMotion, 0, t0)->x, 30);
  EXPECT_EQ(own.pending(), 1u);
  EXPECT_TRUE(own.claim(OwnKind::kKeyPress, 38, t0));
  EXPECT_FALSE(own.claim(OwnKind::kKeyPress, 38, t0));
}

TEST(OwnEvents, KeysDoNotOvertakeThePointersRecord) {
  const Clock::time_point t0{};
  OwnEvents own;
  // A frozen pointer holds its events back while the key comes through.
  own.note({OwnKind::kMotion, 0, 1, 2, t0});
  own.note({OwnKind::kButtonPress, 1, 0, 0, t0});
  own.note({OwnKind::kKeyPress, 38, 0, 0, t0});
  EXPECT_TRUE(own.claim(OwnKind::kKeyPress, 38, t0));
  EXPECT_TRUE(own.claim(OwnKind::kMotion, 0, t0));
  EXPECT_TRUE(own.claim(OwnKind::kButtonPress, 1, t0));
  EXPECT_EQ(own.pending(), 0u);
}

TEST(OwnEvents, RecordsExpire) {
  const Clock::time_point t0{};
  OwnEvents own;
  own.note({OwnKind::kKeyPress, 38, 0, 0, t0});
  EXPECT_FALSE(own.claim(OwnKind::kKeyPress, 38, t0 + OwnEvents::kLifetime + 1ms));
  EXPECT_EQ(own.pending(), 0u);
  own.note({OwnKind::kKeyPress, 38, 0, 0, t0});
  EXPECT_TRUE(own.claim(OwnKind::kKeyPress, 38, t0 + OwnEvents::kLifetime));
}

}  // namespace
}  // namespace kestrum::computer::x11
