// The pull request tools end to end: the real server over real pipes, talking
// HTTPS to the mock platform. Each case pins the request that goes out
// (method, raw target, body bytes) and the text that comes back.

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"
#include "shared_server.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace qeltest {
namespace {

using Reply = MockPlatform::Reply;

// One server and one mock platform per test suite; every case scripts its
// own route and starts from an empty request log.
class PullServerTest : public SharedServerTest {};

// ---- calls that reach the platform ------------------------------------------

enum class Match { Exact, Prefix };

struct CallCase {
  const char* name;
  const char* tool;
  const char* args;
  const char* method;
  const char* target;  // raw, as the platform sees it
  const char* body;    // "" = no body at all
  std::vector<Reply> replies;
  const char* text;
  bool is_error = false;
  Match match = Match::Exact;
  std::size_t requests = 1;  // more than one only when a GET is retried
};

std::ostream& operator<<(std::ostream& out, const CallCase& c) { return out << c.name; }

constexpr const char* kListEntryAnswer =
    R"([{"updated_at":"2024-05-02T00:00:00Z","title":"Fix","state":"open","review_count":2,)"
    R"("repo":{"web_url":"https://qel.dev/g/r","path":"g/r","name":"r","id":"9"},"number":"7","merged_by":null,)"
    R"("mergeable_state":"mergeable","last_acted_at":"2024-05-03",)"
    R"("labels":[{"name":"ui","id":"12","color":null,"applied_by":{"username":"x"},"extra":1}],)"
    R"("is_wip":false,"is_merged":false,"is_force_merged":false,"head":{"ref":"dev","repo":null,"sha":"abc"},)"
    R"("created_at":"2024-05-01","comment_count":3,"body":"","blocked_on":"","base":{"sha":"def","ref":"main"},)"
    R"("author":{"username":"alice","avatar":"a.png"},"assignees":[],"unknown_key":{"x":[1,2]}}])";
constexpr const char* kListEntryText =
    R"([{"assignees":[],"author":{"avatar":"a.png","username":"alice"},"base":{"ref":"main","sha":"def"},)"
    R"("blocked_on":"","body":"","comment_count":3,"created_at":"2024-05-01","head":{"ref":"dev","sha":"abc"},)"
    R"("is_force_merged":false,"is_merged":false,"is_wip":false,"labels":[{"id":"12","name":"ui"}],)"
    R"("last_acted_at":"2024-05-03","mergeable_state":"mergeable","number":"7",)"
    R"("repo":{"id":"9","name":"r","path":"g/r","web_url":"https://qel.dev/g/r"},"review_count":2,)"
    R"("state":"open","title":"Fix","updated_at":"2024-05-02T00:00:00Z"}])";

// A detail answer carrying the list-only keys, which the detail record drops.
constexpr const char* kDetailAnswer =
    R"({"title":"Fix","statuses":{"ci":[{"statuses":[{"state":"success","context":"build",)"
    R"("target_url":"https://ci/1"}],"key":{"sha":"abc"}}]},"state":"open",)"
    R"("reviewers":[{"user":{"username":"bob"},"review_state":"approved"}],"number":"12",)"
    R"("labels":[{"name":"bug","id":"3","creator":{"username":"carol"},"applied_by":null,"color":"f00"}],)"
    R"("is_wip":true,"head":{"ref":"dev","repo":{"id":"9","path":"g/r"},"sha":"abc"},"created_at":"2024-05-01",)"
    R"("assignees":[{"username":"dave"}],"comment_count":1,"last_acted_at":"x","repo":{"id":"9"},)"
    R"("review_count":1,"updated_at":"y","author":{"username":"alice","freeze":false,"is_npc":true}})";
constexpr const char* kDetailText =
    R"({"author":{"freeze":false,"is_npc":true,"username":"alice"},)"
    R"("head":{"ref":"dev","repo":{"id":"9","path":"g/r"},"sha":"abc"},"is_wip":true,)"
    R"("labels":[{"color":"f00","creator":{"username":"carol"},"id":"3","name":"bug"}],"number":"12",)"
    R"("reviewers":[{"review_state":"approved","user":{"username":"bob"}}],"state":"open",)"
    R"("statuses":{"ci":[{"key":{"sha":"abc"},"statuses":[{"context":"build","state":"success",)"
    R"("target_url":"https://ci/1"}]}]},"title":"Fix"})";

constexpr const char* kCommentsAnswer =
    R"([{"updated_at":"u","statuses":null,"reactions":[],"id":"81","created_at":"c","body":"LGTM",)"
    R"("author":{"nickname":"Bob"}},{"id":"82","reactions":null,"body":"再看看"},)"
    R"({"id":"83","reactions":[{"top_users":[{"username":"a"}],"reaction":"thumbs_up","has_reacted":true,"count":2}]}])";
constexpr const char* kCommentsText =
    R"([{"author":{"nickname":"Bob"},"body":"LGTM","created_at":"c","id":"81","reactions":[],"updated_at":"u"},)"
    R"({"body":"再看看","id":"82"},)"
    R"({"id":"83","reactions":[{"count":2,"has_reacted":true,"reaction":"thumbs_up","top_users":[{"username":"a"}]}]}])";

constexpr const char* kJsonError = "JSON 解析错误：";

const CallCase kCallCases[] = {
    // qel_list_pulls: the query keeps the endpoint's order whatever the argument order.
    {"ListRepoOnlyHasNoQuery", "qel_list_pulls", R"({"repo":"g/r"})", "GET", "/g/r/-/pulls", "",
     {{.body = "[]"}}, "[]"},
    {"ListNullArgumentsAreAbsent", "qel_list_pulls", R"({"repo":"g/r","state":null,"page":null})", "GET",
     "/g/r/-/pulls", "", {{.body = "[]"}}, "[]"},
    {"ListPageBeforeState", "qel_list_pulls", R"({"state":"all","repo":"g/r","page":2})", "GET",
     "/g/r/-/pulls?page=2&state=all", "", {{.body = "[]"}}, "[]"},
    {"ListAllParametersInEndpointOrder", "qel_list_pulls",
     R"({"order_by":"-updated_at","page_size":5,"state":"a b&c","page":1,"repo":"g/r"})", "GET",
     "/g/r/-/pulls?page=1&page_size=5&state=a+b%26c&order_by=-updated_at", "", {{.body = "[]"}}, "[]"},
    {"ListEntryWrittenInRecordOrder", "qel_list_pulls", R"({"repo":"g/r"})", "GET", "/g/r/-/pulls", "",
     {{.body = kListEntryAnswer}}, kListEntryText},
    {"ListNullBodyIsEmptyList", "qel_list_pulls", R"({"repo":"g/r"})", "GET", "/g/r/-/pulls", "",
     {{.body = " null "}}, "[]"},
    {"ListNumericNumberIsDecodeError", "qel_list_pulls", R"({"repo":"g/r"})", "GET", "/g/r/-/pulls", "",
     {{.body = R"([{"number":7}])"}}, kJsonError, true, Match::Prefix},
    {"ListRetriesAfter503", "qel_list_pulls", R"({"repo":"g/r"})", "GET", "/g/r/-/pulls", "",
     {{.status = 503, .body = "busy"}, {.body = R"([{"number":"1"}])"}}, R"([{"number":"1"}])", false,
     Match::Exact, 2},

    // qel_get_pull
    {"GetDropsListOnlyKeys", "qel_get_pull", R"({"repo":"g/r","number":12})", "GET", "/g/r/-/pulls/12", "",
     {{.body = kDetailAnswer}}, kDetailText},
    {"GetNestedRepoPathKeepsSlashes", "qel_get_pull", R"({"repo":"g/sub/r","number":1})", "GET",
     "/g/sub/r/-/pulls/1", "", {{.body = "{}"}}, "{}"},
    {"GetNegativeNumberKeepsSign", "qel_get_pull", R"({"repo":"g/r","number":-3})", "GET", "/g/r/-/pulls/-3", "",
     {{.body = "{}"}}, "{}"},
    {"GetNotFoundIsBodyText", "qel_get_pull", R"({"repo":"g/r","number":99})", "GET", "/g/r/-/pulls/99", "",
     {{.status = 404, .body = "pull 99 not found"}}, "pull 99 not found", true},

    // qel_create_pull
    {"CreateSendsRequiredKeysInBodyOrder", "qel_create_pull",
     R"({"repo":"g/r","title":"T","head":"dev","base":"main"})", "POST", "/g/r/-/pulls",
     R"({"base":"main","head":"dev","title":"T"})", {{.status = 201, .body = R"({"number":"8","title":"T"})"}},
     R"({"number":"8","title":"T"})"},
    {"CreateSendsEmptyBodyAsPresent", "qel_create_pull",
     R"({"head_repo":"me/r","body":"","base":"main","head":"dev","title":"T","repo":"g/r"})", "POST",
     "/g/r/-/pulls", R"({"base":"main","body":"","head":"dev","head_repo":"me/r","title":"T"})",
     {{.body = "{}"}}, "{}"},
    {"CreateEscapesBodyText", "qel_create_pull",
     R"({"repo":"g/r","title":"修复","head":"dev","base":"main","body":"行一\n\"引号\"\t\\"})", "POST",
     "/g/r/-/pulls", R"({"base":"main","body":"行一\n\"引号\"\t\\","head":"dev","title":"修复"})",
     {{.body = "{}"}}, "{}"},
    {"CreateNullAnswerIsEmptyRecord", "qel_create_pull", R"({"repo":"g/r","title":"T","head":"d","base":"m"})",
     "POST", "/g/r/-/pulls", R"({"base":"m","head":"d","title":"T"})", {{.body = "null"}}, "{}"},
    {"CreateIsNotRetriedOn503", "qel_create_pull", R"({"repo":"g/r","title":"T","head":"d","base":"m"})", "POST",
     "/g/r/-/pulls", R"({"base":"m","head":"d","title":"T"})", {{.status = 503, .body = "busy"}, {.body = "{}"}},
     "API 请求失败 (HTTP 503): busy", true},

    // qel_update_pull
    {"UpdateWithNothingSendsEmptyObject", "qel_update_pull", R"({"repo":"g/r","number":4})", "PATCH",
     "/g/r/-/pulls/4", "{}", {{.body = kDetailAnswer}}, kDetailText},
    {"UpdateStateOnly", "qel_update_pull", R"({"repo":"g/r","number":4,"state":"closed"})", "PATCH",
     "/g/r/-/pulls/4", R"({"state":"closed"})", {{.body = R"({"state":"closed"})"}}, R"({"state":"closed"})"},
    {"UpdateAllInBodyOrder", "qel_update_pull",
     R"({"title":"t","state":"open","body":"b","number":4,"repo":"g/r"})", "PATCH", "/g/r/-/pulls/4",
     R"({"body":"b","state":"open","title":"t"})", {{.body = "{}"}}, "{}"},
    {"UpdateIsNotRetriedOn503", "qel_update_pull", R"({"repo":"g/r","number":4})", "PATCH", "/g/r/-/pulls/4",
     "{}", {{.status = 503, .body = "busy"}, {.body = "{}"}}, "API 请求失败 (HTTP 503): busy", true},

    // qel_merge_pull: `force` is sent only when it is true.
    {"MergeForceTrue", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c","force":true})", "PUT",
     "/g/r/-/pulls/7/merge", R"({"commit_title":"c","force":true})",
     {{.body = R"({"sha":"abc","merged":true})"}}, R"({"merged":true,"sha":"abc"})"},
    {"MergeForceFalseLeavesKeyOut", "qel_merge_pull",
     R"({"repo":"g/r","number":7,"commit_title":"c","force":false})", "PUT", "/g/r/-/pulls/7/merge",
     R"({"commit_title":"c"})", {{.body = "{}"}}, "{}"},
    {"MergeForceMissingLeavesKeyOut", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c"})", "PUT",
     "/g/r/-/pulls/7/merge", R"({"commit_title":"c"})", {{.body = "{}"}}, "{}"},
    {"MergeAllFieldsInBodyOrder", "qel_merge_pull",
     R"({"force":true,"commit_message":"m","merge_style":"squash","commit_title":"c","number":7,"repo":"g/r"})",
     "PUT", "/g/r/-/pulls/7/merge", R"({"commit_message":"m","commit_title":"c","force":true,"merge_style":"squash"})",
     {{.body = "{}"}}, "{}"},
    {"MergeNotMergedIsStillAResult", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c"})", "PUT",
     "/g/r/-/pulls/7/merge", R"({"commit_title":"c"})",
     {{.body = R"({"message":"存在冲突","merged":false})"}}, R"({"merged":false,"message":"存在冲突"})"},
    {"MergeNullAnswerIsEmptyRecord", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c"})", "PUT",
     "/g/r/-/pulls/7/merge", R"({"commit_title":"c"})", {{.body = "null"}}, "{}"},
    {"MergeEmptyAnswerIsDecodeError", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c"})", "PUT",
     "/g/r/-/pulls/7/merge", R"({"commit_title":"c"})", {{.body = ""}}, kJsonError, true, Match::Prefix},
    {"MergeConflictCarriesTraceId", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c"})", "PUT",
     "/g/r/-/pulls/7/merge", R"({"commit_title":"c"})",
     {{.status = 409, .body = "conflict", .headers = {{"x-trace-id", "t-1"}}}},
     "API 请求失败 (HTTP 409): conflict\ntrace_id: t-1", true},
    {"MergeIsNotRetriedOn503", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c"})", "PUT",
     "/g/r/-/pulls/7/merge", R"({"commit_title":"c"})", {{.status = 503, .body = "busy"}, {.body = "{}"}},
     "API 请求失败 (HTTP 503): busy", true},

    // qel_list_pull_comments
    {"CommentsNoQuery", "qel_list_pull_comments", R"({"repo":"g/r","number":5})", "GET", "/g/r/-/pulls/5/comments",
     "", {{.body = kCommentsAnswer}}, kCommentsText},
    {"CommentsPageSizeOnly", "qel_list_pull_comments", R"({"repo":"g/r","number":5,"page_size":50})", "GET",
     "/g/r/-/pulls/5/comments?page_size=50", "", {{.body = "null"}}, "[]"},
    {"CommentsPageBeforePageSize", "qel_list_pull_comments",
     R"({"page_size":50,"page":3,"number":5,"repo":"g/r"})", "GET", "/g/r/-/pulls/5/comments?page=3&page_size=50",
     "", {{.body = "[]"}}, "[]"},
    {"CommentsNumericIdIsDecodeError", "qel_list_pull_comments", R"({"repo":"g/r","number":5})", "GET",
     "/g/r/-/pulls/5/comments", "", {{.body = R"([{"id":81}])"}}, kJsonError, true, Match::Prefix},

    // qel_create_pull_comment: the body is the only key sent.
    {"CommentCreateSendsBodyOnly", "qel_create_pull_comment", R"({"repo":"g/r","number":5,"body":"hello"})",
     "POST", "/g/r/-/pulls/5/comments", R"({"body":"hello"})", {{.status = 201, .body = R"({"id":"90","body":"hello"})"}},
     R"({"body":"hello","id":"90"})"},
    {"CommentCreateSendsEmptyBody", "qel_create_pull_comment", R"({"repo":"g/r","number":5,"body":""})", "POST",
     "/g/r/-/pulls/5/comments", R"({"body":""})", {{.body = "null"}}, "{}"},
    {"CommentCreateIsNotRetriedOn503", "qel_create_pull_comment", R"({"repo":"g/r","number":5,"body":"x"})",
     "POST", "/g/r/-/pulls/5/comments", R"({"body":"x"})", {{.status = 503, .body = "busy"}, {.body = "{}"}},
     "API 请求失败 (HTTP 503): busy", true},
};

