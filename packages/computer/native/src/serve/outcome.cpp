#include "serve/outcome.h"

namespace kestrum::computer {
namespace {

constexpr std::string_view kUnreadablePrefix = "unreadable request: ";

json::Object failure_object(std::string text) {
  json::Object answer;
  answer["ok"] = false;
  answer["error"] = std::move(text);
  return answer;
}

struct BuildAnswer {
  json::Object operator()(const Reply& reply) const {
    json::Object answer;
    answer["ok"] = true;
    // A reply field may replace "ok"; nothing replaces "id", inserted last.
    for (const auto& [key, value] : reply.fields) answer[key] = value;
    return answer;
  }
  json::Object operator()(const Refusal& refusal) const {
    json::Object answer;
    answer["ok"] = false;
    answer["refused"] = refusal_object(refusal);
    return answer;
  }
  json::Object operator()(const Failure& failure) const { return failure_object(failure.text); }
};

}  // namespace

std::string_view refusal_kind_name(RefusalKind kind) {
  switch (kind) {
    case RefusalKind::kOffScreen:
      return "off-screen";
    case RefusalKind::kDesktop:
      return "desktop";
    case RefusalKind::kKestrum:
      return "kestrum";
    case RefusalKind::kOutside:
      return "outside";
    case RefusalKind::kNoApp:
      return "no-app";
    case RefusalKind::kNotInFront:
      return "not-in-front";
    case RefusalKind::kSecureInput:
      return "secure-input";
    case RefusalKind::kPerson:
      return "person";
    case RefusalKind::kAgent:
      return "agent";
    case RefusalKind::kNotGranted:
      return "not-granted";
  }
  return "";
}

json::Object refusal_object(const Refusal& refusal) {
  json::Object object;
  object["kind"] = refusal_kind_name(refusal.kind);
  switch (refusal.kind) {
    case RefusalKind::kOutside:
    case RefusalKind::kNotInFront:
      object["app"] = refusal.app;
      object["name"] = refusal.name;
      break;
    case RefusalKind::kNotGranted:
      object["app"] = refusal.app;
      break;
    case RefusalKind::kOffScreen:
    case RefusalKind::kDesktop:
    case RefusalKind::kKestrum:
    case RefusalKind::kNoApp:
    case RefusalKind::kSecureInput:
    case RefusalKind::kPerson:
    case RefusalKind::kAgent:
      break;
  }
  return object;
}

json::Object answer_object(std::uint64_t id, const Outcome& outcome) {
  json::Object answer = std::visit(BuildAnswer{}, outcome);
  answer["id"] = id;
  return answer;
}

json::Object unreadable_answer(std::string_view parse_error) {
  json::Object answer = failure_object(std::string(kUnreadablePrefix) + std::string(parse_error));
  answer["id"] = nullptr;
  return answer;
}

json::Object takeover_event() {
  json::Object event;
  event["event"] = "owner";
  event["owner"] = "person";
  return event;
}

}  // namespace kestrum::computer
