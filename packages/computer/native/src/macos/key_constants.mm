// The portable key tables (desktop/keys.h) hold bare numbers so that they
// can be tested without Apple's headers; here every one of them is held
// against Apple's own constant, so an Apple build fails if a number drifts.
// Nothing here runs.
#include "desktop/keys.h"

#import <Carbon/Carbon.h>
#import <CoreGraphics/CoreGraphics.h>

#include <cstdint>
#include <iterator>

namespace kestrum::computer::macos {
namespace {

// -1 and 0 match no constant below, so a key missing from its table fails
// its assertion.
constexpr int character_code(char character) {
  for (const CharacterCode& entry : kCharacterCodes) {
    if (entry.character == character) return entry.code;
  }
  return -1;
}

constexpr int named_key_code(NamedKey key) {
  for (const NamedKeyCode& entry : kNamedKeyCodes) {
    if (entry.key == key) return entry.code;
  }
  return -1;
}

constexpr std::uint64_t mask_of(bool Modifiers::*flag) {
  for (const ModifierMask& entry : kModifierMasks) {
    if (entry.flag == flag) return entry.mask;
  }
  return 0;
}

// A table that grows gets a new entry without an assertion; these sizes
// make that fail until the assertion is written.
static_assert(std::size(kCharacterCodes) == 47);
static_assert(std::size(kNamedKeyCodes) == 14);
static_assert(std::size(kFunctionKeyCodes) == 12);
static_assert(std::size(kModifierMasks) == 4);

static_assert(character_code('a') == kVK_ANSI_A);
static_assert(character_code('b') == kVK_ANSI_B);
static_assert(character_code('c') == kVK_ANSI_C);
static_assert(character_code('d') == kVK_ANSI_D);
static_assert(character_code('e') == kVK_ANSI_E);
static_assert(character_code('f') == kVK_ANSI_F);
static_assert(character_code('g') == kVK_ANSI_G);
static_assert(character_code('h') == kVK_ANSI_H);
static_assert(character_code('i') == kVK_ANSI_I);
static_assert(character_code('j') == kVK_ANSI_J);
static_assert(character_code('k') == kVK_ANSI_K);
static_assert(character_code('l') == kVK_ANSI_L);
static_assert(character_code('m') == kVK_ANSI_M);
static_assert(character_code('n') == kVK_ANSI_N);
static_assert(character_code('o') == kVK_ANSI_O);
static_assert(character_code('p') == kVK_ANSI_P);
static_assert(character_code('q') == kVK_ANSI_Q);
static_assert(character_code('r') == kVK_ANSI_R);
static_assert(character_code('s') == kVK_ANSI_S);
static_assert(character_code('t') == kVK_ANSI_T);
static_assert(character_code('u') == kVK_ANSI_U);
static_assert(character_code('v') == kVK_ANSI_V);
static_assert(character_code('w') == kVK_ANSI_W);
static_assert(character_code('x') == kVK_ANSI_X);
static_assert(character_code('y') == kVK_ANSI_Y);
static_assert(character_code('z') == kVK_ANSI_Z);
static_assert(character_code('0') == kVK_ANSI_0);
static_assert(character_code('1') == kVK_ANSI_1);
static_assert(character_code('2') == kVK_ANSI_2);
static_assert(character_code('3') == kVK_ANSI_3);
static_assert(character_code('4') == kVK_ANSI_4);
static_assert(character_code('5') == kVK_ANSI_5);
static_assert(character_code('6') == kVK_ANSI_6);
static_assert(character_code('7') == kVK_ANSI_7);
static_assert(character_code('8') == kVK_ANSI_8);
static_assert(character_code('9') == kVK_ANSI_9);
static_assert(character_code('=') == kVK_ANSI_Equal);
static_assert(character_code('-') == kVK_ANSI_Minus);
static_assert(character_code(']') == kVK_ANSI_RightBracket);
static_assert(character_code('[') == kVK_ANSI_LeftBracket);
static_assert(character_code('\'') == kVK_ANSI_Quote);
static_assert(character_code(';') == kVK_ANSI_Semicolon);
static_assert(character_code('\\') == kVK_ANSI_Backslash);
static_assert(character_code(',') == kVK_ANSI_Comma);
static_assert(character_code('/') == kVK_ANSI_Slash);
static_assert(character_code('.') == kVK_ANSI_Period);
static_assert(character_code('`') == kVK_ANSI_Grave);

static_assert(named_key_code(NamedKey::kReturn) == kVK_Return);
static_assert(named_key_code(NamedKey::kTab) == kVK_Tab);
static_assert(named_key_code(NamedKey::kEscape) == kVK_Escape);
static_assert(named_key_code(NamedKey::kBackspace) == kVK_Delete);
static_assert(named_key_code(NamedKey::kForwardDelete) == kVK_ForwardDelete);
static_assert(named_key_code(NamedKey::kSpace) == kVK_Space);
static_assert(named_key_code(NamedKey::kUp) == kVK_UpArrow);
static_assert(named_key_code(NamedKey::kDown) == kVK_DownArrow);
static_assert(named_key_code(NamedKey::kLeft) == kVK_LeftArrow);
static_assert(named_key_code(NamedKey::kRight) == kVK_RightArrow);
static_assert(named_key_code(NamedKey::kHome) == kVK_Home);
static_assert(named_key_code(NamedKey::kEnd) == kVK_End);
static_assert(named_key_code(NamedKey::kPageUp) == kVK_PageUp);
static_assert(named_key_code(NamedKey::kPageDown) == kVK_PageDown);

static_assert(kFunctionKeyCodes[0] == kVK_F1);
static_assert(kFunctionKeyCodes[1] == kVK_F2);
static_assert(kFunctionKeyCodes[2] == kVK_F3);
static_assert(kFunctionKeyCodes[3] == kVK_F4);
static_assert(kFunctionKeyCodes[4] == kVK_F5);
static_assert(kFunctionKeyCodes[5] == kVK_F6);
static_assert(kFunctionKeyCodes[6] == kVK_F7);
static_assert(kFunctionKeyCodes[7] == kVK_F8);
static_assert(kFunctionKeyCodes[8] == kVK_F9);
static_assert(kFunctionKeyCodes[9] == kVK_F10);
static_assert(kFunctionKeyCodes[10] == kVK_F11);
static_assert(kFunctionKeyCodes[11] == kVK_F12);

static_assert(mask_of(&Modifiers::command) == kCGEventFlagMaskCommand);
static_assert(mask_of(&Modifiers::control) == kCGEventFlagMaskControl);
static_assert(mask_of(&Modifiers::option) == kCGEventFlagMaskAlternate);
static_assert(mask_of(&Modifiers::shift) == kCGEventFlagMaskShift);

}  // namespace
}  // namespace kestrum::computer::macos
