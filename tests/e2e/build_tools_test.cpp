// The build tools end to end: the real server over its pipes, talking HTTPS
// to the mock platform. One server and one mock serve the whole suite; each
// test scripts the routes it uses and forgets earlier requests.
#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mcp_client.hpp"
#include "mock_platform.hpp"
#include "server_process.hpp"

namespace qeltest {
namespace {

using Clock = std::chrono::steady_clock;
using Reply = MockPlatform::Reply;

long long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class BuildToolsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    mock_ = new MockPlatform();
    client_ = new McpClient(ServerProcess::for_mock(*mock_), 20000);
    client_->initialize();
  }
  static void TearDownTestSuite() {
    delete client_;
    delete mock_;
    client_ = nullptr;
    mock_ = nullptr;
  }
  void SetUp() override { mock_->clear(); }

  static MockPlatform& mock() { return *mock_; }
  static McpClient& client() { return *client_; }

 private:
  static MockPlatform* mock_;
  static McpClient* client_;
};

MockPlatform* BuildToolsTest::mock_ = nullptr;
McpClient* BuildToolsTest::client_ = nullptr;

// One tool call against one scripted answer: what must reach the platform
// and what the assistant must get back.
struct Exchange {
  std::string tool, args;
  std::string method, target;  // the raw request target, query included
  std::string request_body;
  std::string reply;
  std::string result;
};

