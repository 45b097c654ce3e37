#include "desktop/one_shot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrum::computer {
namespace {

using namespace std::chrono_literals;

using StringReply = OneShotReply<std::string>;

// Gives a waiter the chance to block before the answer comes; nothing
// depends on how long it really takes.
void pause_briefly() { std::this_thread::sleep_for(10ms); }

TEST(OneShotReply, AnswerFromAnotherThreadReachesTheWaiter) {
  const struct {
    StringReply::Answer answer;
    bool ok;
    std::string text;
  } cases[] = {
      {std::string("content"), true, "content"},
      {fail("the system gave no reason"), false, "the system gave no reason"},
      {std::string(), true, ""},
  };
  for (const auto& c : cases) {
    auto reply = std::make_shared<StringReply>();
    std::thread handler([reply, answer = c.answer] {
      pause_briefly();
      reply->send(answer);
    });
    std::optional<StringReply::Answer> got = reply->wait();
    handler.join();
    ASSERT_TRUE(got.has_value()) << c.text;
    ASSERT_EQ(got->ok(), c.ok) << c.text;
    EXPECT_EQ(c.ok ? got->value() : got->error(), c.text);
  }
}

TEST(OneShotReply, AnswerSentBeforeTheWaitIsKept) {
  // A handler may run inside the call it was given to, before anyone waits.
  auto reply = std::make_shared<OneShotReply<std::unique_ptr<int>>>();
  EXPECT_TRUE(reply->send(std::make_unique<int>(5)));
  auto got = reply->wait_for(0s);
  ASSERT_TRUE(got.has_value());
  ASSERT_TRUE(got->ok());
  EXPECT_EQ(*got->value(), 5);
}

TEST(OneShotReply, SilentHandlerEndsTheWaitAtTheDeadline) {
  auto reply = std::make_shared<StringReply>();
  auto never_called = [reply](StringReply::Answer answer) { reply->send(std::move(answer)); };
  EXPECT_FALSE(reply->wait_for(20ms).has_value());
  EXPECT_FALSE(reply->wait_until(StringReply::Clock::now() - 1s).has_value());
  (void)never_called;
}

TEST(OneShotReply, SecondCallOfTheHandlerIsDropped) {
  auto reply = std::make_shared<StringReply>();
  auto handler = [reply](std::string text) { return reply->send(std::move(text)); };
  bool sent[2] = {};
  std::thread first([&] { sent[0] = handler("first"); });
  first.join();
  std::thread second([&] { sent[1] = handler("second"); });
  second.join();
  auto got = reply->wait();
  EXPECT_TRUE(sent[0]);
  EXPECT_FALSE(sent[1]);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->value(), "first");
}

TEST(OneShotReply, RacingCallsDeliverExactlyTheOneThatWon) {
  constexpr int kCallers = 6;
  for (int round = 0; round < 40; ++round) {
    auto reply = std::make_shared<OneShotReply<int>>();
    std::latch start(kCallers);
    std::vector<char> sent(kCallers, 0);
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i) {
      callers.emplace_back([&, i, reply] {
        start.arrive_and_wait();
        sent[i] = reply->send(i);
      });
    }
    auto got = reply->wait();
    for (auto& caller : callers) caller.join();
    ASSERT_TRUE(got.has_value());
    const int winner = got->value();
    for (int i = 0; i < kCallers; ++i) EXPECT_EQ(sent[i] != 0, i == winner) << "caller " << i;
  }
}

TEST(OneShotReply, LateAnswerIsDroppedAndNotKept) {
  auto reply = std::make_shared<OneShotReply<std::shared_ptr<int>>>();
  std::weak_ptr<OneShotReply<std::shared_ptr<int>>> watch = reply;
  std::latch timed_out(1);
  const auto token = std::make_shared<int>(1);
  bool sent = true;
  std::thread handler([&sent, &timed_out, answer = token, reply]() mutable {
    timed_out.wait();
    sent = reply->send(std::move(answer));
  });
  EXPECT_FALSE(reply->wait_for(1ms).has_value());
  // The waiter lets go first, as a capture does once its wait is over; the
  // handler's own reference keeps the reply alive for the late send.
  reply.reset();
  timed_out.count_down();
  handler.join();
  EXPECT_FALSE(sent);
  EXPECT_EQ(token.use_count(), 1);  // nobody holds the dropped answer
  EXPECT_TRUE(watch.expired());
}

TEST(OneShotReply, WaitingAgainAfterAnAnswerGivesNothing) {
  OneShotReply<int> reply;
  EXPECT_TRUE(reply.send(1));
  ASSERT_TRUE(reply.wait_for(0s).has_value());
  EXPECT_FALSE(reply.send(2));
  EXPECT_FALSE(reply.wait().has_value());
}

}  // namespace
}  // namespace kestrum::computer
