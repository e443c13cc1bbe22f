// The lenient field kinds (LenientInt, LenientBool, NullTime,
// LenientStringList), fed real JSON text the way answer bodies arrive.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/lenient.hpp"

namespace {

using qel::json::LenientBool;
using qel::json::LenientInt;
using qel::json::LenientStringList;
using qel::json::NullTime;
using qel::json::Opt;

// A record holding one field of each kind, so the cases also go through the
// record rules (missing key, null, duplicates, output with absent fields).
struct Probe {
  LenientInt n;
  LenientBool b;
  Opt<NullTime> t;
  Opt<LenientStringList> list;
};
QEL_FIELDS(Probe, n, b, t, list)

// Decodes `json` as a Probe and writes it back: the written record, or
// "error: " and the decoder's text.
std::string round_trip(const std::string& json) {
  auto parsed = qel::json::parse(json);
  if (!parsed) return "parse error: " + parsed.error().message;
  auto probe = qel::json::decode<Probe>(*parsed);
  if (!probe) return "error: " + probe.error().text();
  return qel::json::encode(*probe);
}

struct Case {
  std::string input;   // JSON text of the field's value
  std::string output;  // the Probe written back, or "error: ..."
};

void run_table(const char* field, const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    std::string json = std::string("{\"") + field + "\":" + c.input + "}";
    EXPECT_EQ(round_trip(json), c.output) << "input " << json;
  }
}

constexpr const char* kIntMismatch = ", expected integer, string containing integer, empty string, or null at n";
constexpr const char* kBoolMismatch =
    ", expected bool, string \"0\"/\"1\"/\"true\"/\"false\"/\"\", integer 0/1, or null at b";

TEST(LenientIntTest, AcceptsNumbersAndNumericStrings) {
  run_table("n", {
                     {"42", R"({"n":42})"},
                     {"-7", R"({"n":-7})"},
                     {R"("42")", R"({"n":42})"},
                     {R"(" 42 ")", R"({"n":42})"},
                     {R"("+42")", R"({"n":42})"},
                     {R"("-0")", R"({"n":0})"},
                     {R"("007")", R"({"n":7})"},
                     {"\"\\t\\n42\\r\"", R"({"n":42})"},
                     // Unicode white space (NBSP, ideographic space) is trimmed too.
                     {"\"\u00a042\u3000\"", R"({"n":42})"},
                     {"9223372036854775807", R"({"n":9223372036854775807})"},
                     {"-9223372036854775808", R"({"n":-9223372036854775808})"},
                     {R"("9223372036854775807")", R"({"n":9223372036854775807})"},
                     {R"("-9223372036854775808")", R"({"n":-9223372036854775808})"},
                 });
}

TEST(LenientIntTest, EmptyStringBlanksAndNullAreAbsent) {
  run_table("n", {
                     {R"("")", "{}"},
                     {R"("   ")", "{}"},
                     {"\"\u3000\"", "{}"},
                     {"null", "{}"},
                 });
  EXPECT_EQ(round_trip("{}"), "{}");
}

TEST(LenientIntTest, RejectsWhatIsNoInteger) {
  run_table("n",
            {
                {R"("4 2")", R"(error: parse "4 2" as i64: invalid digit found in string at n)"},
                {R"(" -")", R"(error: parse "-" as i64: invalid digit found in string at n)"},
                {R"("+")", R"(error: parse "+" as i64: invalid digit found in string at n)"},
                {R"("+-1")", R"(error: parse "+-1" as i64: invalid digit found in string at n)"},
                {R"("12a")", R"(error: parse "12a" as i64: invalid digit found in string at n)"},
                {R"("1.5")", R"(error: parse "1.5" as i64: invalid digit found in string at n)"},
                {R"("４２")", R"(error: parse "４２" as i64: invalid digit found in string at n)"},
                // The trimmed text is quoted with JSON escapes.
                {R"("a\"b\\c\u0001")", R"(error: parse "a\"b\\c\u0001" as i64: invalid digit found in string at n)"},
                {"9223372036854775808", "error: u64 9223372036854775808 overflows i64 at n"},
                {"18446744073709551615", "error: u64 18446744073709551615 overflows i64 at n"},
                {R"("9223372036854775808")",
                 R"(error: parse "9223372036854775808" as i64: number too large to fit in target type at n)"},
                {R"("-9223372036854775809")",
                 R"(error: parse "-9223372036854775809" as i64: number too small to fit in target type at n)"},
                {"1.0", std::string("error: invalid type: floating point `1.0`") + kIntMismatch},
                {"1e3", std::string("error: invalid type: floating point `1000.0`") + kIntMismatch},
                {"true", std::string("error: invalid type: boolean `true`") + kIntMismatch},
                {"[1]", std::string("error: invalid type: sequence") + kIntMismatch},
                {R"({"n":1})", std::string("error: invalid type: map") + kIntMismatch},
            });
}