TEST_F(BuildToolsTest, EachToolSendsItsRequestAndReturnsTheAnswer) {
  const Exchange rows[] = {
      {"qel_get_build_logs", R"({"repo":"g/r"})", "GET", "/g/r/-/build/logs", "", R"({"total":"12","data":[]})",
       R"({"data":[],"total":12})"},
      // Keys go out in the endpoint's order, not in the order of the arguments.
      {"qel_get_build_logs", R"({"event":"push","pagesize":20,"page":2,"repo":"g/r"})", "GET",
       "/g/r/-/build/logs?event=push&page=2&page_size=20", "", "{}", "{}"},
      {"qel_get_build_logs",
       R"({"end_time":"2024-02-01","target_ref":"main","status":"a&b=c/中","source_ref":"feature x","sn":"cnb-1",)"
       R"("sha":"abc","pagesize":500,"page":1,"event":"push","create_time":"2024-01-01","repo":"g/sub/r"})",
       "GET",
       "/g/sub/r/-/build/logs?createTime=2024-01-01&endTime=2024-02-01&event=push&page=1&page_size=500&sha=abc"
       "&sn=cnb-1&sourceRef=feature+x&status=a%26b%3Dc%2F%E4%B8%AD&targetRef=main",
       "", "{}", "{}"},
      {"qel_get_build_stage", R"({"repo":"g/r","sn":"42","pipeline_id":"42-001","stage_id":"stage-0"})", "GET",
       "/g/r/-/build/logs/stage/42/42-001/stage-0", "",
       R"({"status":"success","startTime":15,"name":"build","id":"stage-0","error":"","endTime":20,"duration":5,)"
       R"("content":["line 1","第二行"],"unknown":{"x":1}})",
       R"({"content":["line 1","第二行"],"duration":5,"endTime":20,"error":"","id":"stage-0","name":"build",)"
       R"("startTime":15,"status":"success"})"},
      {"qel_get_build_status", R"({"repo":"g/r","sn":"cnb-1"})", "GET", "/g/r/-/build/status/cnb-1", "",
       R"({"status":"running","pipelinesStatus":{"cnb-1-001":{"status":"success","stages":[{"status":"success",)"
       R"("name":"build","id":"stage-0","duration":7}],"name":"p","metricDuration":1.5,"metricCoreHours":3,)"
       R"("labels":[{"value":[1,true,null,"x",{"a":1}],"key":"k"}],"id":"cnb-1-001","duration":12}}})",
       R"({"pipelinesStatus":{"cnb-1-001":{"duration":12,"id":"cnb-1-001","labels":[{"key":"k",)"
       R"("value":["1","true","","x","{\"a\":1}"]}],"metricCoreHours":3.0,"metricDuration":1.5,"name":"p",)"
       R"("stages":[{"duration":7,"id":"stage-0","name":"build","status":"success"}],"status":"success"}},)"
       R"("status":"running"})"},
      {"qel_get_build_status", R"({"repo":"g/r","sn":"cnb-2"})", "GET", "/g/r/-/build/status/cnb-2", "",
       R"({"pipelinesStatus":{}})", R"({"pipelinesStatus":{}})"},
      // A null answer falls back to the empty record.
      {"qel_get_build_status", R"({"repo":"g/r","sn":"cnb-3"})", "GET", "/g/r/-/build/status/cnb-3", "", " null ",
       "{}"},
      {"qel_start_build", R"({"repo":"g/r","branch":"main","event":"api_trigger"})", "POST", "/g/r/-/build/start",
       R"({"branch":"main","event":"api_trigger"})",
       R"({"success":true,"sn":"cnb-9","message":"ok","buildLogUrl":"https://x/b"})",
       R"({"buildLogUrl":"https://x/b","message":"ok","sn":"cnb-9","success":true})"},
      // `sync` travels as the text it was given, never as a JSON boolean.
      {"qel_start_build",
       R"({"tag":"v1","sync":"true","sha":"abc","event":"push","config":"main:\n  push: []","branch":"dev","repo":"g/r"})",
       "POST", "/g/r/-/build/start",
       R"({"branch":"dev","config":"main:\n  push: []","event":"push","sha":"abc","sync":"true","tag":"v1"})", "{}",
       "{}"},
      {"qel_start_build", R"({"repo":"g/r","branch":"main","event":"push","sync":"false"})", "POST",
       "/g/r/-/build/start", R"({"branch":"main","event":"push","sync":"false"})", "null", "{}"},
      {"qel_stop_build", R"({"repo":"g/r","sn":"cnb-1"})", "POST", "/g/r/-/build/stop/cnb-1", "{}",
       R"({"success":false,"message":"已经结束"})", R"({"message":"已经结束","success":false})"},
      {"qel_build_logs_delete", R"({"repo":"g/r","sn":"cnb-1"})", "DELETE", "/g/r/-/build/logs/cnb-1", "",
       R"({"message":"ok","code":0})", R"({"code":0,"message":"ok"})"},
      // The runner log is text: a JSON-looking body comes back untouched.
      {"qel_build_runner_download_log", R"({"repo":"g/r","pipeline_id":"cnb-1-001"})", "GET",
       "/g/r/-/build/runner/download/log/cnb-1-001", "", R"({ "total" : "12", "x":null })",
       R"({ "total" : "12", "x":null })"},
      {"qel_build_runner_download_log", R"({"repo":"g/r","pipeline_id":"cnb-1-002"})", "GET",
       "/g/r/-/build/runner/download/log/cnb-1-002", "", "ok \xff\xfe end 中\xe4\xb8x\n",
       "ok \xef\xbf\xbd\xef\xbf\xbd end 中\xef\xbf\xbdx\n"},
      {"qel_build_runner_download_log", R"({"repo":"g/r","pipeline_id":"cnb-1-003"})", "GET",
       "/g/r/-/build/runner/download/log/cnb-1-003", "", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tool + " " + row.args);
    mock().clear();
    std::string path = row.target.substr(0, row.target.find('?'));
    mock().on(row.method, path, {{.body = row.reply}});

    ToolResult result = client().call_tool(row.tool, row.args);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_FALSE(result.is_error) << result.text;
    EXPECT_EQ(result.text, row.result);

    auto requests = mock().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, row.method);
    EXPECT_EQ(requests[0].target, row.target);
    EXPECT_EQ(requests[0].body, row.request_body);
    if (!row.request_body.empty()) {
      EXPECT_EQ(requests[0].header("content-type"), "application/json");
    }
  }
}

// Answers decoded field by field: lenient kinds take what the platform
// sends, strict kinds refuse it and the whole answer becomes a decode error.
struct Decoding {
  std::string tool, args, path, reply;
  std::string expected;  // the result text, or a part of the error text
  bool is_error;
};

