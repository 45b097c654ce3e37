#include "serve/dispatch.h"

#include <gtest/gtest.h>

#include "serve/serve_loop.h"
#include "support/state_fixture.h"

namespace kestrum::computer {
namespace {

using testing::StateFixture;

constexpr std::int64_t kMail = 10;
constexpr std::int64_t kNotes = 11;

// The answer the serve loop would write for request 1.
std::string answer(StateFixture& fixture, const Op& op, Party party = Party::kAgent) {
  return json::to_json(answer_object(1, handle_request(fixture.state, op, party)));
}

void prepare(StateFixture& fixture, Party owner) {
  fixture.desktop.apps = {{kMail, "com.example.Mail", "Mail", "Mail.app", 0},
                          {kNotes, "com.example.Notes", "Notes", "Notes.app", 0}};
  fixture.desktop.element = ElementProcess{kMail};
  fixture.desktop.front = kMail;
  const std::lock_guard<std::mutex> hold(fixture.state.control_lock);
  fixture.state.control.granted = {"com.example.Mail"};
  fixture.state.control.owner = owner;
}

TEST(Dispatch, OperationsRunTheirChecksInOrder) {
  const std::string ok = R"({"id":1,"ok":true})";
  const std::string person = R"({"id":1,"ok":false,"refused":{"kind":"person"}})";
  const std::string apps =
      R"({"apps":[{"bundleName":"Mail","id":"com.example.Mail","name":"Mail"},)"
      R"({"bundleName":"Notes","id":"com.example.Notes","name":"Notes"}],)"
      R"("front":"com.example.Mail","id":1,"ok":true})";
  const struct {
    std::string name;
    Op op;
    Party owner;
    Party party;
    std::string want;
    std::size_t posts;
  } cases[] = {
      {"apps needs no owner", op::Apps{}, Party::kPerson, Party::kAgent, apps, 0},
      {"capture needs no owner", op::Capture{0}, Party::kPerson, Party::kAgent,
       R"({"height":900,"id":1,"ok":true,)"
       R"("screen":{"height":900.0,"width":1440.0,"x":0.0,"y":0.0},"width":1440})",
       0},
      {"a click count comes first", op::Click{1, 1, MouseButton::kLeft, 0}, Party::kPerson,
       Party::kAgent, R"({"error":"a click counts 1 to 3 clicks","id":1,"ok":false})", 0},
      {"four clicks", op::Click{1, 1, MouseButton::kLeft, 4}, Party::kAgent, Party::kAgent,
       R"({"error":"a click counts 1 to 3 clicks","id":1,"ok":false})", 0},
      {"a click is checked", op::Click{1, 1, MouseButton::kRight, 3}, Party::kPerson, Party::kAgent,
       person, 0},
      {"a checked click", op::Click{1, 1, MouseButton::kRight, 3}, Party::kAgent, Party::kAgent, ok,
       7},
      {"move off the display", op::Move{-1, 1}, Party::kAgent, Party::kAgent,
       R"({"id":1,"ok":false,"refused":{"kind":"off-screen"}})", 0},
      {"move", op::Move{1, 1}, Party::kAgent, Party::kAgent, ok, 1},
      {"a short drag comes first", op::Drag{{{1, 1}}}, Party::kPerson, Party::kAgent,
       R"({"error":"a drag needs at least two points","id":1,"ok":false})", 0},
      {"every drag point is checked", op::Drag{{{1, 1}, {2, 2}, {5000, 1}}}, Party::kAgent,
       Party::kAgent, R"({"id":1,"ok":false,"refused":{"kind":"off-screen"}})", 0},
      {"drag", op::Drag{{{1, 1}, {2, 2}}}, Party::kAgent, Party::kAgent, ok, 4},
      {"scroll is checked", op::Scroll{1, 1, 0, 3}, Party::kAgent, Party::kPerson,
       R"({"id":1,"ok":false,"refused":{"kind":"agent"}})", 0},
      {"scroll", op::Scroll{1, 1, 0, 3}, Party::kAgent, Party::kAgent, ok, 2},
      {"empty text needs no check", op::Type{""}, Party::kPerson, Party::kAgent, ok, 0},
      {"text is checked", op::Type{"x"}, Party::kPerson, Party::kAgent, person, 0},
      {"text for the person", op::Type{"x"}, Party::kPerson, Party::kPerson, ok, 2},
      {"keys are checked", op::Key{"cmd+c"}, Party::kPerson, Party::kAgent, person, 0},
      {"keys parse first", op::Key{"hyper+c"}, Party::kPerson, Party::kAgent,
       R"({"error":"\"hyper\" is not a modifier","id":1,"ok":false})", 0},
      {"a key without a code", op::Key{"cmd+\xc3\xa9"}, Party::kAgent, Party::kAgent,
       R"({"error":"this key has no key code on this keyboard","id":1,"ok":false})", 0},
      {"keys", op::Key{"cmd+c"}, Party::kAgent, Party::kAgent, ok, 2},
      {"open checks as the agent", op::Open{"com.example.Mail"}, Party::kPerson, Party::kPerson,
       person, 0},
      {"whoever asks", op::Open{"com.example.Notes"}, Party::kAgent, Party::kPerson,
       R"({"id":1,"ok":false,"refused":{"app":"com.example.Notes","kind":"not-granted"}})", 0},
      {"open", op::Open{"com.example.Mail"}, Party::kAgent, Party::kAgent, ok, 0},
  };
  for (const auto& c : cases) {
    StateFixture fixture;
    prepare(fixture, c.owner);
    fixture.desktop.open = "/bin/true";
    EXPECT_EQ(answer(fixture, c.op, c.party), c.want) << c.name;
    EXPECT_EQ(fixture.desktop.posted.size(), c.posts) << c.name;
  }
}

// An exception out of an operation would end the whole server.
TEST(ServeLoop, MemoryRunningOutCostsOnlyThatAnswer) {
  StateFixture fixture;
  fixture.desktop.answer_content = [](const ContentHandler&) { throw std::bad_alloc(); };
  ASSERT_TRUE(answer_line(fixture.state, R"({"id":1,"op":"capture","maxSide":0})").ok());
  ASSERT_TRUE(answer_line(fixture.state, R"({"id":2,"op":"owner","owner":"agent"})").ok());
  EXPECT_EQ(fixture.messages(), (std::vector<std::string>{
                                    R"({"error":"the server ran out of memory","id":1,"ok":false})",
                                    R"({"id":2,"ok":true})"}));
}

}  // namespace
}  // namespace kestrum::computer
