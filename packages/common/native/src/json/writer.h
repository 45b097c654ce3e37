// Compact JSON output: no white space, object members in ascending byte
// order of their keys at every level, strings with only the mandatory
// escapes, floats in their shortest round-trip form.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrum::json {

class Value;
using Array = std::vector<Value>;
// std::string compares bytes as unsigned, so iteration is byte order.
// Assigning to an existing key replaces its value.
using Object = std::map<std::string, Value>;

class Value {
 public:
  using Data = std::variant<std::nullptr_t, bool, std::int64_t, std::uint64_t, double, std::string,
                            Array, Object>;

  Value() : data_(nullptr) {}
  Value(std::nullptr_t) : data_(nullptr) {}  // NOLINT: implicit by design, like all below
  Value(bool value) : data_(value) {}        // NOLINT
  template <std::signed_integral I>
  Value(I value) : data_(static_cast<std::int64_t>(value)) {}  // NOLINT
  template <std::unsigned_integral U>
  requires(!std::same_as<U, bool>) Value(U value)
      : data_(static_cast<std::uint64_t>(value)) {}             // NOLINT
  Value(double value) : data_(value) {}                         // NOLINT
  Value(std::string value) : data_(std::move(value)) {}         // NOLINT
  Value(std::string_view value) : data_(std::string(value)) {}  // NOLINT
  Value(const char* value) : data_(std::string(value)) {}       // NOLINT
  Value(Array value) : data_(std::move(value)) {}               // NOLINT
  Value(Object value) : data_(std::move(value)) {}              // NOLINT

  const Data& data() const { return data_; }

 private:
  Data data_;
};

// Appends the value's JSON text to `out`. Non-finite floats are written as
// null.
void write_json(std::string& out, const Value& value);
std::string to_json(const Value& value);

// Appends `text` as a JSON string: \" \\ \b \t \n \f \r, other bytes below
// 0x20 as \u00xx (lower-case hex), every other byte as is.
void write_string(std::string& out, std::string_view text);

}  // namespace kestrum::json
