// The generic record rules: strict kinds, null as absent, unknown keys
// skipped, duplicate known keys refused, output in field-list order.
#include <gtest/gtest.h>

#include "api/repositories.hpp"
#include "json/enums.hpp"
#include "json/record.hpp"

namespace {

using qel::json::decode;
using qel::json::encode;
using qel::json::Opt;
using qel::json::parse;

struct Sample {
  Opt<std::string> name;
  Opt<std::int64_t> count;
  Opt<bool> flag;
  Opt<double> score;
  Opt<std::vector<std::string>> tags;
  Opt<qel::json::StrMap<std::string>> attrs;
};
QEL_FIELDS(Sample, name, count, flag, score, tags, attrs)

template <class T>
std::string roundtrip(const std::string& text) {
  auto value = parse(text);
  if (!value) return "parse: " + value.error().message;
  auto decoded = decode<T>(*value);
  if (!decoded) return "error: " + decoded.error().text();
  return encode(*decoded);
}

TEST(JsonRecord, DecodesAndWritesBackInFieldOrder) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {R"({})", R"({})"},
      {R"({"flag":true,"name":"a","extra":{"x":[1]}})", R"({"name":"a","flag":true})"},
      {R"({"name":null,"count":null})", R"({})"},
      {R"({"count":-9223372036854775808,"score":2})", R"({"count":-9223372036854775808,"score":2.0})"},
      {R"({"tags":[],"attrs":{}})", R"({"tags":[],"attrs":{}})"},
      {R"({"name":"é\u0001\"\\\n"})", "{\"name\":\"é\\u0001\\\"\\\\\\n\"}"},
      {R"({"attrs":{"b":"2","a":"1"}})", R"({"attrs":{"a":"1","b":"2"}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Sample>(c.input), c.expected) << c.input;
}

TEST(JsonRecord, RejectsWrongKindsWithWhereAndWhat) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {R"({"name":7})", "error: invalid type: integer `7`, expected a string at name"},
      {R"({"count":"7"})", "error: invalid type: string \"7\", expected i64 at count"},
      {R"({"count":1.5})", "error: invalid type: floating point `1.5`, expected i64 at count"},
      {R"({"count":9223372036854775808})",
       "error: invalid value: integer `9223372036854775808`, expected i64 at count"},
      {R"({"flag":"true"})", "error: invalid type: string \"true\", expected a boolean at flag"},
      {R"({"tags":["a",null]})", "error: invalid type: null, expected a string at tags[1]"},
      {R"({"tags":"a"})", "error: invalid type: string \"a\", expected a sequence at tags"},
      {R"({"attrs":{"k":1}})", "error: invalid type: integer `1`, expected a string at attrs.k"},
      {R"({"name":"a","name":"b"})", "error: duplicate field `name`"},
      {R"([])", "error: invalid type: sequence, expected struct Sample"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Sample>(c.input), c.expected) << c.input;
}

TEST(JsonRecord, DuplicateUnknownKeysAreSkippedAndFreeFormValuesKeepTheLastOne) {
  EXPECT_EQ(roundtrip<Sample>(R"({"x":1,"x":2,"name":"a"})"), R"({"name":"a"})");
  EXPECT_EQ(roundtrip<qel::json::AnyJson>(R"({"b":1,"a":[1,2.5,null,{"d":1,"c":2}],"b":3})"),
            R"({"a":[1,2.5,null,{"c":2,"d":1}],"b":3})");
}

TEST(JsonRecord, RepositoryRecordFollowsItsEnumerationsAndTimes) {
  using qel::api::Repos4User;
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {R"({"path":"g/r","name":"r","id":"1"})", R"({"id":"1","name":"r","path":"g/r"})"},
      {R"({"visibility_level":"Public","access":"Master","flags":"Wiki","status":2})",
       R"({"access":"Master","flags":"Wiki","status":2,"visibility_level":"Public"})"},
      {R"({"visibility_level":"public"})",
       "error: unknown variant `public`, expected one of `Private`, `Public`, `Secret` at visibility_level"},
      {R"({"flags":"Docs"})",
       "error: unknown variant `Docs`, expected one of `Unknown`, `KnowledgeBase`, `NPC`, `Skills`, `Wiki` at flags"},
      {R"({"access":{"Owner":null}})", R"({"access":"Owner"})"},
      {R"({"status":3})", "error: invalid value: 3, expected one of: 0, 1, 2 at status"},
      {R"({"status":"1"})", "error: invalid type: string \"1\", expected u8 at status"},
      {R"({"forked_from_repo":{"resource_type":5}})",
       "error: invalid value: 5, expected one of: 0, 1, 2, 3, 4 at forked_from_repo.resource_type"},
      {R"({"last_updated_at":"0001-01-01T00:00:00Z"})", R"({"last_updated_at":{"valid":false}})"},
      {R"({"last_updated_at":"2024-01-02T03:04:05Z"})",
       R"({"last_updated_at":{"time":"2024-01-02T03:04:05Z","valid":true}})"},
      {R"({"last_updated_at":{"valid":true}})", R"({"last_updated_at":{"valid":true}})"},
      {R"({"last_updated_at":12})",
       "error: data did not match any variant of untagged enum Repr at last_updated_at"},
      {R"({"languages":[{"color":"red"}]})", "error: invalid type: sequence, expected struct RepoLanguage at languages"},
      {R"({"tags":[1,"a",null,{"b":1,"a":2}]})", R"({"tags":[1,"a",null,{"a":2,"b":1}]})"},
      {R"({"fork_count":"3"})", "error: invalid type: string \"3\", expected i64 at fork_count"},
      {R"({"id":12})", "error: invalid type: integer `12`, expected a string at id"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Repos4User>(c.input), c.expected) << c.input;
}

TEST(JsonRecord, ListsAndNestedPathsInErrors) {
  using List = std::vector<qel::api::Repos4User>;
  EXPECT_EQ(roundtrip<List>(R"([{"id":"1"},{"forked_from_repo":{"root_id":"x"}}])"),
            "error: invalid type: string \"x\", expected i64 at [1].forked_from_repo.root_id");
  EXPECT_EQ(roundtrip<List>("[]"), "[]");
  EXPECT_EQ(roundtrip<List>("{}"), "error: invalid type: map, expected a sequence");
}

TEST(JsonParse, RefusesDeepNestingWithoutRecursing) {
  std::string deep(100000, '[');
  auto parsed = parse(deep);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().message, "recursion limit exceeded");
  std::string ok = std::string(100, '[') + std::string(100, ']');
  EXPECT_TRUE(parse(ok));
}

TEST(JsonParse, RejectsInvalidUtf8AndTrailingGarbage) {
  EXPECT_FALSE(parse("\"\xff\""));
  EXPECT_FALSE(parse("{} x"));
  EXPECT_FALSE(parse("\xEF\xBB\xBF{}"));  // a byte-order mark is not JSON
  EXPECT_FALSE(parse(""));
}

}  // namespace
