#include "serve/outcome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "desktop/lookups.h"
#include "json/writer.h"
#include "serve/reply_fields.h"

namespace kestrum::computer {
namespace {

std::string text(const json::Object& object) { return json::to_json(object); }

TEST(Answer, EnvelopesHaveTheirKeysInByteOrder) {
  Reply with_fields;
  with_fields.fields["width"] = std::uint64_t{3};
  with_fields.fields["id"] = "replaced by the request's";
  with_fields.fields["bundleName"] = "Notes";
  const struct {
    std::uint64_t id;
    Outcome outcome;
    std::string want;
  } cases[] = {
      {7, Reply{}, R"({"id":7,"ok":true})"},
      {5, with_fields, R"({"bundleName":"Notes","id":5,"ok":true,"width":3})"},
      {8, Failure{"a drag needs at least two points"},
       R"({"error":"a drag needs at least two points","id":8,"ok":false})"},
      {9, Refusal{RefusalKind::kPerson, "", ""},
       R"({"id":9,"ok":false,"refused":{"kind":"person"}})"},
      {18446744073709551615u, Failure{"quote \" and\ttab"},
       R"({"error":"quote \" and\ttab","id":18446744073709551615,"ok":false})"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(answer_object(c.id, c.outcome)), c.want);
}

TEST(Answer, RefusalObjectsCarryOnlyTheirKindsMembers) {
  const struct {
    Refusal refusal;
    std::string want;
  } cases[] = {
      {{RefusalKind::kOffScreen, "a", "b"}, R"({"kind":"off-screen"})"},
      {{RefusalKind::kDesktop, "a", "b"}, R"({"kind":"desktop"})"},
      {{RefusalKind::kKestrum, "a", "b"}, R"({"kind":"kestrum"})"},
      {{RefusalKind::kOutside, "com.example.Mail", "Mail"},
       R"({"app":"com.example.Mail","kind":"outside","name":"Mail"})"},
      {{RefusalKind::kOutside, "", "a system window"},
       R"({"app":"","kind":"outside","name":"a system window"})"},
      {{RefusalKind::kNoApp, "a", "b"}, R"({"kind":"no-app"})"},
      {{RefusalKind::kNotInFront, "x", "X"}, R"({"app":"x","kind":"not-in-front","name":"X"})"},
      {{RefusalKind::kSecureInput, "a", "b"}, R"({"kind":"secure-input"})"},
      {{RefusalKind::kPerson, "a", "b"}, R"({"kind":"person"})"},
      {{RefusalKind::kAgent, "a", "b"}, R"({"kind":"agent"})"},
      {{RefusalKind::kNotGranted, "com.example.Mail", "Mail"},
       R"({"app":"com.example.Mail","kind":"not-granted"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(refusal_object(c.refusal)), c.want);
}

TEST(Answer, UnreadableLinesHaveANullId) {
  EXPECT_EQ(
      text(unreadable_answer("missing field `id` at line 1 column 2")),
      R"({"error":"unreadable request: missing field `id` at line 1 column 2","id":null,"ok":false})");
}

TEST(Answer, TakeoverEvent) {
  EXPECT_EQ(text(takeover_event()), R"({"event":"owner","owner":"person"})");
}

TEST(Answer, ScreenNumbersAreAlwaysFloats) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    ScreenRect rect;
    std::string want;
  } cases[] = {
      {{0, 0, 1440, 900}, R"({"height":900.0,"width":1440.0,"x":0.0,"y":0.0})"},
      {{-1512, 0.5, 1e21, 1e16}, R"({"height":1e16,"width":1e21,"x":-1512.0,"y":0.5})"},
      {{-0.0, 0.00001, 1.5e-7, 1000000000000000},
       R"({"height":1000000000000000.0,"width":1.5e-7,"x":-0.0,"y":0.00001})"},
      {{nan, inf, -inf, 1e-6}, R"({"height":1e-6,"width":null,"x":null,"y":null})"},
      {{0.1, 123456.789, 18446744073709551616.0, 2.5},
       R"({"height":2.5,"width":1.8446744073709552e19,"x":0.1,"y":123456.789})"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(screen_object(c.rect)), c.want);
}

}  // namespace
}  // namespace kestrum::computer
