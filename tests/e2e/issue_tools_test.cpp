// The issue, issue comment and issue label tools end to end: the real server
// binary over pipes, talking HTTPS to the mock platform. Each case pins the
// request that leaves the server (method, raw target, body bytes) and the
// text that comes back to the assistant.
#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"
#include "shared_server.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace qeltest {
namespace {

using Reply = MockPlatform::Reply;

// One tool call and the single request it must cause.
struct Exchange {
  std::string tool;
  std::string args;
  std::string method;
  std::string target;
  std::string body;  // request body; "" when none is sent
  std::string answer;
  std::string text;
  bool is_error = false;
  int status = 200;
};

// One server for the whole suite: the tools keep no state between calls, so
// sharing it only saves start-up time.
class IssueToolsTest : public SharedServerTest {
 protected:
  static MockPlatform& mock() { return *mock_; }
  static McpClient& client() { return *client_; }

  // Calls the tool with the platform answering `reply` to whatever arrives.
  static ToolResult call(const std::string& tool, const std::string& args, Reply reply = {}) {
    mock().clear();
    mock().on_any({std::move(reply)});
    return client().call_tool(tool, args);
  }

  static void expect_exchanges(const std::vector<Exchange>& cases) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.tool + " " + c.args);
      ToolResult got = call(c.tool, c.args, {.status = c.status, .body = c.answer});
      ASSERT_FALSE(got.error.has_value()) << got.error->message;
      EXPECT_EQ(got.text, c.text);
      EXPECT_EQ(got.is_error, c.is_error);
      auto requests = mock().requests();
      ASSERT_EQ(requests.size(), 1u) << "writes are sent once, successful reads once";
      EXPECT_EQ(requests[0].method, c.method);
      EXPECT_EQ(requests[0].target, c.target);
      EXPECT_EQ(requests[0].body, c.body);
      if (!c.body.empty()) {
        EXPECT_EQ(requests[0].header("content-type"), "application/json");
      }
    }
  }
};

