// Organization tools end to end: the real server over pipes, talking HTTPS
// to the mock platform.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"
#include "shared_server.hpp"

namespace qeltest {
namespace {

using Reply = MockPlatform::Reply;

// One server for the whole suite; each test scripts the routes it uses and
// starts from an empty request log.
class GroupToolsTest : public SharedServerTest {};

// Every organization field, as the tools write it: in record order.
const std::string kFullGroup =
    R"({"access_role":"Developer","all_member_count":11,"all_sub_group_count":12,"all_sub_mission_count":13,)"
    R"("all_sub_registry_count":14,"all_sub_repo_count":15,"created_at":"2024-01-02T03:04:05Z",)"
    R"("description":"研发中心","domain":"dev.example.com","email":"a@example.com","follow_count":16,)"
    R"("freeze":false,"has_sub_group":true,"id":"9001","member_count":17,"name":"Dev","path":"dev/team",)"
    R"("pinned":true,"pinned_time":"2024-02-03","readme_repo_path":"dev/team/readme","remark":"备注",)"
    R"("site":"https://dev.example.com","sub_group_count":18,"sub_mission_count":19,"sub_registry_count":20,)"
    R"("sub_repo_count":21,"updated_at":"2024-03-04T05:06:07Z","wechat_mp":"devmp"})";

// The same organization as the platform might send it: keys reversed, plus
// keys the record does not know.
std::string scrambled(const std::string& compact) {
  auto in = nlohmann::ordered_json::parse(compact);
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out["unknown_list"] = {1, {{"x", nullptr}}};
  std::vector<std::string> keys;
  for (auto& item : in.items()) keys.push_back(item.key());
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) out[*key] = in[*key];
  out["unknown_null"] = nullptr;
  return out.dump();
}

TEST_F(GroupToolsTest, EachToolSendsItsRequestAndWritesTheAnswer) {
  const std::string role = R"("access_role":"Developer",)";
  const std::string union_group = std::string(kFullGroup).erase(kFullGroup.find(role), role.size());
  struct Case {
    std::string tool, args;
    std::string method, route, reply;
    std::string target, body, text;
  };
  const Case cases[] = {
      {"qel_list_groups", "{}", "GET", "/user/groups", "[]", "/user/groups", "", "[]"},
      {"qel_list_groups", R"({"role":"Developer","page":1})", "GET", "/user/groups",
       R"([{"path":"g","access_role":"Owner"},{"name":"h"}])", "/user/groups?page=1&role=Developer", "",
       R"([{"access_role":"Owner","path":"g"},{"name":"h"}])"},
      // Query keys keep the endpoint's order, not the order of the arguments.
      {"qel_list_groups", R"({"role":"Owner","search":"my team&co","page_size":5,"page":2})", "GET", "/user/groups",
       "null", "/user/groups?page=2&page_size=5&search=my+team%26co&role=Owner", "", "[]"},
      {"qel_list_groups", "{}", "GET", "/user/groups", "[" + scrambled(kFullGroup) + "]", "/user/groups", "",
       "[" + kFullGroup + "]"},
      // Sub-organizations carry no role: a role in the answer is dropped.
      {"qel_list_sub_groups", R"({"group":"a/b"})", "GET", "/a/b/-/sub-groups", "[" + scrambled(kFullGroup) + "]",
       "/a/b/-/sub-groups", "", "[" + union_group + "]"},
      {"qel_list_sub_groups", R"({"group":"a","page_size":10,"page":3})", "GET", "/a/-/sub-groups", "null",
       "/a/-/sub-groups?page=3&page_size=10", "", "[]"},
      {"qel_get_group", R"({"group":"a/b"})", "GET", "/a/b", scrambled(kFullGroup), "/a/b", "", kFullGroup},
      {"qel_get_group", R"({"group":"a"})", "GET", "/a", " null ", "/a", "", "{}"},
      {"qel_create_group", R"({"path":"neo"})", "POST", "/groups", "", "/groups", R"({"path":"neo"})",
       "Organization created"},
      {"qel_create_group", R"({"remark":"r","path":"neo/sub"})", "POST", "/groups", "null", "/groups",
       R"({"path":"neo/sub","remark":"r"})", "Organization created"},
      {"qel_create_group",
       R"({"bind_domain":"neo.example.com","remark":"备注","description":"新组织","path":"neo"})", "POST",
       "/groups", R"({"id":"1","path":"neo"})", "/groups",
       R"({"bind_domain":"neo.example.com","description":"新组织","path":"neo","remark":"备注"})",
       "Organization created"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.args);
    mock_->on(c.method, c.route, {{.body = c.reply}});
    mock_->clear();
    ToolResult result = client_->call_tool(c.tool, c.args);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_FALSE(result.is_error) << result.text;
    EXPECT_EQ(result.text, c.text);
    auto requests = mock_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, c.method);
    EXPECT_EQ(requests[0].target, c.target);
    EXPECT_EQ(requests[0].body, c.body);
    if (c.method == "POST") {
      EXPECT_EQ(requests[0].header("content-type"), "application/json");
    }
  }
}