TEST_F(BuildToolsTest, AnswersDecodeLenientlyOnlyWhereTheFieldSaysSo) {
  const std::string logs = R"({"repo":"g/r"})";
  const std::string status = R"({"repo":"g/r","sn":"1"})";
  const std::string stage = R"({"repo":"g/r","sn":"1","pipeline_id":"1-001","stage_id":"end"})";
  const std::string start = R"({"repo":"g/r","branch":"main","event":"push"})";
  const Decoding rows[] = {
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"total":""})", "{}", false},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"total":null,"timestamp":" 1700000000 "})",
       R"({"timestamp":1700000000})", false},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs",
       R"({"data":[{"freeze":"1","duration":"5","pipelineTotalCount":"2","pipelineFailCount":"",)"
       R"("pipelineSuccessCount":1,"labels":"a,b"},{"freeze":0,"duration":-3}]})",
       R"({"data":[{"duration":5,"freeze":true,"labels":"a,b","pipelineSuccessCount":1,"pipelineTotalCount":2},)"
       R"({"duration":-3,"freeze":false}]})",
       false},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs",
       R"({"data":[{"pipelines":[{"duration":5,"labels":"x","id":"1-001","createTime":"t","status":"ok"}]}]})",
       R"({"data":[{"pipelines":[{"createTime":"t","duration":5,"id":"1-001","labels":"x","status":"ok"}]}]})", false},
      // A pipeline's duration is strict although the build's is lenient.
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"data":[{"pipelines":[{"duration":"5"}]}]})",
       R"(invalid type: string "5", expected i64)", true},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"total":"12a"})",
       R"(parse "12a" as i64: invalid digit found in string)", true},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"data":[{"freeze":"yes"}]})",
       R"(expected bool-like string, got "yes")", true},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"total":1.5})", "invalid type: floating point `1.5`", true},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"data":[{"labels":["a"]}]})",
       "invalid type: sequence, expected a string", true},
      {"qel_get_build_logs", logs, "/g/r/-/build/logs", R"({"total":1,"total":2})", "duplicate field `total`", true},
      {"qel_get_build_status", status, "/g/r/-/build/status/1",
       R"({"pipelinesStatus":{"p":{"labels":[{"key":"k","value":"x"}]}}})",
       R"(invalid type: string "x", expected a sequence)", true},
      {"qel_get_build_status", status, "/g/r/-/build/status/1", R"({"pipelinesStatus":{"p":{"metricCoreHours":"3"}}})",
       R"(invalid type: string "3")", true},
      {"qel_get_build_stage", stage, "/g/r/-/build/logs/stage/1/1-001/end", R"({"content":["a",1]})",
       "invalid type: integer `1`, expected a string", true},
      {"qel_get_build_stage", stage, "/g/r/-/build/logs/stage/1/1-001/end", R"({"content":["a",null]})",
       "invalid type: null, expected a string", true},
      {"qel_start_build", start, "/g/r/-/build/start", R"({"success":"true"})",
       R"(invalid type: string "true", expected a boolean)", true},
      // Only a literal null stands for the empty record; an empty body does not.
      {"qel_start_build", start, "/g/r/-/build/start", "", "invalid type: null, expected struct BuildResult", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reply);
    std::string method = row.tool == "qel_start_build" ? "POST" : "GET";
    mock().on(method, row.path, {{.body = row.reply}});
    ToolResult result = client().call_tool(row.tool, row.args);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_EQ(result.is_error, row.is_error) << result.text;
    if (row.is_error) {
      EXPECT_TRUE(result.text.starts_with("JSON 解析错误：")) << result.text;
      EXPECT_NE(result.text.find(row.expected), std::string::npos) << result.text;
    } else {
      EXPECT_EQ(result.text, row.expected);
    }
  }
  // A decode failure is never worth repeating: one request per call.
  EXPECT_EQ(mock().requests().size(), std::size(rows));
}

TEST_F(BuildToolsTest, EveryPipelineOfTheStatusMapIsWritten) {
  mock().on("GET", "/g/r/-/build/status/7",
            {{.body = R"({"pipelinesStatus":{"7-002":{"id":"b"},"7-001":{"id":"a","metricCoreHours":0.25}}})"}});
  ToolResult result = client().call_tool("qel_get_build_status", R"({"repo":"g/r","sn":"7"})");
  ASSERT_FALSE(result.error);
  const std::string a = R"("7-001":{"id":"a","metricCoreHours":0.25})";
  const std::string b = R"("7-002":{"id":"b"})";
  // The map's order is not part of the contract.
  EXPECT_TRUE(result.text == R"({"pipelinesStatus":{)" + a + "," + b + "}}" ||
              result.text == R"({"pipelinesStatus":{)" + b + "," + a + "}}")
      << result.text;
}

// Status and transport failures come back as the client's error texts; only
// the GETs are repeated.
struct FailureRow {
  std::string tool, args, method, path;
  std::vector<Reply> replies;
  std::size_t requests;
  std::string text;
  bool is_error;
};