TEST_F(IssueToolsTest, IssueToolsSendTheirRequestAndPrintTheAnswer) {
  const std::vector<Exchange> cases = {
      // The query keys come out in the endpoint's order, never the caller's.
      {"qel_list_issues", R"({"repo":"g/r"})", "GET", "/g/r/-/issues", "", "[]", "[]"},
      {"qel_list_issues", R"({"order_by":"-updated_at","repo":"g/r","state":"open","page":2})", "GET",
       "/g/r/-/issues?page=2&state=open&order_by=-updated_at", "", "[]", "[]"},
      {"qel_list_issues",
       R"({"page_size":500,"page":1,"order_by":"created_at","assignees":"-","authors":"ann,bob",)"
       R"("labels":"ui,backend","priority":"P0,P1","keyword":"登录 a&b=c","state":"closed","repo":"g/r"})",
       "GET",
       "/g/r/-/issues?page=1&page_size=500&state=closed&keyword=%E7%99%BB%E5%BD%95+a%26b%3Dc&priority=P0%2CP1"
       "&labels=ui%2Cbackend&authors=ann%2Cbob&assignees=-&order_by=created_at",
       "", "[]", "[]"},
      {"qel_list_issues", R"({"repo":"g/r","state":null,"page":null,"unknown":1})", "GET", "/g/r/-/issues", "",
       "[]", "[]"},
      // List entries carry plain labels: who created or applied them is dropped.
      {"qel_list_issues", R"({"repo":"g/r"})", "GET", "/g/r/-/issues", "",
       R"([{"title":"T","number":"7","labels":[{"name":"ui","id":"1","creator":{"username":"a"},)"
       R"("applied_by":{"username":"b"}}],"comment_count":null,"extra":{"x":[1]},)"
       R"("author":{"username":"ann","freeze":false,"avatar":null}}])",
       R"([{"author":{"freeze":false,"username":"ann"},"labels":[{"id":"1","name":"ui"}],"number":"7","title":"T"}])"},
      {"qel_list_issues", R"({"repo":"g/r"})", "GET", "/g/r/-/issues", "", " null ", "[]"},

      // A single issue keeps the label's people, its properties and statuses.
      {"qel_get_issue", R"({"repo":"a/b/c","number":12})", "GET", "/a/b/c/-/issues/12", "",
       R"({"statuses":{"ci":[{"statuses":[{"state":"success","context":"build"}],"key":{"k":"v"}}]},)"
       R"("properties":[],"number":"12","labels":[{"name":"ui","applied_by":null,"creator":{"username":"c"}}],)"
       R"("body":"说明","comment_count":3})",
       R"({"body":"说明","comment_count":3,"labels":[{"creator":{"username":"c"},"name":"ui"}],"number":"12",)"
       R"("properties":[],"statuses":{"ci":[{"key":{"k":"v"},"statuses":[{"context":"build","state":"success"}]}]}})"},
      {"qel_get_issue", R"({"repo":"g/r","number":1})", "GET", "/g/r/-/issues/1", "", "null", "{}"},

      {"qel_create_issue", R"({"repo":"g/r","title":"T"})", "POST", "/g/r/-/issues", R"({"title":"T"})",
       R"({"title":"T","number":"8"})", R"({"number":"8","title":"T"})"},
      {"qel_create_issue", R"({"priority":"P1","labels":["ui"],"title":"T","repo":"g/r"})", "POST", "/g/r/-/issues",
       R"({"labels":["ui"],"priority":"P1","title":"T"})", "{}", "{}"},
      {"qel_create_issue",
       R"({"end_date":"2025-02-01","start_date":"2025-01-01","priority":"P0","labels":[],"assignees":["ann","bob"],)"
       R"("body":"line1\nline2 \"q\"","title":"新 Issue","repo":"g/r"})",
       "POST", "/g/r/-/issues",
       R"({"assignees":["ann","bob"],"body":"line1\nline2 \"q\"","end_date":"2025-02-01","labels":[],)"
       R"("priority":"P0","start_date":"2025-01-01","title":"新 Issue"})",
       "null", "{}"},

      {"qel_update_issue", R"({"repo":"g/r","number":5})", "PATCH", "/g/r/-/issues/5", "{}", "{}", "{}"},
      {"qel_update_issue", R"({"repo":"g/r","number":5,"state_reason":"not_planned"})", "PATCH", "/g/r/-/issues/5",
       R"({"state_reason":"not_planned"})", R"({"state":"closed"})", R"({"state":"closed"})"},
      {"qel_update_issue",
       R"({"end_date":"e","start_date":"s","priority":"P2","state_reason":"completed","state":"closed",)"
       R"("body":"","title":"新标题","number":5,"repo":"g/r"})",
       "PATCH", "/g/r/-/issues/5",
       R"({"body":"","end_date":"e","priority":"P2","start_date":"s","state":"closed","state_reason":"completed",)"
       R"("title":"新标题"})",
       "{}", "{}"},

      // Writes are never repeated, whatever the platform answers.
      {"qel_create_issue", R"({"repo":"g/r","title":"T"})", "POST", "/g/r/-/issues", R"({"title":"T"})", "busy",
       "API 请求失败 (HTTP 503): busy", true, 503},
  };
  expect_exchanges(cases);
}

