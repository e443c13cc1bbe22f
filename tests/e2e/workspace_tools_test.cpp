// Workspace tools end to end: the real server over pipes, talking HTTPS to
// the mock platform.
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
class WorkspaceToolsTest : public SharedServerTest {};

TEST_F(WorkspaceToolsTest, EachToolSendsItsRequestAndWritesTheAnswer) {
  const std::string full_info =
      R"({"branch":"main","commit_count":3,"create_time":"2024-05-06 07:08:09","duration":120,"file_count":4,)"
      R"("file_list":"a.txt,b.txt","latest_sha":"abc123","pipeline_id":"p-1","remote_stash_count":0,)"
      R"("repo_url":"https://example.com/g/r","restore_id":"rs-1","slug":"g/r","sn":"cnb-1","ssh":true,)"
      R"("status":"running","workspace":"https://ws.example.com/p-1"})";
  struct Case {
    std::string tool, args;
    std::string route, reply;
    std::string target, body, text;
  };
  const Case cases[] = {
      {"qel_list_workspaces", "{}", "/workspace/list", "{}", "/workspace/list", "", "{}"},
      // Fixed key order, and the slash of the slug encoded inside the query.
      {"qel_list_workspaces", R"({"status":"running","page":1,"slug":"g/r"})", "/workspace/list",
       R"({"total":0,"list":[]})", "/workspace/list?page=1&slug=g%2Fr&status=running", "",
       R"({"list":[],"total":0})"},
      {"qel_list_workspaces", R"({"page_size":20,"status":"closed","branch":"feat/新 x","slug":"g/s/r","page":2})",
       "/workspace/list", "null", "/workspace/list?branch=feat%2F%E6%96%B0+x&page=2&page_size=20&slug=g%2Fs%2Fr&status=closed",
       "", "{}"},
      {"qel_list_workspaces", "{}", "/workspace/list",
       R"({"total":1,"pageInfo":{"page_size":10,"page":1},"list":[)" + full_info + R"(],"hasMore":false})",
       "/workspace/list", "",
       R"({"hasMore":false,"list":[)" + full_info + R"(],"pageInfo":{"page":1,"page_size":10},"total":1})"},
      {"qel_list_workspaces", "{}", "/workspace/list",
       R"({"hasMore":false,"list":[{"ssh":true,"commit_count":3}],"pageInfo":{"page":1,"page_size":10},"total":1})",
       "/workspace/list", "",
       R"({"hasMore":false,"list":[{"commit_count":3,"ssh":true}],"pageInfo":{"page":1,"page_size":10},"total":1})"},
      {"qel_start_workspace", R"({"git_ref":"refs/heads/main","repo":"g/sub/r","branch":"main"})",
       "/g/sub/r/-/workspace/start", R"({"url":"https://ws/1","sn":"s1","message":"ok","buildLogUrl":"https://log/1"})",
       "/g/sub/r/-/workspace/start", R"({"branch":"main","ref":"refs/heads/main"})",
       R"({"buildLogUrl":"https://log/1","message":"ok","sn":"s1","url":"https://ws/1"})"},
      {"qel_start_workspace", R"({"repo":"g/r"})", "/g/r/-/workspace/start", "{}", "/g/r/-/workspace/start", "{}",
       "{}"},
      {"qel_start_workspace", R"({"repo":"g/r","branch":"v1.0"})", "/g/r/-/workspace/start", "{}",
       "/g/r/-/workspace/start", R"({"branch":"v1.0"})", "{}"},
      {"qel_start_workspace", R"({"repo":"g/r","git_ref":"refs/tags/v1","branch":null})", "/g/r/-/workspace/start",
       "{}", "/g/r/-/workspace/start", R"({"ref":"refs/tags/v1"})", "{}"},
      // A POST naming the pipeline alone: no repository in the path.
      {"qel_delete_workspace", R"({"pipeline_id":"p-1"})", "/workspace/delete",
       R"({"message":"deleted","code":0})", "/workspace/delete", R"({"pipelineId":"p-1"})",
       R"({"code":0,"message":"deleted"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.args);
    const std::string method = c.tool == "qel_list_workspaces" ? "GET" : "POST";
    mock_->on(method, c.route, {{.body = c.reply}});
    mock_->clear();
    ToolResult result = client_->call_tool(c.tool, c.args);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_FALSE(result.is_error) << result.text;
    EXPECT_EQ(result.text, c.text);
    auto requests = mock_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, method);
    EXPECT_EQ(requests[0].target, c.target);
    EXPECT_EQ(requests[0].body, c.body);
    if (method == "POST") {
      EXPECT_EQ(requests[0].header("content-type"), "application/json");
    }
  }
}

TEST_F(WorkspaceToolsTest, AnswersWithLooseKindsAreDecodeErrors) {
  struct Case {
    std::string tool, args, method, route, reply, mention;
  };
  const Case cases[] = {
      {"qel_list_workspaces", "{}", "GET", "/workspace/list", R"({"list":[{"ssh":"true"}]})", "ssh"},
      {"qel_list_workspaces", "{}", "GET", "/workspace/list", R"({"total":"1"})", "total"},
      {"qel_list_workspaces", "{}", "GET", "/workspace/list", R"({"pageInfo":{"page":1.0}})", "page"},
      {"qel_list_workspaces", "{}", "GET", "/workspace/list", R"({"list":[null]})", "list"},
      {"qel_list_workspaces", "{}", "GET", "/workspace/list", R"({"list":[{"file_list":["a"]}]})", "file_list"},
      {"qel_list_workspaces", "{}", "GET", "/workspace/list", R"([])", "WorkspaceListResult"},
      {"qel_delete_workspace", R"({"pipeline_id":"p"})", "POST", "/workspace/delete", R"({"code":"0"})", "code"},
      {"qel_start_workspace", R"({"repo":"g/r"})", "POST", "/g/r/-/workspace/start", R"({"sn":1})", "sn"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.reply);
    mock_->on(c.method, c.route, {{.body = c.reply}});
    ToolResult result = client_->call_tool(c.tool, c.args);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_TRUE(result.is_error);
    EXPECT_EQ(result.text.rfind("JSON 解析错误：", 0), 0u) << result.text;
    EXPECT_NE(result.text.find(c.mention), std::string::npos) << result.text;
  }
}

TEST_F(WorkspaceToolsTest, StartAndDeleteAreSentOnce) {
  for (const char* tool : {"qel_start_workspace", "qel_delete_workspace"}) {
    SCOPED_TRACE(tool);
    mock_->on("POST", "/g/r/-/workspace/start", {{.status = 503, .body = "busy"}});
    mock_->on("POST", "/workspace/delete", {{.status = 503, .body = "busy"}});
    mock_->clear();
    ToolResult result = client_->call_tool(tool, R"({"repo":"g/r","pipeline_id":"p"})");
    EXPECT_TRUE(result.is_error);
    EXPECT_EQ(result.text, "API 请求失败 (HTTP 503): busy");
    EXPECT_EQ(mock_->requests().size(), 1u);
  }
}

TEST_F(WorkspaceToolsTest, BadArgumentsAreParameterErrorsAndSendNothing) {
  expect_parameter_errors({
      {"qel_delete_workspace", "{}", "failed to deserialize parameters: missing field `pipeline_id`"},
      {"qel_start_workspace", R"({"branch":"main"})", "failed to deserialize parameters: missing field `repo`"},
      {"qel_list_workspaces", R"({"page":"1"})", "failed to deserialize parameters: invalid type: string \"1\""},
      {"qel_start_workspace", R"({"repo":"g/r","git_ref":true})",
       "failed to deserialize parameters: invalid type: boolean `true`"},
  });
}

}  // namespace
}  // namespace qeltest
