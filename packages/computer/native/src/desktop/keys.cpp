#include "desktop/keys.h"

#include <optional>

#include "base/ascii.h"
#include "desktop/unicode.h"

namespace kestrum::computer {
namespace {

struct ModifierName {
  std::string_view name;
  bool Modifiers::*flag;
};
constexpr ModifierName kModifierNames[] = {
    {"cmd", &Modifiers::command},     {"command", &Modifiers::command},
    {"meta", &Modifiers::command},    {"super", &Modifiers::command},
    {"win", &Modifiers::command},     {"ctrl", &Modifiers::control},
    {"control", &Modifiers::control}, {"alt", &Modifiers::option},
    {"opt", &Modifiers::option},      {"option", &Modifiers::option},
    {"shift", &Modifiers::shift},
};

struct NamedKeyName {
  std::string_view name;
  NamedKey key;
};
constexpr NamedKeyName kNamedKeyNames[] = {
    {"enter", NamedKey::kReturn},      {"return", NamedKey::kReturn},
    {"tab", NamedKey::kTab},           {"esc", NamedKey::kEscape},
    {"escape", NamedKey::kEscape},     {"backspace", NamedKey::kBackspace},
    {"del", NamedKey::kForwardDelete}, {"delete", NamedKey::kForwardDelete},
    {"space", NamedKey::kSpace},       {"up", NamedKey::kUp},
    {"arrowup", NamedKey::kUp},        {"down", NamedKey::kDown},
    {"arrowdown", NamedKey::kDown},    {"left", NamedKey::kLeft},
    {"arrowleft", NamedKey::kLeft},    {"right", NamedKey::kRight},
    {"arrowright", NamedKey::kRight},  {"home", NamedKey::kHome},
    {"end", NamedKey::kEnd},           {"pageup", NamedKey::kPageUp},
    {"pagedown", NamedKey::kPageDown},
};

constexpr bool every_named_key_has_a_code() {
  for (std::size_t key = 0; key <= static_cast<std::size_t>(NamedKey::kPageDown); ++key) {
    bool found = false;
    for (const NamedKeyCode& entry : kNamedKeyCodes) {
      found = found || static_cast<std::size_t>(entry.key) == key;
    }
    if (!found) return false;
  }
  return true;
}
static_assert(every_named_key_has_a_code());

std::optional<bool Modifiers::*> modifier_named(std::string_view piece) {
  for (const ModifierName& entry : kModifierNames) {
    if (ascii_iequals(piece, entry.name)) return entry.flag;
  }
  return std::nullopt;
}

// "f" and a decimal number from 1 to 12; leading zeros are allowed.
std::optional<FunctionKey> function_key_named(std::string_view piece) {
  if (piece.size() < 2 || ascii_lower(piece[0]) != 'f') return std::nullopt;
  const auto number = parse_decimal<std::uint8_t>(piece.substr(1));
  if (!number || *number < 1 || *number > std::size(kFunctionKeyCodes)) return std::nullopt;
  return FunctionKey{*number};
}

std::optional<KeySpec> key_named(std::string_view piece) {
  const std::u32string scalars = unicode_scalars(piece);
  if (scalars.size() == 1) {
    const char32_t c = scalars[0];
    return CharacterKey{c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c};
  }
  for (const NamedKeyName& entry : kNamedKeyNames) {
    if (ascii_iequals(piece, entry.name)) return entry.key;
  }
  if (const auto function = function_key_named(piece)) return *function;
  return std::nullopt;
}

std::string quoted(std::string_view piece) { return "\"" + std::string(piece) + "\""; }

struct CodeOf {
  Result<std::uint16_t> operator()(const CharacterKey& key) const {
    for (const CharacterCode& entry : kCharacterCodes) {
      if (static_cast<char32_t>(entry.character) == key.character) return entry.code;
    }
    return fail(std::string(kNoKeyCode));
  }
  Result<std::uint16_t> operator()(NamedKey key) const {
    for (const NamedKeyCode& entry : kNamedKeyCodes) {
      if (entry.key == key) return entry.code;
    }
    return fail(std::string(kNoKeyCode));
  }
  Result<std::uint16_t> operator()(const FunctionKey& key) const {
    if (key.number < 1 || key.number > std::size(kFunctionKeyCodes)) {
      return fail(std::string(kNoKeyCode));
    }
    return kFunctionKeyCodes[key.number - 1];
  }
};

}  // namespace

Result<KeyCombination> parse_keys(std::string_view text) {
  Modifiers modifiers;
  std::size_t start = 0;
  // Every piece before the last "+" is a modifier, the empty piece included.
  for (std::size_t plus = text.find('+'); plus != std::string_view::npos;
       plus = text.find('+', start)) {
    const std::string_view piece = text.substr(start, plus - start);
    const auto flag = modifier_named(piece);
    if (!flag) return fail(quoted(piece) + " is not a modifier");
    modifiers.*(*flag) = true;
    start = plus + 1;
  }
  const std::string_view last = text.substr(start);
  const std::optional<KeySpec> key = key_named(last);
  if (!key) return fail(quoted(last) + " is not a key");
  return KeyCombination{*key, modifiers};
}

Result<std::uint16_t> key_code(const KeySpec& key) { return std::visit(CodeOf{}, key); }

std::uint64_t modifier_mask(const Modifiers& modifiers) {
  std::uint64_t mask = 0;
  for (const ModifierMask& entry : kModifierMasks) {
    if (modifiers.*(entry.flag)) mask |= entry.mask;
  }
  return mask;
}

}  // namespace kestrum::computer