TEST_F(IssueToolsTest, CommentToolsSendTheirRequestAndPrintTheAnswer) {
  const std::vector<Exchange> cases = {
      {"qel_list_issue_comments", R"({"repo":"g/r","number":4})", "GET", "/g/r/-/issues/4/comments", "",
       R"([{"id":"981","body":"hi","reactions":null,"author":{"username":"ann"}},{"id":"982","reactions":[]}])",
       R"([{"author":{"username":"ann"},"body":"hi","id":"981"},{"id":"982","reactions":[]}])"},
      {"qel_list_issue_comments", R"({"repo":"g/r","number":4,"page_size":50})", "GET",
       "/g/r/-/issues/4/comments?page_size=50", "", "[]", "[]"},
      {"qel_list_issue_comments", R"({"page_size":20,"page":3,"number":4,"repo":"g/r"})", "GET",
       "/g/r/-/issues/4/comments?page=3&page_size=20", "", "null", "[]"},

      {"qel_create_issue_comment", R"({"repo":"g/r","number":4,"body":"line1\nline2"})", "POST",
       "/g/r/-/issues/4/comments", R"({"body":"line1\nline2"})",
       R"({"id":"990","body":"line1\nline2","reactions":[{"reaction":"thumbsup","count":2,"has_reacted":true,)"
       R"("top_users":[{"username":"ann"}]}],"statuses":{"lint":[{"context":{"a":"b"}}]}})",
       R"({"body":"line1\nline2","id":"990","reactions":[{"count":2,"has_reacted":true,"reaction":"thumbsup",)"
       R"("top_users":[{"username":"ann"}]}],"statuses":{"lint":[{"context":{"a":"b"}}]}})"},
      {"qel_create_issue_comment", R"({"repo":"g/r","number":4,"body":""})", "POST", "/g/r/-/issues/4/comments",
       R"({"body":""})", "null", "{}"},

      {"qel_update_issue_comment", R"({"repo":"g/r","number":3,"comment_id":981,"body":"edited"})", "PATCH",
       "/g/r/-/issues/3/comments/981", R"({"body":"edited"})", R"({"id":"981","body":"edited"})",
       R"({"body":"edited","id":"981"})"},
      {"qel_update_issue_comment", R"({"repo":"g/r","number":3,"comment_id":981,"body":"x"})", "PATCH",
       "/g/r/-/issues/3/comments/981", R"({"body":"x"})", "no such comment", "no such comment", true, 404},
  };
  expect_exchanges(cases);
}

TEST_F(IssueToolsTest, LabelToolsSendTheirRequestAndPrintTheAnswer) {
  const std::string ui = R"({"name":"ui","id":"1","color":"f00","creator":{"username":"a"}})";
  const std::string ui_out = R"({"color":"f00","id":"1","name":"ui"})";
  const std::vector<Exchange> cases = {
      {"qel_list_issue_labels", R"({"repo":"g/r","number":4})", "GET", "/g/r/-/issues/4/labels", "",
       "[" + ui + "]", "[" + ui_out + "]"},
      {"qel_list_issue_labels", R"({"repo":"g/r","number":4})", "GET", "/g/r/-/issues/4/labels", "", "null", "[]"},

      {"qel_add_issue_labels", R"({"repo":"g/r","number":4,"labels":["ui","backend"]})", "POST",
       "/g/r/-/issues/4/labels", R"({"labels":["ui","backend"]})", "[" + ui + "]", "[" + ui_out + "]"},
      {"qel_add_issue_labels", R"({"repo":"g/r","number":4,"labels":[]})", "POST", "/g/r/-/issues/4/labels",
       R"({"labels":[]})", "null", "[]"},

      // Replacing answers with one label, not a list.
      {"qel_set_issue_labels", R"({"repo":"g/r","number":4,"labels":["ui"]})", "PUT", "/g/r/-/issues/4/labels",
       R"({"labels":["ui"]})", ui, ui_out},
      {"qel_set_issue_labels", R"({"repo":"g/r","number":4,"labels":[]})", "PUT", "/g/r/-/issues/4/labels",
       R"({"labels":[]})", "null", "{}"},

      // Clearing confirms any 2xx without reading the body, even one that is not JSON.
      {"qel_clear_issue_labels", R"({"repo":"g/r","number":4})", "DELETE", "/g/r/-/issues/4/labels", "",
       R"({"labels":[1]})", "All labels cleared"},
      {"qel_clear_issue_labels", R"({"repo":"g/r","number":4})", "DELETE", "/g/r/-/issues/4/labels", "", "not json",
       "All labels cleared"},
      {"qel_clear_issue_labels", R"({"repo":"g/r","number":4})", "DELETE", "/g/r/-/issues/4/labels", "", "",
       "All labels cleared", false, 204},
      {"qel_clear_issue_labels", R"({"repo":"g/r","number":4})", "DELETE", "/g/r/-/issues/4/labels", "",
       "issue not found", "issue not found", true, 404},

      // Label names keep their characters: "?" and "#" stay in the path
      // instead of starting a query or fragment, the rest as a URL parser writes it.
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":"ui"})", "DELETE",
       "/g/r/-/issues/4/labels/ui", "", "[" + ui + "]", "[" + ui_out + "]"},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":"a?b"})", "DELETE",
       "/g/r/-/issues/4/labels/a%3Fb", "", "null", "[]"},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":"a#b"})", "DELETE",
       "/g/r/-/issues/4/labels/a%23b", "", "[]", "[]"},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":"good first"})", "DELETE",
       "/g/r/-/issues/4/labels/good%20first", "", "[]", "[]"},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":"中文"})", "DELETE",
       "/g/r/-/issues/4/labels/%E4%B8%AD%E6%96%87", "", "[]", "[]"},
  };
  expect_exchanges(cases);
}