TEST_F(GroupToolsTest, OrganizationFieldsAreDecodedStrictly) {
  struct Case {
    std::string reply;
    std::string text;     // the result when it decodes
    std::string mention;  // else: what the decoding error must name
  };
  const Case cases[] = {
      {R"({"access_role":"Owner","id":"1"})", R"({"access_role":"Owner","id":"1"})", ""},
      {R"({"access_role":"Unknown"})", R"({"access_role":"Unknown"})", ""},
      {R"({"access_role":null,"name":"n","freeze":null})", R"({"name":"n"})", ""},
      {R"({"access_role":"Admin"})", "", "Admin"},
      {R"({"access_role":"owner"})", "", "owner"},
      {R"({"member_count":"3"})", "", "member_count"},
      {R"({"all_sub_repo_count":1.5})", "", "all_sub_repo_count"},
      {R"({"id":7})", "", "id"},
      {R"({"has_sub_group":1})", "", "has_sub_group"},
      {R"({"name":"a","name":"b"})", "", "name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    mock_->on("GET", "/g", {{.body = c.reply}});
    ToolResult result = client_->call_tool("qel_get_group", R"({"group":"g"})");
    ASSERT_FALSE(result.error) << result.error->message;
    if (c.mention.empty()) {
      EXPECT_FALSE(result.is_error) << result.text;
      EXPECT_EQ(result.text, c.text);
    } else {
      EXPECT_TRUE(result.is_error);
      EXPECT_EQ(result.text.rfind("JSON 解析错误：", 0), 0u) << result.text;
      EXPECT_NE(result.text.find(c.mention), std::string::npos) << result.text;
    }
  }
  // A bad element fails the whole list, not just that entry.
  mock_->on("GET", "/user/groups", {{.body = R"([{"path":"ok"},{"access_role":"Admin"}])"}});
  ToolResult list = client_->call_tool("qel_list_groups", "{}");
  EXPECT_TRUE(list.is_error);
  EXPECT_NE(list.text.find("Admin"), std::string::npos) << list.text;
}

TEST_F(GroupToolsTest, CreateConfirmsOnlyAnAcceptedDecodableAnswer) {
  struct Case {
    Reply reply;
    bool is_error;
    std::string text;  // whole text, or the prefix of an error
  };
  const Case cases[] = {
      {{.status = 201, .body = ""}, false, "Organization created"},
      {{.body = R"("ok")"}, false, "Organization created"},
      {{.body = "not json"}, true, "JSON 解析错误："},
      {{.status = 403, .body = "denied"}, true, "API 请求失败 (HTTP 403): denied"},
      {{.status = 409, .body = "exists"}, true, "API 请求失败 (HTTP 409): exists"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.body);
    mock_->on("POST", "/groups", {c.reply});
    mock_->clear();
    ToolResult result = client_->call_tool("qel_create_group", R"({"path":"neo"})");
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_EQ(result.is_error, c.is_error) << result.text;
    EXPECT_EQ(result.text.substr(0, c.text.size()), c.text);
    // A write is never repeated, whatever came back.
    EXPECT_EQ(mock_->requests().size(), 1u);
  }
}

TEST_F(GroupToolsTest, BadArgumentsAreParameterErrorsAndSendNothing) {
  expect_parameter_errors({
      {"qel_get_group", "{}", "failed to deserialize parameters: missing field `group`"},
      {"qel_list_sub_groups", R"({"page":1})", "failed to deserialize parameters: missing field `group`"},
      {"qel_create_group", R"({"description":"d"})", "failed to deserialize parameters: missing field `path`"},
      {"qel_list_groups", R"({"page":"1"})", "failed to deserialize parameters: invalid type: string \"1\""},
      {"qel_create_group", R"({"path":7})", "failed to deserialize parameters: invalid type: integer `7`"},
  });
}

}  // namespace
}  // namespace qeltest
