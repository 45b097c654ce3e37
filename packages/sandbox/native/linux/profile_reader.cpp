#include "linux/profile_reader.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/utf8.h"
#include "policy/policy.h"
#include "policy/profile.h"
#include "policy/profile_grammar.h"

namespace kestrum::sandbox {
namespace {

using namespace profile_grammar;

enum class ListKind {
  kWrite,
  kWriteFiles,
  kDenyWrite,
  kDenyRead,
  kExceptions,
  kTraverse,
  kServices,
};

struct ListShape {
  std::string_view head;
  Item item;
  ListKind kind;
};

constexpr ListShape kListShapes[] = {
    {kAllowWrite, Item::kSubpath, ListKind::kWrite},
    {kAllowWrite, Item::kRegex, ListKind::kWriteFiles},
    {kDenyWrite, Item::kSubpath, ListKind::kDenyWrite},
    {kDenyReadAndWrite, Item::kSubpath, ListKind::kDenyRead},
    {kAllowRead, Item::kSubpath, ListKind::kExceptions},
    {kAllowMetadata, Item::kLiteral, ListKind::kTraverse},
    {kAllowMachLookup, Item::kGlobalName, ListKind::kServices},
};

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// A line ends at a line feed outside a quoted string: a path may hold one.
std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines(1);
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' && !quoted) {
      lines.emplace_back();
      continue;
    }
    lines.back() += c;
    if (quoted && c == '\\' && i + 1 < text.size()) {
      lines.back() += text[++i];
    } else if (c == '"') {
      quoted = !quoted;
    }
  }
  return lines;
}

// A quoted string at the front of `rest`, which is advanced past it.
std::optional<std::string> take_quoted(std::string_view& rest) {
  if (rest.empty() || rest.front() != '"') return std::nullopt;
  std::string text;
  for (std::size_t i = 1; i < rest.size(); ++i) {
    if (rest[i] == '"') {
      rest.remove_prefix(i + 1);
      return text;
    }
    if (rest[i] == '\\' && ++i == rest.size()) break;
    text += rest[i];
  }
  return std::nullopt;
}

// `rest` is the line after its head: one or more " <item>\"...\")", then ")".
std::optional<std::vector<std::string>> take_items(std::string_view rest, std::string_view item) {
  std::vector<std::string> values;
  while (rest.starts_with(" ")) {
    rest.remove_prefix(1);
    if (!rest.starts_with(item)) return std::nullopt;
    rest.remove_prefix(item.size());
    auto value = take_quoted(rest);
    if (!value || !rest.starts_with(")")) return std::nullopt;
    rest.remove_prefix(1);
    values.push_back(std::move(*value));
  }
  if (values.empty() || rest != ")") return std::nullopt;
  return values;
}

// The path of "^<escaped path>": every regex character must be escaped, so
// the rule matches exactly the paths that begin with this one.
std::optional<std::string> unescape_regex(std::string_view regex) {
  if (!regex.starts_with("^")) return std::nullopt;
  std::string path;
  for (std::size_t i = 1; i < regex.size(); ++i) {
    const bool special = kRegexCharacters.find(regex[i]) != std::string_view::npos;
    if (!special) {
      path += regex[i];
      continue;
    }
    if (regex[i] != '\\' || i + 1 == regex.size()) return std::nullopt;
    if (kRegexCharacters.find(regex[++i]) == std::string_view::npos) return std::nullopt;
    path += regex[i];
  }
  return path;
}

class Reader {
 public:
  Status read_line(std::size_t number, std::string_view line) {
    number_ = number;
    for (const ListShape& shape : kListShapes) {
      if (!line.starts_with(shape.head)) continue;
      auto items = take_items(line.substr(shape.head.size()), item_opener(shape.item));
      if (items) return add(shape.kind, std::move(*items));
    }
    if (line.starts_with(kPortHead) && line.ends_with(kPortTail)) {
      const auto digits =
          line.substr(kPortHead.size(), line.size() - kPortHead.size() - kPortTail.size());
      rules_.port = parse_decimal<std::uint16_t>(digits);
      if (!rules_.port) return failure("malformed port: " + std::string(line));
      return {};
    }
    if (line.starts_with(kSocketHead) && line.ends_with(kSocketTail)) {
      std::string_view rest = line.substr(kSocketHead.size());
      auto path = take_quoted(rest);
      if (!path || rest != kSocketTail) return failure("malformed rule: " + std::string(line));
      rules_.sockets.push_back(std::move(*path));
      return {};
    }
    if (line == kLoopbackLine) {
      rules_.loopback = true;
      return {};
    }
    return {};  // fixed lines; whether this is one is settled by the rebuild
  }