// A value whose path segment is "." or ".." would let the address climb out of
// the endpoint (a label "../../../.." would name the repository itself), so
// the tool refuses it before sending anything.
TEST_F(IssueToolsTest, DotSegmentsInPathValuesAreRefusedAndNothingIsSent) {
  struct Case {
    std::string tool, args, refused;
  };
  const std::vector<Case> cases = {
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":"../x"})", "../x"},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":".."})", ".."},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4,"label_name":"../../../.."})", "../../../.."},
      {"qel_get_issue", R"({"repo":"g/..","number":4})", "g/.."},
      {"qel_clear_issue_labels", R"({"repo":"./r","number":4})", "./r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.args);
    ToolResult got = call(c.tool, c.args, {.body = "[]"});
    ASSERT_FALSE(got.error.has_value()) << got.error->message;
    EXPECT_TRUE(got.is_error);
    EXPECT_NE(got.text.find(c.refused), std::string::npos) << got.text;
    EXPECT_TRUE(mock().requests().empty());
  }
}

TEST_F(IssueToolsTest, ArgumentsThatDoNotFitAreRefusedBeforeAnyRequest) {
  struct Case {
    std::string tool, args, fragment;
  };
  const std::vector<Case> cases = {
      {"qel_list_issues", "", "missing field `repo`"},
      {"qel_list_issues", R"({"repo":"g/r","page":"2"})", R"(invalid type: string "2")"},
      {"qel_list_issues", R"({"repo":"g/r","page_size":1.5})", "invalid type: floating point `1.5`"},
      {"qel_get_issue", R"({"repo":"g/r","number":"12"})", R"(invalid type: string "12")"},
      {"qel_get_issue", R"({"repo":"g/r"})", "missing field `number`"},
      {"qel_get_issue", R"({"repo":"g/r","number":9223372036854775808})", "i64"},
      {"qel_create_issue", R"({"repo":"g/r"})", "missing field `title`"},
      {"qel_create_issue", R"({"repo":"g/r","title":"T","labels":"ui"})", R"(invalid type: string "ui")"},
      {"qel_update_issue", R"({"repo":"g/r","number":5,"state":1})", "invalid type: integer `1`"},
      {"qel_create_issue_comment", R"({"repo":"g/r","number":4})", "missing field `body`"},
      {"qel_update_issue_comment", R"({"repo":"g/r","number":3,"comment_id":"981","body":"x"})",
       R"(invalid type: string "981")"},
      {"qel_add_issue_labels", R"({"repo":"g/r","number":4,"labels":null})", "invalid type: null"},
      {"qel_add_issue_labels", R"({"repo":"g/r","number":4,"labels":["ui",1]})", "invalid type: integer `1`"},
      {"qel_set_issue_labels", R"({"repo":"g/r","number":4})", "missing field `labels`"},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":4})", "missing field `label_name`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.args);
    ToolResult got = call(c.tool, c.args, {.body = "[]"});
    ASSERT_TRUE(got.error.has_value());
    EXPECT_EQ(got.error->code, -32602);
    EXPECT_TRUE(got.error->message.starts_with("failed to deserialize parameters: ")) << got.error->message;
    EXPECT_NE(got.error->message.find(c.fragment), std::string::npos) << got.error->message;
    EXPECT_TRUE(mock().requests().empty());
  }
}

