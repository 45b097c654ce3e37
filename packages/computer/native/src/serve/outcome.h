// What handling one request gives, and the JSON part of every message the
// server writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/writer.h"

namespace kestrum::computer {

// In the order of their internal codes.
enum class RefusalKind {
  kOffScreen,
  kDesktop,
  kKestrum,
  kOutside,
  kNoApp,
  kNotInFront,
  kSecureInput,
  kPerson,
  kAgent,
  kNotGranted,
};

struct Refusal {
  RefusalKind kind = RefusalKind::kDesktop;
  // Only for the kinds that carry them: "outside" and "not-in-front" carry
  // both, "not-granted" only the identifier.
  std::string app;
  std::string name;

  bool operator==(const Refusal&) const = default;
};

struct Failure {
  std::string text;

  bool operator==(const Failure&) const = default;
};

struct Reply {
  json::Object fields;
  std::vector<std::uint8_t> payload;
};

using Outcome = std::variant<Reply, Refusal, Failure>;

std::string_view refusal_kind_name(RefusalKind kind);
json::Object refusal_object(const Refusal& refusal);

// The answer's JSON part for a request with `id`.
json::Object answer_object(std::uint64_t id, const Outcome& outcome);
// The answer to a line that is not a request; `parse_error` includes its
// position.
json::Object unreadable_answer(std::string_view parse_error);
// {"event":"owner","owner":"person"}: the only message that is not an answer.
json::Object takeover_event();

}  // namespace kestrum::computer