TEST_F(BuildToolsTest, FailuresAreRepeatedOnlyForReads) {
  const std::string one_build = R"({"repo":"g/r","sn":"9"})";
  const FailureRow rows[] = {
      {"qel_start_build",
       R"({"repo":"g/r","branch":"b","event":"e"})",
       "POST",
       "/g/r/-/build/start",
       {{.status = 503, .body = "busy"}},
       1,
       "API 请求失败 (HTTP 503): busy",
       true},
      {"qel_stop_build",
       one_build,
       "POST",
       "/g/r/-/build/stop/9",
       {{.status = 500, .body = "down"}},
       1,
       "API 请求失败 (HTTP 500): down",
       true},
      {"qel_build_logs_delete",
       one_build,
       "DELETE",
       "/g/r/-/build/logs/9",
       {{.status = 404, .body = "no such build", .headers = {{"x-trace-id", "t-1"}}}},
       1,
       "no such build\ntrace_id: t-1",
       true},
      {"qel_get_build_status",
       one_build,
       "GET",
       "/g/r/-/build/status/9",
       {{.status = 502, .body = "gateway"}, {.body = R"({"status":"success"})"}},
       2,
       R"({"status":"success"})",
       false},
      {"qel_build_runner_download_log",
       R"({"repo":"g/r","pipeline_id":"9-001"})",
       "GET",
       "/g/r/-/build/runner/download/log/9-001",
       {{.drop = true}, {.body = "runner says hi"}},
       2,
       "runner says hi",
       false},
      {"qel_build_runner_download_log",
       R"({"repo":"g/r","pipeline_id":"9-002"})",
       "GET",
       "/g/r/-/build/runner/download/log/9-002",
       {{.status = 404, .body = "日志不存在"}},
       1,
       "日志不存在",
       true},
      {"qel_build_runner_download_log",
       R"({"repo":"g/r","pipeline_id":"9-003"})",
       "GET",
       "/g/r/-/build/runner/download/log/9-003",
       {{.status = 401, .body = "who?"}},
       1,
       "认证失败：QEL_TOKEN 缺失或无效。请设置：export QEL_TOKEN=\"your_token\"",
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tool + " " + row.path);
    mock().clear();
    mock().on(row.method, row.path, row.replies);
    ToolResult result = client().call_tool(row.tool, row.args);
    ASSERT_FALSE(result.error) << result.error->message;
    EXPECT_EQ(result.text, row.text);
    EXPECT_EQ(result.is_error, row.is_error);
    EXPECT_EQ(mock().requests().size(), row.requests);
  }
}

TEST_F(BuildToolsTest, BadArgumentsSendNothing) {
  struct Row {
    std::string tool, args, message;
  };
  const std::string prefix = "failed to deserialize parameters: ";
  const Row rows[] = {
      {"qel_get_build_logs", "{}", prefix + "missing field `repo`"},
      {"qel_get_build_logs", R"({"repo":"g/r","page":"2"})", prefix + R"(invalid type: string "2")"},
      {"qel_get_build_stage", R"({"repo":"g/r","sn":"1","pipeline_id":"1-001"})", prefix + "missing field `stage_id`"},
      {"qel_start_build", R"({"repo":"g/r","branch":"main"})", prefix + "missing field `event`"},
      {"qel_start_build", R"({"repo":"g/r","branch":"main","event":"push","sync":true})",
       prefix + "invalid type: boolean `true`"},
      {"qel_stop_build", R"({"repo":"g/r","sn":42})", prefix + "invalid type: integer `42`"},
      {"qel_build_runner_download_log", R"({"repo":"g/r"})", prefix + "missing field `pipeline_id`"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tool + " " + row.args);
    ToolResult result = client().call_tool(row.tool, row.args);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, -32602);
    EXPECT_TRUE(result.error->message.starts_with(row.message)) << result.error->message;
  }
  EXPECT_TRUE(mock().requests().empty());
}