// An answer that does not fit its record fails as a whole, and the message
// says where: the assistant can tell which field the platform got wrong.
TEST_F(IssueToolsTest, AnswersOfTheWrongShapeAreDecodeErrorsNamingTheField) {
  struct Case {
    std::string tool, args, answer, fragment;
  };
  const std::string issue = R"({"repo":"g/r","number":1})";
  const std::string labels = R"({"repo":"g/r","number":1,"labels":["ui"]})";
  const std::vector<Case> cases = {
      {"qel_list_issues", R"({"repo":"g/r"})", R"({"number":"1"})", "expected a sequence"},
      {"qel_list_issues", R"({"repo":"g/r"})", R"([{"number":"1"},{"number":7}])",
       "integer `7`, expected a string at [1].number"},
      {"qel_list_issues", R"({"repo":"g/r"})", R"([{"comment_count":3.0}])", "at [0].comment_count"},
      {"qel_list_issues", R"({"repo":"g/r"})", R"([{"labels":[{"id":12}]}])", "at [0].labels[0].id"},
      {"qel_list_issues", R"({"repo":"g/r"})", R"([{"author":{"freeze":"true"}}])", "at [0].author.freeze"},
      {"qel_get_issue", issue, "[]", "expected struct IssueDetail"},
      {"qel_get_issue", issue, R"({"properties":[{"key":"k","value":1}]})", "at properties[0].value"},
      {"qel_get_issue", issue, R"({"statuses":{"ci":[{"key":"x"}]}})", "at statuses.ci[0].key"},
      {"qel_get_issue", issue, R"({"labels":[{"applied_by":{"is_npc":1}}]})", "at labels[0].applied_by.is_npc"},
      {"qel_get_issue", issue, R"({"title":"a","title":"b"})", "duplicate field `title`"},
      {"qel_update_issue", issue, R"({"assignees":[null]})", "at assignees[0]"},
      {"qel_list_issue_comments", issue, R"([{"id":981}])", "at [0].id"},
      {"qel_create_issue_comment", R"({"repo":"g/r","number":1,"body":"b"})",
       R"({"reactions":[{"count":1.5}]})", "at reactions[0].count"},
      {"qel_update_issue_comment", R"({"repo":"g/r","number":1,"comment_id":2,"body":"b"})",
       R"({"reactions":[{"top_users":[null]}]})", "at reactions[0].top_users[0]"},
      {"qel_list_issue_labels", issue, R"({"name":"ui"})", "expected a sequence"},
      {"qel_list_issue_labels", issue, "", "JSON"},
      {"qel_add_issue_labels", labels, R"([{"name":"ui"}, 1])", "at [1]"},
      {"qel_set_issue_labels", labels, R"([{"name":"ui"}])", "expected struct Label"},
      {"qel_remove_issue_label", R"({"repo":"g/r","number":1,"label_name":"ui"})", R"({"name":"ui"})",
       "expected a sequence"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool + " answered " + c.answer);
    ToolResult got = call(c.tool, c.args, {.body = c.answer});
    ASSERT_FALSE(got.error.has_value()) << got.error->message;
    EXPECT_TRUE(got.is_error);
    EXPECT_TRUE(got.text.starts_with("JSON 解析错误：")) << got.text;
    EXPECT_NE(got.text.find(c.fragment), std::string::npos) << got.text;
  }
}