  ProfileRules take() { return std::move(rules_); }

 private:
  Status failure(std::string what) const {
    return fail("line " + std::to_string(number_) + ": " + std::move(what));
  }

  Status add(ListKind kind, std::vector<std::string> items) {
    std::vector<std::string>* list = nullptr;
    switch (kind) {
      case ListKind::kWrite:
        list = after_services_ ? &rules_.write_in_exceptions : &rules_.write;
        break;
      case ListKind::kWriteFiles:
        for (std::string& item : items) {
          auto path = unescape_regex(item);
          if (!path) return failure("malformed regex: " + item);
          item = std::move(*path);
        }
        list = &rules_.write_files;
        break;
      case ListKind::kDenyWrite:
        list = after_services_ ? &rules_.deny_write_in_exceptions : &rules_.deny_write;
        break;
      case ListKind::kDenyRead:
        list = after_exceptions_ ? &rules_.deny_read_in_exceptions : &rules_.deny_read;
        break;
      case ListKind::kExceptions:
        after_exceptions_ = true;
        list = &rules_.exceptions;
        break;
      case ListKind::kTraverse:
        list = &rules_.traverse;
        break;
      case ListKind::kServices:
        after_services_ = true;
        rules_.keychain = items.size() == kKeychainServiceCount;
        return {};
    }
    // The launcher replaced bytes that were not UTF-8; the path it meant is
    // lost, so a rule about it cannot be kept.
    for (const std::string& item : items) {
      if (item.find(kReplacementCharacter) != std::string::npos) {
        return failure("a path that is not valid UTF-8 cannot be enforced: " + item);
      }
    }
    list->insert(list->end(), items.begin(), items.end());
    return {};
  }

  ProfileRules rules_;
  std::size_t number_ = 0;
  bool after_services_ = false;
  bool after_exceptions_ = false;
};

PreparedPolicy as_policy(const ProfileRules& rules) {
  PreparedPolicy policy;
  policy.write = rules.write;
  policy.write_files = rules.write_files;
  policy.deny_write = rules.deny_write;
  policy.deny_read = rules.deny_read;
  policy.deny_read_except = rules.exceptions;
  policy.network.loopback = rules.loopback;
  policy.network.sockets = rules.sockets;
  policy.keychain = rules.keychain;
  return policy;
}

// The profile must be the one the launcher writes for the lists read from
// it: this settles every fixed line, the order, and the derived lists.
Status same_as_rebuilt(const std::vector<std::string>& lines, const ProfileRules& rules) {
  const std::vector<std::string> expected =
      split_lines(build_profile(as_policy(rules), rules.port));
  const auto [got, want] =
      std::mismatch(lines.begin(), lines.end(), expected.begin(), expected.end());
  if (got == lines.end() && want == expected.end()) return {};
  const std::size_t number = static_cast<std::size_t>(got - lines.begin()) + 1;
  if (got == lines.end()) return fail("line " + std::to_string(number) + ": missing: " + *want);
  return fail("line " + std::to_string(number) + ": unknown or out of place: " + *got);
}

// A refusal is one line on standard error, but a line of the profile may
// hold line feeds inside its quotes.
std::string one_line(std::string message) {
  message.resize(std::min(message.find('\n'), message.size()));
  return message;
}

}  // namespace

Result<ProfileRules> read_profile(std::string_view text) {
  if (!is_valid_utf8(text)) return fail("the profile is not valid UTF-8");
  const std::vector<std::string> lines = split_lines(text);
  Reader reader;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto status = reader.read_line(i + 1, lines[i]);
    if (!status) return fail(one_line(status.take_error()));
  }
  ProfileRules rules = reader.take();
  auto status = same_as_rebuilt(lines, rules);
  if (!status) return fail(one_line(status.take_error()));
  return rules;
}

}  // namespace kestrum::sandbox
