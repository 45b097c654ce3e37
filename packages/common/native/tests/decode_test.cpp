#include "json/decode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrum::json {
namespace {

using Read = Checked (*)(Decoder&, const Node&);

// The outcome of reading the whole text with `read`: "ok" or the message
// with its position.
std::string outcome(std::string_view text, Read read,
                    Positioning positioning = Positioning::kStreaming) {
  const Document document = parse(text);
  Decoder decoder(document, positioning);
  auto result = decoder.root([&](const Node& node) { return read(decoder, node); });
  return result ? "ok" : format_error(document.text, result.error());
}

template <class T>
Checked discard(Decoded<T> decoded) {
  if (!decoded) return fail_with(decoded.take_error());
  return {};
}

Checked read_u64(Decoder& d, const Node& n) { return discard(d.u64(n)); }
Checked read_u32(Decoder& d, const Node& n) { return discard(d.u32(n)); }
Checked read_u8(Decoder& d, const Node& n) { return discard(d.u8(n)); }
Checked read_i32(Decoder& d, const Node& n) { return discard(d.i32(n)); }
Checked read_f64(Decoder& d, const Node& n) { return discard(d.f64(n)); }
Checked read_bool(Decoder& d, const Node& n) { return discard(d.boolean(n)); }
Checked read_string(Decoder& d, const Node& n) { return discard(d.string(n)); }
Checked read_path(Decoder& d, const Node& n) { return discard(d.string(n, "path string")); }
Checked read_strings(Decoder& d, const Node& n) { return discard(d.strings(n)); }

struct Case {
  std::string text;
  Read read;
  std::string_view outcome;
};

void expect_outcomes(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(outcome(c.text, c.read), c.outcome) << c.text;
}

TEST(Decoder, ReadsIntegersWithinTheWantedRange) {
  expect_outcomes({
      {"4294967295", read_u32, "ok"},
      {"4294967296", read_u32,
       "invalid value: integer `4294967296`, expected u32 at line 1 column 10"},
      {"-1", read_u32, "invalid value: integer `-1`, expected u32 at line 1 column 2"},
      {"255", read_u8, "ok"},
      {"256", read_u8, "invalid value: integer `256`, expected u8 at line 1 column 3"},
      {"-2147483648", read_i32, "ok"},
      {"2147483648", read_i32,
       "invalid value: integer `2147483648`, expected i32 at line 1 column 10"},
      {"-2147483649", read_i32,
       "invalid value: integer `-2147483649`, expected i32 at line 1 column 11"},
      {"18446744073709551615", read_u64, "ok"},
      {"18446744073709551616", read_u64,
       "invalid type: floating point `1.8446744073709552e19`, expected u64 at line 1 column 20"},
  });
}

TEST(Decoder, DescribesWhatWasFoundInsteadOfTheWantedType) {
  expect_outcomes({
      {"1.0", read_u32, "invalid type: floating point `1.0`, expected u32 at line 1 column 3"},
      {"-0", read_u32, "invalid type: floating point `-0.0`, expected u32 at line 1 column 2"},
      {"1e2", read_u32, "invalid type: floating point `100.0`, expected u32 at line 1 column 3"},
      {" \"6\" ", read_u32, "invalid type: string \"6\", expected u32 at line 1 column 4"},
      {"true", read_u32, "invalid type: boolean `true`, expected u32 at line 1 column 4"},
      {"null", read_u32, "invalid type: null, expected u32 at line 1 column 4"},
      // A bracket is located at itself, not past it.
      {"  [1]", read_u32, "invalid type: sequence, expected u32 at line 1 column 2"},
      {"{}", read_u32, "invalid type: map, expected u32 at line 1 column 0"},
      {"1", read_f64, "ok"},
      {"-1", read_f64, "ok"},
      {"\"x\"", read_f64, "invalid type: string \"x\", expected f64 at line 1 column 3"},
      {"false", read_bool, "ok"},
      {"1", read_bool, "invalid type: integer `1`, expected a boolean at line 1 column 1"},
      {"\"a\\\"b\\n\"", read_bool,
       "invalid type: string \"a\\\"b\\n\", expected a boolean at line 1 column 8"},
      {"5", read_path, "invalid type: integer `5`, expected path string at line 1 column 1"},
      {"[\"a\"]", read_string, "invalid type: sequence, expected a string at line 1 column 0"},
      {"\"a\"", read_strings, "invalid type: string \"a\", expected a sequence at line 1 column 3"},
      {"{\n\"a\": [\"b\",\n 2]}", read_strings,
       "invalid type: map, expected a sequence at line 1 column 0"},
  });
}

TEST(Decoder, ReportsTheFirstFaultInTextOrder) {
  expect_outcomes({
      {"[\"a\", 1, ]", read_strings,
       "invalid type: integer `1`, expected a string at line 1 column 7"},
      {"[1, \"a\" \"b\"]", read_strings,
       "invalid type: integer `1`, expected a string at line 1 column 2"},
      {"[\"a\" 1]", read_strings, "expected `,` or `]` at line 1 column 6"},
      {"[\"a\", \"b\"", read_strings, "EOF while parsing a list at line 1 column 9"},
      {"\"x\" y", read_string, "trailing characters at line 1 column 5"},
      {"5 y", read_string, "invalid type: integer `5`, expected a string at line 1 column 1"},
      {"", read_string, "EOF while parsing a value at line 1 column 0"},
      {"[\"a\\q\"]", read_strings, "invalid escape at line 1 column 5"},
  });
}

struct Sample {
  std::uint32_t count = 0;
  std::string name;
  bool flag = false;
  std::vector<std::string> tags;
};

constexpr FieldRule<Sample> kSampleFields[] = {
    {"count", Presence::kRequired,
     [](Decoder& d, const Node& v, Sample& s) { return store(d.u32(v), s.count); }},
    {"name", Presence::kRequired,
     [](Decoder& d, const Node& v, Sample& s) { return store(d.string(v), s.name); }},
    {"flag", Presence::kDefault,
     [](Decoder& d, const Node& v, Sample& s) { return store(d.boolean(v), s.flag); }},
    {"tags", Presence::kDefault,
     [](Decoder& d, const Node& v, Sample& s) { return store(d.strings(v), s.tags); }},
};
constexpr RecordRule<Sample> kSample{"struct Sample", kSampleFields};
constexpr RecordRule<Sample> kLenientSample{"struct Sample", kSampleFields, true};
constexpr RecordRule<Sample> kOneField{"struct One", std::span(kSampleFields, 1)};
constexpr RecordRule<Sample> kTwoFields{"struct Two", std::span(kSampleFields, 2)};
constexpr RecordRule<Sample> kNoFields{"struct None", std::span(kSampleFields, 0)};

Checked read_sample(Decoder& d, const Node& n) {
  Sample sample;
  return d.record(n, kSample, sample);
}
Checked read_lenient(Decoder& d, const Node& n) {
  Sample sample;
  return d.record(n, kLenientSample, sample);
}
Checked read_one(Decoder& d, const Node& n) {
  Sample sample;
  return d.record(n, kOneField, sample);
}
Checked read_two(Decoder& d, const Node& n) {
  Sample sample;
  return d.record(n, kTwoFields, sample);
}
Checked read_none(Decoder& d, const Node& n) {
  Sample sample;
  return d.record(n, kNoFields, sample);
}

TEST(Decoder, ReadsRecordsFromObjectsAndArrays) {
  for (std::string_view text :
       {"{\"tags\":[\"t\"],\"name\":\"n\",\"count\":3,\"flag\":true}", "[3,\"n\",true,[\"t\"]]"}) {
    const Document document = parse(text);
    Decoder decoder(document);
    Sample sample;
    ASSERT_TRUE(decoder.root([&](const Node& n) { return decoder.record(n, kSample, sample); }))
        << text;
    EXPECT_EQ(sample.count, 3u);
    EXPECT_EQ(sample.name, "n");
    EXPECT_TRUE(sample.flag);
    EXPECT_EQ(sample.tags, std::vector<std::string>{"t"});
  }
  for (std::string_view text : {"{\"count\":3,\"name\":\"n\"}", "[3,\"n\"]"}) {
    const Document document = parse(text);
    Decoder decoder(document);
    Sample sample{0, "", true, {"kept"}};
    ASSERT_TRUE(decoder.root([&](const Node& n) { return decoder.record(n, kSample, sample); }))
        << text;
    EXPECT_TRUE(sample.flag) << "a left-out field keeps its default";
    EXPECT_EQ(sample.tags, std::vector<std::string>{"kept"});
  }
}

TEST(Decoder, ChecksTheKeysOfRecordObjects) {
  expect_outcomes({
      {"{\"name\":\"n\"}", read_sample, "missing field `count` at line 1 column 12"},
      {"{}", read_sample, "missing field `count` at line 1 column 2"},
      {"{\"count\":1}", read_sample, "missing field `name` at line 1 column 11"},
      {"{\"count\":1,\"count\":2}", read_sample, "duplicate field `count` at line 1 column 18"},
      {"{\"size\"  : 2}", read_sample,
       "unknown field `size`, expected one of `count`, `name`, `flag`, `tags` at line 1 column 9"},
      {"{\"Count\":1}", read_one, "unknown field `Count`, expected `count` at line 1 column 8"},
      {"{\"x\":1}", read_two, "unknown field `x`, expected `count` or `name` at line 1 column 4"},
      {"{\"x\":1}", read_none, "unknown field `x`, there are no fields at line 1 column 4"},
      {"{\"count\":1,\"name\":\"n\",\"extra\":[1,{\"x\":2}]}", read_lenient, "ok"},
      {"{\"count\":1,\"extra\":[1,", read_lenient, "EOF while parsing a value at line 1 column 22"},
      {"{\n\"count\": 1,\n\"name\": 2\n}", read_sample,
       "invalid type: integer `2`, expected a string at line 3 column 9"},
      {"5", read_sample, "invalid type: integer `5`, expected struct Sample at line 1 column 1"},
      {"null", read_sample, "invalid type: null, expected struct Sample at line 1 column 4"},
  });
}

TEST(Decoder, ReportsRecordFaultsInTextOrder) {
  expect_outcomes({
      {"{\"count\":\"x\", \"name\" 5}", read_sample,
       "invalid type: string \"x\", expected u32 at line 1 column 12"},
      {"{\"count\":1 \"name\":5}", read_sample, "expected `,` or `}` at line 1 column 12"},
      {"{\"bogus\" x", read_sample,
       "unknown field `bogus`, expected one of `count`, `name`, `flag`, `tags` at line 1 column 9"},
      {"{\"count\" x", read_sample, "expected `:` at line 1 column 10"},
      {"{\"count\":1,\"name\":\"n\"", read_sample,
       "EOF while parsing an object at line 1 column 21"},
      {"{\"count\":1,\"count\":[", read_sample, "duplicate field `count` at line 1 column 18"},
      {"{\"count\":1,\"name\":\"n\"} x", read_sample, "trailing characters at line 1 column 24"},
  });
}

TEST(Decoder, ReadsRecordArraysPositionally) {
  expect_outcomes({
      {"[1]", read_sample,
       "invalid length 1, expected struct Sample with 4 elements at line 1 column 3"},
      {"[ ]", read_sample,
       "invalid length 0, expected struct Sample with 4 elements at line 1 column 3"},
      {"[]", read_one, "invalid length 0, expected struct One with 1 element at line 1 column 2"},
      {"[1, 2]", read_sample, "invalid type: integer `2`, expected a string at line 1 column 5"},
      {"[1,\"n\"", read_sample, "EOF while parsing a list at line 1 column 6"},
      {"[1,\"n\",", read_sample, "EOF while parsing a value at line 1 column 7"},
      // Past the last field the reader only looks for the closing bracket.
      {"[1,\"n\",true,[],5]", read_sample, "trailing characters at line 1 column 16"},
      {"[1,\"n\",true,[],tru", read_sample, "trailing characters at line 1 column 16"},
      {"[1,\"n\",true,[], ]", read_sample, "trailing comma at line 1 column 17"},
      {"[1,\"n\",true,[],", read_sample, "trailing characters at line 1 column 15"},
      {"[1,\"n\",true,[]", read_sample, "EOF while parsing a list at line 1 column 14"},
      {"[1,\"n\",true,[] x", read_sample, "trailing characters at line 1 column 16"},
      {"[1,\"n\",true,[] ]", read_sample, "ok"},
      {"[1]", read_one, "ok"},
      {"[1,2]", read_one, "trailing characters at line 1 column 4"},
      {"[]", read_none, "ok"},
      {"[1]", read_none, "trailing characters at line 1 column 2"},
  });
}

TEST(Decoder, PositionsErrorsAfterTheRootWhenAskedTo) {
  const auto after_root = [](std::string_view text) {
    return outcome(text, read_sample, Positioning::kAfterRoot);
  };
  EXPECT_EQ(after_root("{\"count\":1,\"count\":2}"), "duplicate field `count` at line 1 column 21");
  EXPECT_EQ(after_root("{\"count\":\"x\"} "),
            "invalid type: string \"x\", expected u32 at line 1 column 13");
  EXPECT_EQ(after_root("{\"count\":1}"), "missing field `name` at line 1 column 11");
  EXPECT_EQ(after_root("{\"count\":1,\"name\":\"n\"} x"),
            "trailing characters at line 1 column 24");
  EXPECT_EQ(after_root("{\"count\":1} x"), "missing field `name` at line 1 column 11");
  // The whole root is read first: a syntax error anywhere in it wins.
  EXPECT_EQ(after_root("{\"count\":\"x\", "), "EOF while parsing a value at line 1 column 14");
}

constexpr std::string_view kParties[] = {"agent", "person"};
constexpr std::string_view kButtons[] = {"left", "right", "middle"};

TEST(Decoder, ReadsUnitVariantsAsStringsOrSingleKeyObjects) {
  struct VariantCase {
    std::string_view text;
    std::span<const std::string_view> names;
    std::string_view outcome;
  };
  const VariantCase cases[] = {
      {"\"agent\"", kParties, "0"},
      {"\"person\"", kParties, "1"},
      {"{\"person\":null}", kParties, "1"},
      {"\"middle\"", kButtons, "2"},
      {"\"robot\"", kParties,
       "unknown variant `robot`, expected `agent` or `person` at line 1 column 7"},
      {"\"up\"", kButtons,
       "unknown variant `up`, expected one of `left`, `right`, `middle` at line 1 column 4"},
      {"{\"robot\" : null}", kParties,
       "unknown variant `robot`, expected `agent` or `person` at line 1 column 8"},
      {"{\"person\":1}", kParties, "invalid type: integer `1`, expected unit at line 1 column 11"},
      {"{}", kParties, "invalid value: map, expected map with a single key at line 1 column 2"},
      {"{\"agent\":null,\"person\":null}", kParties,
       "invalid value: map, expected map with a single key at line 1 column 28"},
      {"null", kParties, "invalid type: null, expected string or map at line 1 column 4"},
      {"[\"agent\"]", kParties,
       "invalid type: sequence, expected string or map at line 1 column 0"},
  };
  for (const VariantCase& c : cases) {
    const Document document = parse(c.text);
    Decoder decoder(document);
    std::string got;
    auto result = decoder.root([&](const Node& node) -> Checked {
      auto index = decoder.variant(node, c.names);
      if (!index) return fail_with(index.take_error());
      got = std::to_string(*index);
      return {};
    });
    if (!result) got = format_error(document.text, result.error());
    EXPECT_EQ(got, c.outcome) << c.text;
  }
}

TEST(Decoder, ReadsVariantIdentifiersByNameOrIndex) {
  constexpr std::string_view ops[] = {"hello", "grant", "owner"};
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"\"owner\"", "2"},
      {"1", "1"},
      {"3", "invalid value: integer `3`, expected variant index 0 <= i < 3 at line 1 column 1"},
      {"\"bye\"",
       "unknown variant `bye`, expected one of `hello`, `grant`, `owner` at line 1 column 5"},
      {"-1", "invalid type: integer `-1`, expected variant identifier at line 1 column 2"},
      {"1.0", "invalid type: floating point `1.0`, expected variant identifier at line 1 column 3"},
  };
  for (const auto& [text, expected] : cases) {
    const Document document = parse(text);
    Decoder decoder(document);
    auto index = decoder.variant_identifier(*document.root, ops);
    EXPECT_EQ(index ? std::to_string(*index) : format_error(document.text, index.error()), expected)
        << text;
  }
}

TEST(ExpectedNames, ListsOneTwoOrMoreNames) {
  constexpr std::string_view one[] = {"x"};
  constexpr std::string_view three[] = {"x", "y", "z"};
  EXPECT_EQ(expected_names(one), "`x`");
  EXPECT_EQ(expected_names(std::span(three, 2)), "`x` or `y`");
  EXPECT_EQ(expected_names(three), "one of `x`, `y`, `z`");
}

}  // namespace
}  // namespace kestrum::json