TEST(LenientBoolTest, ReadsFlagsInTheirManyForms) {
  run_table("b", {
                     {"true", R"({"b":true})"},
                     {"false", R"({"b":false})"},
                     {"1", R"({"b":true})"},
                     {"2", R"({"b":true})"},
                     {"-1", R"({"b":true})"},
                     {"18446744073709551615", R"({"b":true})"},
                     {"0", R"({"b":false})"},
                     {R"("1")", R"({"b":true})"},
                     {R"("true")", R"({"b":true})"},
                     {R"("TRUE")", R"({"b":true})"},
                     {R"("True")", R"({"b":true})"},
                     {R"(" true ")", R"({"b":true})"},
                     {R"("0")", R"({"b":false})"},
                     {R"(" 0 ")", R"({"b":false})"},
                     {R"("false")", R"({"b":false})"},
                     {R"("FALSE")", R"({"b":false})"},
                     {R"("False")", R"({"b":false})"},
                     // Unlike LenientInt, an empty string is a value here.
                     {R"("")", R"({"b":false})"},
                     {R"("  ")", R"({"b":false})"},
                     {"null", "{}"},
                 });
}

TEST(LenientBoolTest, RejectsOtherWordsAndTypes) {
  run_table("b", {
                     {R"("yes")", R"(error: expected bool-like string, got "yes" at b)"},
                     {R"("tRUE")", R"(error: expected bool-like string, got "tRUE" at b)"},
                     {R"(" no ")", R"(error: expected bool-like string, got "no" at b)"},
                     {R"("2")", R"(error: expected bool-like string, got "2" at b)"},
                     {"1.0", std::string("error: invalid type: floating point `1.0`") + kBoolMismatch},
                     {"[]", std::string("error: invalid type: sequence") + kBoolMismatch},
                     {"{}", std::string("error: invalid type: map") + kBoolMismatch},
                 });
}

TEST(NullTimeTest, StringsObjectsAndTheZeroTime) {
  constexpr const char* kNoVariant = "error: data did not match any variant of untagged enum Repr at t";
  run_table("t", {
                     {R"("0001-01-01T00:00:00Z")", R"({"t":{"valid":false}})"},
                     {R"("2024-05-06T07:08:09+08:00")", R"({"t":{"time":"2024-05-06T07:08:09+08:00","valid":true}})"},
                     // Only the exact zero text counts; everything else is a time.
                     {R"("0001-01-01T00:00:00Z ")", R"({"t":{"time":"0001-01-01T00:00:00Z ","valid":true}})"},
                     {R"("")", R"({"t":{"time":"","valid":true}})"},
                     {R"("not a time")", R"({"t":{"time":"not a time","valid":true}})"},
                     {"null", "{}"},
                     {R"({"valid":false})", R"({"t":{"valid":false}})"},
                     {R"({"time":"x","valid":false,"other":[1]})", R"({"t":{"time":"x","valid":false}})"},
                     // The object form is passed through, zero time included.
                     {R"({"time":"0001-01-01T00:00:00Z"})", R"({"t":{"time":"0001-01-01T00:00:00Z"}})"},
                     {R"({"time":null,"valid":null})", R"({"t":{}})"},
                     {"{}", R"({"t":{}})"},
                     {"0", kNoVariant},
                     {"true", kNoVariant},
                     {"[]", kNoVariant},
                     {R"({"time":1})", kNoVariant},
                     {R"({"valid":"true"})", kNoVariant},
                     {R"({"time":"a","time":"b"})", kNoVariant},
                     {R"({"valid":true,"valid":false})", kNoVariant},
                 });
}

TEST(LenientStringListTest, EveryElementBecomesItsText) {
  run_table("list", {
                        {R"([1,true,null,"x",{"a":1}])", R"({"list":["1","true","","x","{\"a\":1}"]})"},
                        {"[]", R"({"list":[]})"},
                        {"null", "{}"},
                        {R"([false,-3,1.5,1.0,1e3])", R"({"list":["false","-3","1.5","1.0","1000.0"]})"},
                        {R"([[1,[2,null]],{"b":[],"a":{}}])", R"({"list":["[1,[2,null]]","{\"a\":{},\"b\":[]}"]})"},
                        // A nested object keeps the last of a repeated key.
                        {R"([{"a":1,"a":2}])", R"({"list":["{\"a\":2}"]})"},
                        {R"(["中文","a\"b","tab\t"])", R"({"list":["中文","a\"b","tab\t"]})"},
                        {R"([" 7 "])", R"({"list":[" 7 "]})"},
                    });
}

TEST(LenientStringListTest, OnlyAnArrayIsAList) {
  run_table("list", {
                        {R"("x")", R"(error: invalid type: string "x", expected a sequence at list)"},
                        {"1", "error: invalid type: integer `1`, expected a sequence at list"},
                        {"{}", "error: invalid type: map, expected a sequence at list"},
                    });
}

TEST(LenientRecordTest, RepeatedKeysAreErrorsAndAllKindsWriteInFieldOrder) {
  const Case cases[] = {
      {R"({"n":1,"n":"2"})", "error: duplicate field `n`"},
      {R"({"b":true,"b":true})", "error: duplicate field `b`"},
      {R"({"list":[],"list":[]})", "error: duplicate field `list`"},
      {R"({"list":["x"],"t":"2024","b":"1","n":"12","other":"skipped"})",
       R"({"n":12,"b":true,"t":{"time":"2024","valid":true},"list":["x"]})"},
      {R"({"n":"","b":"","t":null,"list":null})", R"({"b":false})"},
  };
  for (const auto& c : cases) EXPECT_EQ(round_trip(c.input), c.output) << c.input;
}

}  // namespace