TEST_F(BuildToolsTest, ToolsAreListedWithTheirDescriptionsAndSchemas) {
  struct Row {
    std::string name, description, title;
    std::vector<std::string> required;
  };
  const Row rows[] = {
      {"qel_get_build_logs", "查询构建列表", "GetBuildLogsInput", {"repo"}},
      {"qel_get_build_stage", "查询构建 Stage 详情", "GetBuildStageInput", {"repo", "sn", "pipeline_id", "stage_id"}},
      {"qel_get_build_status", "查询构建状态", "GetBuildStatusInput", {"repo", "sn"}},
      {"qel_start_build", "启动一个构建", "StartBuildInput", {"repo", "branch", "event"}},
      {"qel_stop_build", "停止一个构建", "StopBuildInput", {"repo", "sn"}},
      {"qel_build_logs_delete", "删除构建日志", "BuildLogsDeleteInput", {"repo", "sn"}},
      {"qel_build_runner_download_log", "下载构建 Runner 日志", "BuildRunnerDownloadLogInput", {"repo", "pipeline_id"}},
  };
  nlohmann::json listed = client().request("tools/list")["result"]["tools"];
  auto find = [&](const std::string& name) -> nlohmann::json {
    for (const auto& t : listed) {
      if (t["name"] == name) return t;
    }
    return nullptr;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    nlohmann::json entry = find(row.name);
    ASSERT_TRUE(entry.is_object());
    EXPECT_EQ(entry["description"], row.description);
    EXPECT_EQ(entry["inputSchema"]["title"], row.title);
    EXPECT_EQ(entry["inputSchema"]["required"], nlohmann::json(row.required));
  }

  // Two schemas in full: every field's text and type, byte for byte.
  EXPECT_EQ(find("qel_get_build_logs")["inputSchema"].dump(),
            R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
            R"("create_time":{"description":"构建开始时间，格式 YYYY-MM-DD","type":["string","null"]},)"
            R"("end_time":{"description":"构建结束时间，格式 YYYY-MM-DD","type":["string","null"]},)"
            R"("event":{"description":"触发事件","type":["string","null"]},)"
            R"("page":{"description":"页码","format":"int64","type":["integer","null"]},)"
            R"("pagesize":{"description":"每页条数（最大 100）","format":"int64","type":["integer","null"]},)"
            R"("repo":{"description":"仓库路径","type":"string"},)"
            R"("sha":{"description":"Commit ID","type":["string","null"]},)"
            R"("sn":{"description":"构建 ID","type":["string","null"]},)"
            R"("source_ref":{"description":"源分支名","type":["string","null"]},)"
            R"("status":{"description":"构建状态","type":["string","null"]},)"
            R"("target_ref":{"description":"目标分支名","type":["string","null"]}},)"
            R"("required":["repo"],"title":"GetBuildLogsInput","type":"object"})");
  EXPECT_EQ(find("qel_start_build")["inputSchema"]["properties"].dump(),
            R"({"branch":{"description":"分支名","type":"string"},)"
            R"("config":{"description":"配置","type":["string","null"]},)"
            R"("event":{"description":"触发事件","type":"string"},)"
            R"("repo":{"description":"仓库路径","type":"string"},)"
            R"("sha":{"description":"Commit ID","type":["string","null"]},)"
            R"("sync":{"description":"是否同步等待完成","type":["string","null"]},)"
            R"("tag":{"description":"Git tag","type":["string","null"]}})");
  EXPECT_EQ(find("qel_get_build_stage")["inputSchema"]["properties"]["pipeline_id"]["description"],
            "流水线 ID，格式 {sn}-001, {sn}-002 等");
  EXPECT_EQ(find("qel_get_build_stage")["inputSchema"]["properties"]["stage_id"]["description"],
            "阶段 ID，如 prepare / beforeEnd / end / stage-0 / stage-1");
  EXPECT_EQ(find("qel_get_build_stage")["inputSchema"]["properties"]["sn"]["description"], "构建序列号");
  EXPECT_EQ(find("qel_build_runner_download_log")["inputSchema"]["properties"]["pipeline_id"]["description"],
            "流水线 ID");
}

TEST_F(BuildToolsTest, BigRunnerLogDoesNotHoldUpOtherCalls) {
  std::string log;
  for (int i = 0; log.size() < 5 * 1024 * 1024; ++i) log += "step " + std::to_string(i) + ": 编译中 \"ok\"\t\\\n";
  mock().on("GET", "/g/r/-/build/runner/download/log/big-001", {{.body = log, .delay_ms = 2000}});
  mock().on("GET", "/g/r/-/build/status/quick", {{.body = R"({"status":"running"})"}});

  int big = client().send_tool_call("qel_build_runner_download_log", R"({"repo":"g/r","pipeline_id":"big-001"})");
  ASSERT_TRUE(mock().wait_for_requests(1, 5000));
  auto start = Clock::now();
  ToolResult quick = client().call_tool("qel_get_build_status", R"({"repo":"g/r","sn":"quick"})");
  EXPECT_LT(elapsed_ms(start), 1500) << "the quick call waited for the slow one";
  EXPECT_EQ(quick.text, R"({"status":"running"})");

  ToolResult result = McpClient::parse_tool_result(client().wait_response(big));
  EXPECT_FALSE(result.is_error);
  EXPECT_EQ(result.text.size(), log.size());
  EXPECT_TRUE(result.text == log) << "the log came back changed";

  // And the server is still there for the next call.
  EXPECT_EQ(client().call_tool("qel_get_build_status", R"({"repo":"g/r","sn":"quick"})").text,
            R"({"status":"running"})");
}

}  // namespace
}  // namespace qeltest
