// The decoding rules of the issue records that are easy to get subtly wrong:
// numbers that must be strings, maps that must not be strings, repeated keys,
// and which labels keep their people.
#include "api/issues.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qel::api {
namespace {

struct Case {
  std::string answer;
  // The record written back, or "error: " and a piece of the decode message.
  std::string expected;
};

template <class T>
void expect_decoded(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    auto decoded = ApiClient::decode_body<T>(c.answer);
    if (c.expected.starts_with("error: ")) {
      ASSERT_FALSE(decoded) << json::encode(*decoded);
      EXPECT_NE(decoded.error().display().find(c.expected.substr(7)), std::string::npos)
          << decoded.error().display();
    } else {
      ASSERT_TRUE(decoded) << decoded.error().display();
      EXPECT_EQ(json::encode(*decoded), c.expected);
    }
  }
}

TEST(IssueRecordsTest, IssueListEntries) {
  expect_decoded<std::vector<Issue>>({
      {R"([{"number":"7"}])", R"([{"number":"7"}])"},
      {R"([{"number":7}])", "error: at [0].number"},
      {R"([{"number":"7","number":"8"}])", "error: duplicate field `number`"},
      // A repeated key the record does not know is skipped like any unknown key.
      {R"([{"x":1,"x":2,"title":"t"}])", R"([{"title":"t"}])"},
      {R"([{"comment_count":3}])", R"([{"comment_count":3}])"},
      {R"([{"comment_count":3.0}])", "error: at [0].comment_count"},
      {R"([{"comment_count":"3"}])", "error: at [0].comment_count"},
      {R"([{"comment_count":null,"invisible":null}])", "[{}]"},
      {R"([{"invisible":0}])", "error: at [0].invisible"},
      {R"([{"labels":[{"id":"1","creator":{"username":"a"},"applied_by":{"username":"b"}}]}])",
       R"([{"labels":[{"id":"1"}]}])"},
      {R"([{"labels":[null]}])", "error: at [0].labels[0]"},
      {R"([null])", "error: at [0]"},
  });
}

TEST(IssueRecordsTest, SingleIssues) {
  expect_decoded<IssueDetail>({
      {R"({"labels":[{"id":"1","creator":{"username":"a"},"applied_by":null}]})",
       R"({"labels":[{"creator":{"username":"a"},"id":"1"}]})"},
      {R"({"properties":[]})", R"({"properties":[]})"},
      {R"({"properties":null})", "{}"},
      {R"({"properties":[{"value":"3","type":"number","name":"n","key":"k"}]})",
       R"({"properties":[{"key":"k","name":"n","type":"number","value":"3"}]})"},
      {R"({"properties":[{"value":3}]})", "error: at properties[0].value"},
      {R"({"properties":[{"value":true}]})", "error: at properties[0].value"},
      {R"({"statuses":{"ci":[{"key":{"sha":"abc"},"context":{"a":"b"}}]}})",
       R"({"statuses":{"ci":[{"context":{"a":"b"},"key":{"sha":"abc"}}]}})"},
      {R"({"statuses":{"ci":[{"key":"abc"}]}})", "error: at statuses.ci[0].key"},
      {R"({"statuses":{"ci":[{"context":"abc"}]}})", "error: at statuses.ci[0].context"},
      {R"({"statuses":{"ci":[{"key":{"sha":1}}]}})", "error: at statuses.ci[0].key.sha"},
      {R"({"statuses":{"ci":[{"statuses":[{"tasks":{"t":"done"},"state":"ok"}]}]}})",
       R"({"statuses":{"ci":[{"statuses":[{"state":"ok","tasks":{"t":"done"}}]}]}})"},
      {R"({"statuses":[]})", "error: at statuses"},
      {"[]", "error: expected struct IssueDetail"},
      {"null", "{}"},
  });
}

TEST(IssueRecordsTest, CommentsAndLabels) {
  expect_decoded<std::vector<IssueComment>>({
      {R"([{"id":"981"}])", R"([{"id":"981"}])"},
      {R"([{"id":981}])", "error: at [0].id"},
      {R"([{"reactions":[{"count":2,"top_users":null}]}])", R"([{"reactions":[{"count":2}]}])"},
      {R"([{"reactions":[{"count":2.5}]}])", "error: at [0].reactions[0].count"},
      {R"([{"reactions":[{"top_users":[null]}]}])", "error: at [0].reactions[0].top_users[0]"},
  });
  expect_decoded<Label>({
      {R"({"name":"ui","id":"12","color":null,"extra":1})", R"({"id":"12","name":"ui"})"},
      {R"({"id":12})", "error: at id"},
      {R"([{"name":"ui"}])", "error: expected struct Label"},
  });
}

TEST(IssueRecordsTest, RequestBodiesLeaveOutWhatIsAbsentButKeepWhatIsEmpty) {
  EXPECT_EQ(json::encode(CreateIssueRequest{.title = "T"}), R"({"title":"T"})");
  EXPECT_EQ(json::encode(CreateIssueRequest{.labels = std::vector<std::string>{}, .title = "T"}),
            R"({"labels":[],"title":"T"})");
  EXPECT_EQ(json::encode(UpdateIssueRequest{}), "{}");
  EXPECT_EQ(json::encode(UpdateIssueRequest{.state = "closed"}), R"({"state":"closed"})");
  EXPECT_EQ(json::encode(UpdateIssueRequest{.title = ""}), R"({"title":""})");
  EXPECT_EQ(json::encode(IssueLabelsRequest{.labels = std::vector<std::string>{}}), R"({"labels":[]})");
}

TEST(IssueRecordsTest, ListQueryKeepsTheEndpointOrderAndSendsOnlyWhatIsPresent) {
  EXPECT_EQ(query_string(ListIssuesQuery{}), "");
  EXPECT_EQ(query_string(ListIssuesQuery{.page_size = 10,
                                         .labels = "a,b",
                                         .labels_operator = "and",
                                         .assignees = "-",
                                         .close_time_end = "2025-01-01 00:00",
                                         .order_by = "-updated_at"}),
            "page_size=10&labels=a%2Cb&labels_operator=and&assignees=-&close_time_end=2025-01-01+00%3A00"
            "&order_by=-updated_at");
  EXPECT_EQ(query_string(ListIssueCommentsQuery{.sort = "asc", .page = 1}), "sort=asc&page=1");
}

}  // namespace
}  // namespace qel::api
