#pragma once
// Builds of a repository: the paged build list, a build's pipeline status,
// one stage's log lines, starting, stopping, deleting logs and the raw
// runner log. The platform names most build keys in camelCase; the members
// keep those keys so the same name reads the answer and writes the result.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/client.hpp"
#include "json/lenient.hpp"
#include "json/record.hpp"

namespace qel::api {

using json::LenientBool;
using json::LenientInt;
using json::Opt;
using json::StrMap;

// ---- answers ----------------------------------------------------------------

struct BuildResult {
  Opt<std::string> buildLogUrl, message, sn;
  Opt<bool> success;
};
QEL_FIELDS(BuildResult, buildLogUrl, message, sn, success)

// A pipeline of a listed build. Unlike the build itself, its duration is
// always a real integer.
struct BuildPipelineInfo {
  Opt<std::string> createTime;
  Opt<std::int64_t> duration;
  Opt<std::string> id;
  Opt<std::string> labels;  // one string, not a list
  Opt<std::string> status;
};
QEL_FIELDS(BuildPipelineInfo, createTime, duration, id, labels, status)

struct LogInfo {
  Opt<std::string> buildLogUrl, commitTitle, createTime;
  LenientInt duration;
  Opt<std::string> event, eventUrl;
  LenientBool freeze;
  Opt<std::string> groupName;
  Opt<std::string> labels;  // one string, not a list
  Opt<std::string> nickName;
  LenientInt pipelineFailCount, pipelineSuccessCount, pipelineTotalCount;
  Opt<std::vector<BuildPipelineInfo>> pipelines;
  Opt<std::string> sha, slug, sn, sourceRef, sourceSlug, status, targetRef, title, userName;
};
QEL_FIELDS(LogInfo, buildLogUrl, commitTitle, createTime, duration, event, eventUrl, freeze, groupName, labels,
           nickName, pipelineFailCount, pipelineSuccessCount, pipelineTotalCount, pipelines, sha, slug, sn, sourceRef,
           sourceSlug, status, targetRef, title, userName)

struct BuildLogsResult {
  Opt<std::vector<LogInfo>> data;
  LenientInt timestamp, total;
};
QEL_FIELDS(BuildLogsResult, data, timestamp, total)

// Label values come as arrays of anything; each element is kept as its text.
struct PipelineLabel {
  Opt<std::string> key;
  Opt<json::LenientStringList> value;
};
QEL_FIELDS(PipelineLabel, key, value)

struct Stage {
  Opt<std::int64_t> duration;
  Opt<std::string> id, name, status;
};
QEL_FIELDS(Stage, duration, id, name, status)

struct PipelineStatus {
  Opt<std::int64_t> duration;
  Opt<std::string> id;
  Opt<std::vector<PipelineLabel>> labels;
  Opt<double> metricCoreHours, metricDuration;
  Opt<std::string> name;
  Opt<std::vector<Stage>> stages;
  Opt<std::string> status;
};
QEL_FIELDS(PipelineStatus, duration, id, labels, metricCoreHours, metricDuration, name, stages, status)

struct BuildStatusResult {
  Opt<StrMap<PipelineStatus>> pipelinesStatus;  // keyed by whatever the platform chose
  Opt<std::string> status;
};
QEL_FIELDS(BuildStatusResult, pipelinesStatus, status)

struct BuildStageResult {
  Opt<std::vector<std::string>> content;  // log lines
  Opt<std::int64_t> duration, endTime;
  Opt<std::string> error, id, name;
  Opt<std::int64_t> startTime;
  Opt<std::string> status;
};
QEL_FIELDS(BuildStageResult, content, duration, endTime, error, id, name, startTime, status)

struct BuildCommonResult {
  Opt<std::int64_t> code;
  Opt<std::string> message;
};
QEL_FIELDS(BuildCommonResult, code, message)

// ---- requests ---------------------------------------------------------------

struct StartBuildNpc {
  Opt<std::string> name;
  Opt<bool> workMode;
};
QEL_FIELDS(StartBuildNpc, name, workMode)

struct StartBuildRequest {
  Opt<std::string> branch, config;
  Opt<StrMap<std::string>> env;
  Opt<std::string> event;
  Opt<StartBuildNpc> npc;
  Opt<std::string> sha;
  Opt<std::string> sync;  // passed on as text: the platform decides what it means
  Opt<std::string> tag, title;
};
QEL_FIELDS(StartBuildRequest, branch, config, env, event, npc, sha, sync, tag, title)

// The stop endpoint wants a JSON object even though it has nothing to say.
struct StopBuildRequest {};

struct GetBuildLogsQuery {
  Opt<std::string> createTime, endTime, event;
  Opt<std::int64_t> page, page_size;
  Opt<std::string> sha, sn, sourceRef, status, targetRef, userId, userName;
};
QEL_FIELDS(GetBuildLogsQuery, createTime, endTime, event, page, page_size, sha, sn, sourceRef, status, targetRef,
           userId, userName)

// ---- endpoints --------------------------------------------------------------

ApiResult<BuildLogsResult> get_build_logs(const ApiClient& api, std::string_view repo, const GetBuildLogsQuery& q);
ApiResult<BuildStageResult> get_build_stage(const ApiClient& api, std::string_view repo, std::string_view sn,
                                            std::string_view pipeline_id, std::string_view stage_id);
ApiResult<BuildStatusResult> get_build_status(const ApiClient& api, std::string_view repo, std::string_view sn);
ApiResult<BuildResult> start_build(const ApiClient& api, std::string_view repo, const StartBuildRequest& body);
ApiResult<BuildResult> stop_build(const ApiClient& api, std::string_view repo, std::string_view sn);
ApiResult<BuildCommonResult> delete_build_logs(const ApiClient& api, std::string_view repo, std::string_view sn);
// The runner's log as text, never decoded: it is whatever the runner wrote.
ApiResult<std::string> download_runner_log(const ApiClient& api, std::string_view repo, std::string_view pipeline_id);

}  // namespace qel::api

namespace qel::json {

template <>
struct Codec<api::StopBuildRequest> {
  static void encode(std::string& out, const api::StopBuildRequest&) { out += "{}"; }
};

}  // namespace qel::json
