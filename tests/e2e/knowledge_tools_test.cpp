// Knowledge-base tools end to end: the real server over pipes, talking HTTPS
// to the mock platform.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"
#include "shared_server.hpp"

namespace qeltest {
namespace {

// One server for the whole suite; each test scripts the routes it uses and
// starts from an empty request log.
class KnowledgeToolsTest : public SharedServerTest {};

constexpr const char* kQueryPath = "/g/r/-/knowledge/base/query";

TEST_F(KnowledgeToolsTest, InfoReadsTheRepositoryKnowledgeBase) {
  struct Case {
    std::string repo, reply, target, text;
  };
  const Case cases[] = {
      {"g/sub/r",
       R"({"statistics":{"size":2048,"count":3},"metadata":{"version":"v2","processing":{"text_separator":"\n\n",)"
       R"("chunk_size":512,"chunk_overlap":64},"issue":{"state":"open","labels":"bug,doc","exclude_labels":"wip"}},)"
       R"("last_commit_sha":"abc","issue_sync_enabled":true,"issue_last_sync_time":"2024-01-01","include":"**/*.md",)"
       R"("id":"kb-1","exclude":"vendor/**","embedding_model":{"name":"bge-m3","dimension":1024},"extra":[1]})",
       "/g/sub/r/-/knowledge/base",
       R"({"embedding_model":{"dimension":1024,"name":"bge-m3"},"exclude":"vendor/**","id":"kb-1",)"
       R"("include":"**/*.md","issue_last_sync_time":"2024-01-01","issue_sync_enabled":true,"last_commit_sha":"abc",)"
       R"("metadata":{"issue":{"exclude_labels":"wip","labels":"bug,doc","state":"open"},)"
       R"("processing":{"chunk_overlap":64,"chunk_size":512,"text_separator":"\n\n"},"version":"v2"},)"
       R"("statistics":{"count":3,"size":2048}})"},
      {"g/r", R"({"id":"kb","statistics":null})", "/g/r/-/knowledge/base", R"({"id":"kb"})"},
      {"g/r", "null", "/g/r/-/knowledge/base", "{}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    mock_->on("GET", c.target, {{.body = c.reply}});
    mock_->clear();
    ToolResult result = client_->call_tool("qel_get_knowledge_base_info", R"({"repo":")" + c.repo + R"("})");
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_FALSE(result.is_error) << result.text;
    EXPECT_EQ(result.text, c.text);
    auto requests = mock_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, c.target);
    EXPECT_EQ(requests[0].body, "");
  }
}

TEST_F(KnowledgeToolsTest, InfoKindsAreStrict) {
  struct Case {
    std::string reply, mention;
  };
  const Case cases[] = {
      {R"({"statistics":{"count":"3"}})", "count"},
      {R"({"embedding_model":{"dimension":1024.5}})", "dimension"},
      {R"({"metadata":{"processing":{"chunk_size":"512"}}})", "chunk_size"},
      {R"({"issue_sync_enabled":"true"})", "issue_sync_enabled"},
      {R"({"metadata":{"issue":{"labels":["bug"]}}})", "labels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    mock_->on("GET", "/g/r/-/knowledge/base", {{.body = c.reply}});
    ToolResult result = client_->call_tool("qel_get_knowledge_base_info", R"({"repo":"g/r"})");
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_TRUE(result.is_error);
    EXPECT_EQ(result.text.rfind("JSON 解析错误：", 0), 0u) << result.text;
    EXPECT_NE(result.text.find(c.mention), std::string::npos) << result.text;
  }
}

TEST_F(KnowledgeToolsTest, QueryBodyCarriesWhatWasGiven) {
  struct Case {
    std::string args, body;
  };
  const Case cases[] = {
      {R"({"repo":"g/r","query":"如何部署"})", R"({"query":"如何部署"})"},
      {R"({"top_k":5,"repo":"g/r","query":"q","score_threshold":0.5,"metadata_filtering_conditions":)"
       R"({"conditions":[{"value":"src","name":"path","comparison_operator":"contains"}]}})",
       R"({"metadata_filtering_conditions":{"conditions":[{"comparison_operator":"contains","name":"path",)"
       R"("value":"src"}]},"query":"q","score_threshold":0.5,"top_k":5})"},
      // No value for an operator that needs none; the connective only when given.
      {R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{"logical_operator":"or","conditions":[)"
       R"({"comparison_operator":"is empty","name":"type"},{"comparison_operator":"is","name":"path","value":"a.md"}]}})",
       R"({"metadata_filtering_conditions":{"conditions":[{"comparison_operator":"is empty","name":"type"},)"
       R"({"comparison_operator":"is","name":"path","value":"a.md"}],"logical_operator":"or"},"query":"q"})"},
      {R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{"conditions":[]}})",
       R"({"metadata_filtering_conditions":{"conditions":[]},"query":"q"})"},
      {R"({"repo":"g/r","query":"q","metadata_filtering_conditions":null,"top_k":null})", R"({"query":"q"})"},
      // Nothing is checked or defaulted: out-of-range values go out as given.
      {R"({"repo":"g/r","query":"q","score_threshold":1,"top_k":0})",
       R"({"query":"q","score_threshold":1.0,"top_k":0})"},
      {R"({"repo":"g/r","query":"q","score_threshold":-2.25})", R"({"query":"q","score_threshold":-2.25})"},
  };
  mock_->on("POST", kQueryPath, {{.body = "[]"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    mock_->clear();
    ToolResult result = client_->call_tool("qel_query_knowledge_base", c.args);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_FALSE(result.is_error) << result.text;
    EXPECT_EQ(result.text, "[]");
    auto requests = mock_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, kQueryPath);
    EXPECT_EQ(requests[0].header("content-type"), "application/json");
    EXPECT_EQ(requests[0].body, c.body);
  }
}

TEST_F(KnowledgeToolsTest, QueryAnswerIsAListOfHits) {
  struct Case {
    std::string reply;
    bool is_error;
    std::string text;  // whole text, or the prefix of an error
  };
  const Case cases[] = {
      {"[]", false, "[]"},
      {" null ", false, "[]"},
      {R"([{"score":0.25,"chunk":"第一段","other":1},{"chunk":"c2","metadata":{}},{}])", false,
       R"([{"chunk":"第一段","score":0.25},{"chunk":"c2","metadata":{}},{}])"},
      // Metadata members keep any JSON value, nested objects with sorted keys.
      {R"([{"metadata":{"tags":[1,"a",null,{"b":1,"a":2}]}}])", false,
       R"([{"metadata":{"tags":[1,"a",null,{"a":2,"b":1}]}}])"},
      {R"({"chunk":"c"})", true, "JSON 解析错误："},
      {R"([{"score":"0.9"}])", true, "JSON 解析错误："},
      {R"([null])", true, "JSON 解析错误："},
      {"", true, "JSON 解析错误："},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    mock_->on("POST", kQueryPath, {{.body = c.reply}});
    ToolResult result = client_->call_tool("qel_query_knowledge_base", R"({"repo":"g/r","query":"q"})");
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_EQ(result.is_error, c.is_error) << result.text;
    EXPECT_EQ(result.text.substr(0, c.text.size()), c.text);
  }

  // An integral score keeps its ".0"; metadata members may come in any order.
  mock_->on("POST", kQueryPath, {{.body = R"([{"chunk":"c","metadata":{"path":"a.md","position":3},"score":1}])"}});
  ToolResult result = client_->call_tool("qel_query_knowledge_base", R"({"repo":"g/r","query":"q"})");
  EXPECT_FALSE(result.is_error) << result.text;
  EXPECT_TRUE(result.text == R"([{"chunk":"c","metadata":{"path":"a.md","position":3},"score":1.0}])" ||
              result.text == R"([{"chunk":"c","metadata":{"position":3,"path":"a.md"},"score":1.0}])")
      << result.text;
}

TEST_F(KnowledgeToolsTest, BadArgumentsAreParameterErrorsAndSendNothing) {
  const std::string prefix = "failed to deserialize parameters: ";
  expect_parameter_errors({
      {"qel_get_knowledge_base_info", "{}", prefix + "missing field `repo`"},
      {"qel_query_knowledge_base", R"({"repo":"g/r"})", prefix + "missing field `query`"},
      {"qel_query_knowledge_base", R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{}})",
       prefix + "missing field `conditions`"},
      {"qel_query_knowledge_base",
       R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{"logical_operator":"and"}})",
       prefix + "missing field `conditions`"},
      {"qel_query_knowledge_base",
       R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{"conditions":[{"name":"path"}]}})",
       prefix + "missing field `comparison_operator`"},
      {"qel_query_knowledge_base",
       R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{"conditions":[{"comparison_operator":"is"}]}})",
       prefix + "missing field `name`"},
      {"qel_query_knowledge_base",
       R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{"conditions":[)"
       R"({"comparison_operator":"is","name":"position","value":3}]}})",
       prefix + "invalid type: integer `3`"},
      {"qel_query_knowledge_base", R"({"repo":"g/r","query":"q","metadata_filtering_conditions":{"conditions":null}})",
       prefix + "invalid type: null"},
      {"qel_query_knowledge_base", R"({"repo":"g/r","query":"q","score_threshold":"0.5"})",
       prefix + "invalid type: string \"0.5\""},
      {"qel_query_knowledge_base", R"({"repo":"g/r","query":"q","top_k":2.5})",
       prefix + "invalid type: floating point `2.5`"},
  });
}

}  // namespace
}  // namespace qeltest
