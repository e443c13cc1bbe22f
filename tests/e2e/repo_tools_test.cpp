// Repository tools end to end: the request each call sends and the text it
// returns, through the real binary and a local HTTPS platform.
#include <gtest/gtest.h>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"
#include "shared_server.hpp"

namespace {

using qeltest::McpClient;
using qeltest::MockPlatform;
using qeltest::ServerProcess;

class RepoTools : public qeltest::SharedServerTest {};

struct Row {
  const char* tool;
  const char* args;
  const char* method;
  const char* target;  // raw request target; nullptr: nothing may be sent
  const char* body;    // request body sent
  const char* answer;  // mock's 200 body
  const char* text;    // tool result text
  bool is_error;
};

TEST_F(RepoTools, RequestsAndResults) {
  const Row rows[] = {
      {"qel_list_repositories", "{}", "GET", "/user/repos", "", "[]", "[]", false},
      {"qel_list_repositories",
       R"({"desc":false,"search":"a b","role":"Owner","order_by":"stars","filter_type":"public","page_size":30,"page":1})",
       "GET", "/user/repos?page=1&page_size=30&search=a+b&filter_type=public&role=Owner&order_by=stars&desc=false", "",
       R"([{"path":"g/r","name":"r","id":"1"}])", R"([{"id":"1","name":"r","path":"g/r"}])", false},
      {"qel_list_repositories", R"({"desc":true})", "GET", "/user/repos?desc=true", "", " null ", "[]", false},
      {"qel_list_group_repositories", R"({"search":"x","group":"g","page":2})", "GET", "/g/-/repos?page=2&search=x", "",
       "[]", "[]", false},
      {"qel_list_group_repositories",
       R"({"group":"g/sub","desc":true,"descendant":"all","order_by":"x","filter_type":"private","page_size":5})", "GET",
       "/g/sub/-/repos?page_size=5&filter_type=private&order_by=x&desc=true&descendant=all", "", "[]", "[]", false},
      {"qel_get_repository", R"({"repo":"g/sub/r"})", "GET", "/g/sub/r", "",
       R"({"web_url":"u","status":1,"access":"Owner","tags":[2,{"z":1,"a":null}]})",
       R"({"access":"Owner","status":1,"tags":[2,{"a":null,"z":1}],"web_url":"u"})", false},
      {"qel_get_repository", R"({"repo":"g/my repo"})", "GET", "/g/my%20repo", "", "null", "{}", false},
      {"qel_get_repository", R"({"repo":"团队/仓库"})", "GET", "/%E5%9B%A2%E9%98%9F/%E4%BB%93%E5%BA%93", "", "{}", "{}",
       false},
      {"qel_get_repository", R"({"repo":"g/r?x=1#y"})", "GET", "/g/r%3Fx=1%23y", "", "{}", "{}", false},
      {"qel_get_repository", R"({"repo":"g/../other"})", nullptr, nullptr, "", "",
       "路径参数不能包含 . 或 .. 路径段：g/../other", true},
      {"qel_get_repository", R"({"repo":"g/r"})", "GET", "/g/r", "", "",
       "JSON 解析错误：invalid type: null, expected struct Repos4User", true},
      {"qel_get_repository", R"({"repo":"g/r"})", "GET", "/g/r", "", R"({"visibility_level":"public"})",
       "JSON 解析错误：unknown variant `public`, expected one of `Private`, `Public`, `Secret` at visibility_level",
       true},
      {"qel_get_current_repository", R"({"remote_url":"git@host.example:team/app.git"})", "GET", "/team/app", "", "{}",
       "{}", false},
      {"qel_get_current_repository", R"({"remote_url":"  https://user@host.example:8443/team/sub/app.git\n"})", "GET",
       "/team/sub/app", "", "{}", "{}", false},
      {"qel_get_current_repository", R"({"remote_url":"https://host/team/app.git/"})", "GET", "/team/app.git/", "",
       "{}", "{}", false},
      {"qel_get_current_repository", R"({"remote_url":"git@host:team/app.git.git"})", "GET", "/team/app.git", "", "{}",
       "{}", false},
      {"qel_get_current_repository", R"({"remote_url":"http://host/team/app"})", nullptr, nullptr, "", "",
       "无法从 URL 解析仓库路径：http://host/team/app", true},
      {"qel_get_current_repository", R"({"remote_url":" HTTPS://host/a/b"})", nullptr, nullptr, "", "",
       "无法从 URL 解析仓库路径： HTTPS://host/a/b", true},
      {"qel_get_current_repository", R"({"remote_url":"https://host"})", nullptr, nullptr, "", "",
       "无法从 URL 解析仓库路径：https://host", true},
      {"qel_get_current_repository", R"({"remote_url":"https://host/.git"})", nullptr, nullptr, "", "",
       "无法从 URL 解析仓库路径：https://host/.git", true},
      {"qel_get_current_repository", R"({"remote_url":"ssh://git@host/a/b"})", nullptr, nullptr, "", "",
       "无法从 URL 解析仓库路径：ssh://git@host/a/b", true},
      {"qel_create_repository", R"({"visibility":"public","name":"r","group":"g"})", "POST", "/g/-/repos",
       R"({"name":"r","visibility":"public"})", R"({"id":"9"})", "Repository created", false},
      {"qel_create_repository", R"({"name":"r","group":"g","description":""})", "POST", "/g/-/repos",
       R"({"description":"","name":"r"})", "", "Repository created", false},
      {"qel_create_repository", R"({"name":"r"})", "POST", "//-/repos", R"({"name":"r"})", "{}", "Repository created",
       false},
      {"qel_create_repository", R"({"name":"r","group":"g"})", "POST", "/g/-/repos", R"({"name":"r"})", "<html>",
       "JSON 解析错误：", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.tool) + " " + row.args);
    mock_->clear();
    mock_->on_any({{.body = row.answer}});
    auto result = client_->call_tool(row.tool, row.args);
    ASSERT_FALSE(result.error) << result.error->message;
    if (std::string_view(row.text).ends_with("：")) {
      EXPECT_TRUE(result.text.starts_with(row.text)) << result.text;
    } else {
      EXPECT_EQ(result.text, row.text);
    }
    EXPECT_EQ(result.is_error, row.is_error);
    auto requests = mock_->requests();
    if (!row.target) {
      EXPECT_TRUE(requests.empty());
      continue;
    }
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, row.method);
    EXPECT_EQ(requests[0].target, row.target);
    EXPECT_EQ(requests[0].body, row.body);
    EXPECT_EQ(requests[0].header("content-type"), *row.body ? "application/json" : "");
  }
}

}  // namespace
