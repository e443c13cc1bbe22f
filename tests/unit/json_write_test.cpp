// Number and string forms of the compact writer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json/write.hpp"

namespace {

TEST(JsonWrite, FloatsUseShortestRoundTripFormKeepingPointZero) {
  struct Case {
    double value;
    const char* expected;
  } cases[] = {
      {3.0, "3.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {0.5, "0.5"},
      {1.0 / 3.0, "0.3333333333333333"},
      {123456.789, "123456.789"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e16"},
      {1.5e17, "1.5e17"},
      {0.0001, "0.0001"},
      {0.00001, "0.00001"},
      {0.000001, "1e-6"},
      {1.25e-7, "1.25e-7"},
      {-2.5, "-2.5"},
      {std::numeric_limits<double>::infinity(), "null"},
      {std::nan(""), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(qel::json::format_double(c.value), c.expected) << c.value;
}

TEST(JsonWrite, StringsEscapeOnlyWhatJsonRequires) {
  EXPECT_EQ(qel::json::quote_string("a\"b\\c/d"), R"("a\"b\\c/d")");
  EXPECT_EQ(qel::json::quote_string("\b\t\n\f\r\x01\x1f\x7f"), "\"\\b\\t\\n\\f\\r\\u0001\\u001f\x7f\"");
  EXPECT_EQ(qel::json::quote_string("中文"), "\"中文\"");
}

TEST(JsonWrite, LossyUtf8ReplacesEachMalformedSequence) {
  struct Case {
    std::string input;
    std::string expected;
  } cases[] = {
      {"plain", "plain"},
      {"中", "中"},
      {"a\xff" "b", "a\xEF\xBF\xBD" "b"},
      {"\xE4\xB8", "\xEF\xBF\xBD"},             // truncated 3-byte sequence: one replacement
      {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong form: two replacements
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(qel::json::utf8_lossy(c.input), c.expected);
}

}  // namespace

namespace {

TEST(JsonWrite, MalformedUtf8NeverReachesTheOutput) {
  EXPECT_EQ(qel::json::quote_string("last read: '\xff'"), "\"last read: '\xEF\xBF\xBD'\"");
}

}  // namespace