TEST_F(IssueToolsTest, ToolsAreListedWithTheirDescriptionsAndSchemas) {
  struct Case {
    std::string name, description, title;
    std::vector<std::string> required;
  };
  const std::vector<Case> cases = {
      {"qel_list_issues", "列出仓库的 Issues", "ListIssuesInput", {"repo"}},
      {"qel_get_issue", "获取指定 Issue 的详细信息", "GetIssueInput", {"repo", "number"}},
      {"qel_create_issue", "创建一个新的 Issue", "CreateIssueInput", {"repo", "title"}},
      {"qel_update_issue", "更新指定 Issue 的信息", "UpdateIssueInput", {"repo", "number"}},
      {"qel_list_issue_comments", "获取指定 Issue 的评论列表", "ListIssueCommentsInput", {"repo", "number"}},
      {"qel_create_issue_comment", "为指定 Issue 创建一条评论", "CreateIssueCommentInput", {"repo", "number", "body"}},
      {"qel_update_issue_comment", "更新指定 Issue 的一条评论", "UpdateIssueCommentInput",
       {"repo", "number", "comment_id", "body"}},
      {"qel_list_issue_labels", "获取指定 Issue 的标签列表", "ListIssueLabelsInput", {"repo", "number"}},
      {"qel_add_issue_labels", "为指定 Issue 添加标签", "AddIssueLabelsInput", {"repo", "number", "labels"}},
      {"qel_set_issue_labels", "设置指定 Issue 的标签（替换所有现有标签）", "SetIssueLabelsInput",
       {"repo", "number", "labels"}},
      {"qel_clear_issue_labels", "清空指定 Issue 的所有标签", "ClearIssueLabelsInput", {"repo", "number"}},
      {"qel_remove_issue_label", "删除指定 Issue 的某个标签", "RemoveIssueLabelInput",
       {"repo", "number", "label_name"}},
  };
  const std::string raw = client().request_raw("tools/list");
  const nlohmann::json listed = nlohmann::json::parse(raw)["result"]["tools"];
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto it = std::find_if(listed.begin(), listed.end(), [&](const auto& t) { return t["name"] == c.name; });
    ASSERT_NE(it, listed.end());
    EXPECT_EQ((*it)["description"], c.description);
    EXPECT_EQ((*it)["inputSchema"]["title"], c.title);
    EXPECT_EQ((*it)["inputSchema"]["required"], nlohmann::json(c.required));
  }

  // Byte for byte, keys sorted at every level, "null" last in type arrays.
  EXPECT_NE(raw.find(
                R"("inputSchema":{"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
                R"("assignees":{"description":"处理人过滤，逗号分隔；- 表示未分配","type":["string","null"]},)"
                R"("authors":{"description":"创建者过滤，逗号分隔","type":["string","null"]},)"
                R"("keyword":{"description":"搜索关键词","type":["string","null"]},)"
                R"("labels":{"description":"标签过滤，逗号分隔","type":["string","null"]},)"
                R"("order_by":{"description":"排序字段，如 `created_at`, `-updated_at`","type":["string","null"]},)"
                R"("page":{"description":"页码，从 1 开始","format":"int64","type":["integer","null"]},)"
                R"("page_size":{"description":"每页条数，默认 30","format":"int64","type":["integer","null"]},)"
                R"("priority":{"description":"优先级过滤，如 P0,P1,P2,P3","type":["string","null"]},)"
                R"("repo":{"description":"仓库路径","type":"string"},)"
                R"("state":{"description":"Issue 状态：open / closed","type":["string","null"]}},)"
                R"("required":["repo"],"title":"ListIssuesInput","type":"object"})"),
            std::string::npos);
  EXPECT_NE(raw.find(R"("labels":{"description":"标签列表","items":{"type":"string"},"type":["array","null"]})"),
            std::string::npos);
  EXPECT_NE(raw.find(R"("labels":{"description":"新的标签列表（替换所有现有标签）","items":{"type":"string"},)"
                     R"("type":"array"})"),
            std::string::npos);
}

}  // namespace
}  // namespace qeltest