class PullCallTest : public PullServerTest, public ::testing::WithParamInterface<CallCase> {};

TEST_P(PullCallTest, SendsRequestAndRendersAnswer) {
  const CallCase& c = GetParam();
  std::string target = c.target;
  mock_->on(c.method, target.substr(0, target.find('?')), c.replies);

  ToolResult result = client_->call_tool(c.tool, c.args);

  ASSERT_FALSE(result.error) << result.error->message;
  if (c.match == Match::Exact) {
    EXPECT_EQ(result.text, c.text);
  } else {
    EXPECT_TRUE(result.text.starts_with(c.text)) << result.text;
  }
  EXPECT_EQ(result.is_error, c.is_error);

  auto requests = mock_->requests();
  ASSERT_EQ(requests.size(), c.requests);
  for (const auto& request : requests) {
    EXPECT_EQ(request.method, c.method);
    EXPECT_EQ(request.target, c.target);
    EXPECT_EQ(request.body, c.body);
    if (*c.body) {
      EXPECT_EQ(request.header("content-type"), "application/json");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Pulls, PullCallTest, ::testing::ValuesIn(kCallCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- arguments that never reach the platform --------------------------------

struct BadArgsCase {
  const char* name;
  const char* tool;
  const char* args;
  const char* mentions;  // the field the decoder's message must name
};

std::ostream& operator<<(std::ostream& out, const BadArgsCase& c) { return out << c.name; }

const BadArgsCase kBadArgsCases[] = {
    {"ListWithoutRepo", "qel_list_pulls", R"({"page":1})", "`repo`"},
    {"ListPageAsString", "qel_list_pulls", R"({"repo":"g/r","page":"2"})", "page"},
    {"GetNumberAsString", "qel_get_pull", R"({"repo":"g/r","number":"12"})", "number"},
    {"GetFractionalNumber", "qel_get_pull", R"({"repo":"g/r","number":1.5})", "number"},
    {"CreateWithoutHead", "qel_create_pull", R"({"repo":"g/r","title":"T","base":"main"})", "`head`"},
    {"UpdateWithoutNumber", "qel_update_pull", R"({"repo":"g/r","state":"closed"})", "`number`"},
    {"MergeWithoutCommitTitle", "qel_merge_pull", R"({"repo":"g/r","number":7})", "`commit_title`"},
    {"MergeForceAsString", "qel_merge_pull", R"({"repo":"g/r","number":7,"commit_title":"c","force":"true"})",
     "force"},
    {"CommentsWithoutNumber", "qel_list_pull_comments", R"({"repo":"g/r"})", "`number`"},
    {"CommentCreateWithoutBody", "qel_create_pull_comment", R"({"repo":"g/r","number":5})", "`body`"},
};

class PullBadArgsTest : public PullServerTest, public ::testing::WithParamInterface<BadArgsCase> {};

TEST_P(PullBadArgsTest, IsParameterErrorAndSendsNothing) {
  const BadArgsCase& c = GetParam();
  mock_->on_any({{.body = "{}"}});

  ToolResult result = client_->call_tool(c.tool, c.args);

  ASSERT_TRUE(result.error) << "result text: " << result.text;
  EXPECT_EQ(result.error->code, -32602);
  EXPECT_TRUE(result.error->message.starts_with("failed to deserialize parameters: ")) << result.error->message;
  EXPECT_NE(result.error->message.find(c.mentions), std::string::npos) << result.error->message;
  EXPECT_TRUE(mock_->requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Pulls, PullBadArgsTest, ::testing::ValuesIn(kBadArgsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- what tools/list publishes ----------------------------------------------

struct ListedTool {
  const char* name;
  const char* description;
  const char* schema;
};

const ListedTool kListedTools[] = {
    {"qel_list_pulls", "列出仓库的合并请求",
     R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
     R"("order_by":{"description":"排序字段：`created_at` / `-created_at` / `-updated_at`","type":["string","null"]},)"
     R"("page":{"description":"页码","format":"int64","type":["integer","null"]},)"
     R"("page_size":{"description":"每页条数","format":"int64","type":["integer","null"]},)"
     R"("repo":{"description":"仓库路径，格式为 group/repo","type":"string"},)"
     R"("state":{"description":"PR 状态：open / closed / all","type":["string","null"]}},)"
     R"("required":["repo"],"title":"ListPullsInput","type":"object"})"},
    {"qel_get_pull", "获取指定合并请求的详细信息",
     R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
     R"("number":{"description":"PR 编号","format":"int64","type":"integer"},)"
     R"("repo":{"description":"仓库路径","type":"string"}},)"
     R"("required":["repo","number"],"title":"GetPullInput","type":"object"})"},
    {"qel_create_pull", "创建一个新的合并请求",
     R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
     R"("base":{"description":"目标分支","type":"string"},)"
     R"("body":{"description":"描述","type":["string","null"]},)"
     R"("head":{"description":"来源分支","type":"string"},)"
     R"("head_repo":{"description":"来源仓库路径（跨仓库 PR 时使用）","type":["string","null"]},)"
     R"("repo":{"description":"目标仓库路径，格式为 group/repo","type":"string"},)"
     R"("title":{"description":"标题","type":"string"}},)"
     R"("required":["repo","title","head","base"],"title":"CreatePullInput","type":"object"})"},
    {"qel_update_pull", "更新指定合并请求的信息",
     R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
     R"("body":{"description":"描述","type":["string","null"]},)"
     R"("number":{"description":"PR 编号","format":"int64","type":"integer"},)"
     R"("repo":{"description":"仓库路径","type":"string"},)"
     R"("state":{"description":"状态：open / closed","type":["string","null"]},)"
     R"("title":{"description":"标题","type":["string","null"]}},)"
     R"("required":["repo","number"],"title":"UpdatePullInput","type":"object"})"},
    {"qel_merge_pull", "合并指定的合并请求；支持强制合并（绕过分支保护，仅仓库 owner / admin 可用）",
     R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
     R"("commit_message":{"description":"合并提交信息","type":["string","null"]},)"
     R"("commit_title":{"description":"合并提交标题","type":"string"},)"
     R"("force":{"description":"是否强制合并；设为 `true` 会绕过分支保护，仅仓库 owner / admin 可用","type":"boolean"},)"
     R"("merge_style":{"description":"合并方式：merge / squash / rebase","type":["string","null"]},)"
     R"("number":{"description":"PR 编号","format":"int64","type":"integer"},)"
     R"("repo":{"description":"仓库路径","type":"string"}},)"
     R"("required":["repo","number","commit_title"],"title":"MergePullInput","type":"object"})"},
    {"qel_list_pull_comments", "获取指定合并请求的评论列表",
     R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
     R"("number":{"description":"PR 编号","format":"int64","type":"integer"},)"
     R"("page":{"description":"页码","format":"int64","type":["integer","null"]},)"
     R"("page_size":{"description":"每页条数","format":"int64","type":["integer","null"]},)"
     R"("repo":{"description":"仓库路径","type":"string"}},)"
     R"("required":["repo","number"],"title":"ListPullCommentsInput","type":"object"})"},
    {"qel_create_pull_comment", "为指定合并请求创建一条评论",
     R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
     R"("body":{"description":"评论内容","type":"string"},)"
     R"("number":{"description":"PR 编号","format":"int64","type":"integer"},)"
     R"("repo":{"description":"仓库路径","type":"string"}},)"
     R"("required":["repo","number","body"],"title":"CreatePullCommentInput","type":"object"})"},
};

TEST_F(PullServerTest, ToolsListPublishesDescriptionsAndSchemas) {
  std::string line = client_->request_raw("tools/list");
  nlohmann::json tools = nlohmann::json::parse(line).at("result").at("tools");

  for (const ListedTool& expected : kListedTools) {
    SCOPED_TRACE(expected.name);
    auto found = std::find_if(tools.begin(), tools.end(),
                              [&](const nlohmann::json& t) { return t.at("name") == expected.name; });
    ASSERT_NE(found, tools.end());
    EXPECT_EQ(found->at("description").get<std::string>(), expected.description);
    // Compared as raw text, so key order and the order of `required` count.
    EXPECT_NE(line.find(std::string(R"("inputSchema":)") + expected.schema), std::string::npos)
        << "published: " << found->at("inputSchema").dump();
  }
}

}  // namespace
}  // namespace qeltest
