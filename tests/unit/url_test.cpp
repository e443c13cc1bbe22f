// Addresses: path values, URL serialization and form-encoded queries.
#include <gtest/gtest.h>

#include "api/url.hpp"

namespace {

using qel::api::form_encode;
using qel::api::make_url;
using qel::api::path_value;

TEST(Url, PathValuesRefuseDotSegmentsAndKeepQuestionMarksInside) {
  struct Case {
    const char* value;
    const char* expected;  // nullptr: refused
  } cases[] = {
      {"g/sub/r", "g/sub/r"},
      {"a?b", "a%3Fb"},
      {"a#b", "a%23b"},
      {"..", nullptr},
      {"../../../..", nullptr},
      {"g/./r", nullptr},
      {"g\\..\\r", nullptr},
      {"%2e%2E", nullptr},
      {".%2e/x", nullptr},
      {"g/.\n./r", nullptr},
      {"...", "..."},
      {".hidden", ".hidden"},
      {"a..b", "a..b"},
      {"", ""},
  };
  for (const auto& c : cases) {
    auto result = path_value(std::string_view(c.value));
    if (c.expected) {
      ASSERT_TRUE(result) << c.value;
      EXPECT_EQ(*result, c.expected);
    } else {
      ASSERT_FALSE(result) << c.value;
      EXPECT_EQ(result.error().display(), std::string("路径参数不能包含 . 或 .. 路径段：") + c.value);
    }
  }
}

TEST(Url, PathIsSerializedLikeABrowser) {
  const std::string base = "https://api.example.com";
  struct Case {
    const char* path;
    const char* query;
    const char* expected;
  } cases[] = {
      {"g/r", "", "https://api.example.com/g/r"},
      {"g/my repo", "", "https://api.example.com/g/my%20repo"},
      {"g/你", "", "https://api.example.com/g/%E4%BD%A0"},
      {"g\\r", "", "https://api.example.com/g/r"},
      {"g/a%20b", "", "https://api.example.com/g/a%20b"},
      {"g/\"<>`{}", "", "https://api.example.com/g/%22%3C%3E%60%7B%7D"},
      {"g/r\t\n", "", "https://api.example.com/g/r"},
      {"g/r ", "", "https://api.example.com/g/r"},
      {"g/r/-/issues", "page=1", "https://api.example.com/g/r/-/issues?page=1"},
  };
  for (const auto& c : cases) EXPECT_EQ(make_url(base, c.path, c.query), c.expected) << c.path;
}

TEST(Url, FormEncodingFollowsTheUrlencodedSerializer) {
  EXPECT_EQ(form_encode("a b&c"), "a+b%26c");
  EXPECT_EQ(form_encode("ui,backend"), "ui%2Cbackend");
  EXPECT_EQ(form_encode("g/r"), "g%2Fr");
  EXPECT_EQ(form_encode("*-._~"), "*-._%7E");
  EXPECT_EQ(form_encode("中"), "%E4%B8%AD");
  EXPECT_EQ(form_encode("-updated_at"), "-updated_at");
}

struct SampleQuery {
  qel::json::Opt<std::int64_t> page, page_size;
  qel::json::Opt<std::string> search, never;
  qel::json::Opt<bool> desc;
};
QEL_FIELDS(SampleQuery, page, page_size, search, never, desc)

TEST(Url, QueryKeepsTheRecordOrderAndSkipsAbsentPairs) {
  EXPECT_EQ(qel::api::query_string(SampleQuery{}), "");
  EXPECT_EQ(qel::api::query_string(SampleQuery{.page = 1, .page_size = 30, .search = "a b&c"}),
            "page=1&page_size=30&search=a+b%26c");
  EXPECT_EQ(qel::api::query_string(SampleQuery{.desc = false}), "desc=false");
}

}  // namespace
