// Build tools: list builds, read a build's status and one stage's log lines,
// start and stop builds, delete a build's logs, download a runner's raw log.
// Identifiers (sn, pipeline and stage ids) are passed through as given.
#include "api/builds.hpp"
#include "tools/tool.hpp"

namespace qel::tools {
namespace {

using json::Opt;

struct GetBuildLogsInput {
  std::string repo;
  Opt<std::int64_t> page, pagesize;
  Opt<std::string> sn, status, event, sha, source_ref, target_ref, create_time, end_time;
};
QEL_INPUT(GetBuildLogsInput,
          (repo, "仓库路径"),
          (page, "页码"),
          (pagesize, "每页条数（最大 100）"),
          (sn, "构建 ID"),
          (status, "构建状态"),
          (event, "触发事件"),
          (sha, "Commit ID"),
          (source_ref, "源分支名"),
          (target_ref, "目标分支名"),
          (create_time, "构建开始时间，格式 YYYY-MM-DD"),
          (end_time, "构建结束时间，格式 YYYY-MM-DD"))

struct GetBuildStageInput {
  std::string repo, sn, pipeline_id, stage_id;
};
QEL_INPUT(GetBuildStageInput,
          (repo, "仓库路径"),
          (sn, "构建序列号"),
          (pipeline_id, "流水线 ID，格式 {sn}-001, {sn}-002 等"),
          (stage_id, "阶段 ID，如 prepare / beforeEnd / end / stage-0 / stage-1"))

// Status, stop and log deletion all name one build and nothing else; they
// stay separate records because each tool publishes its own schema title.
struct GetBuildStatusInput {
  std::string repo, sn;
};
QEL_INPUT(GetBuildStatusInput, (repo, "仓库路径"), (sn, "构建 ID"))

struct StopBuildInput {
  std::string repo, sn;
};
QEL_INPUT(StopBuildInput, (repo, "仓库路径"), (sn, "构建 ID"))

struct BuildLogsDeleteInput {
  std::string repo, sn;
};
QEL_INPUT(BuildLogsDeleteInput, (repo, "仓库路径"), (sn, "构建 ID"))

struct StartBuildInput {
  std::string repo, branch, event;
  Opt<std::string> sync, config, sha, tag;
};
QEL_INPUT(StartBuildInput,
          (repo, "仓库路径"),
          (branch, "分支名"),
          (event, "触发事件"),
          (sync, "是否同步等待完成"),
          (config, "配置"),
          (sha, "Commit ID"),
          (tag, "Git tag"))

struct BuildRunnerDownloadLogInput {
  std::string repo, pipeline_id;
};
QEL_INPUT(BuildRunnerDownloadLogInput, (repo, "仓库路径"), (pipeline_id, "流水线 ID"))

ToolOutcome get_build_logs(const ApiClient& api, const GetBuildLogsInput& in) {
  // The page size is the platform's to cap: it says 100, we send what we got.
  return render(api::get_build_logs(api, in.repo,
                                    {.createTime = in.create_time,
                                     .endTime = in.end_time,
                                     .event = in.event,
                                     .page = in.page,
                                     .page_size = in.pagesize,
                                     .sha = in.sha,
                                     .sn = in.sn,
                                     .sourceRef = in.source_ref,
                                     .status = in.status,
                                     .targetRef = in.target_ref}));
}

ToolOutcome get_build_stage(const ApiClient& api, const GetBuildStageInput& in) {
  return render(api::get_build_stage(api, in.repo, in.sn, in.pipeline_id, in.stage_id));
}

ToolOutcome get_build_status(const ApiClient& api, const GetBuildStatusInput& in) {
  return render(api::get_build_status(api, in.repo, in.sn));
}

ToolOutcome start_build(const ApiClient& api, const StartBuildInput& in) {
  // A synchronous start is simply a request the platform holds open; there
  // is no waiting or polling on this side.
  return render(api::start_build(api, in.repo,
                                 {.branch = in.branch,
                                  .config = in.config,
                                  .event = in.event,
                                  .sha = in.sha,
                                  .sync = in.sync,
                                  .tag = in.tag}));
}

ToolOutcome stop_build(const ApiClient& api, const StopBuildInput& in) {
  return render(api::stop_build(api, in.repo, in.sn));
}

ToolOutcome build_logs_delete(const ApiClient& api, const BuildLogsDeleteInput& in) {
  return render(api::delete_build_logs(api, in.repo, in.sn));
}

ToolOutcome build_runner_download_log(const ApiClient& api, const BuildRunnerDownloadLogInput& in) {
  auto log = api::download_runner_log(api, in.repo, in.pipeline_id);
  if (!log) return failure(log.error().display());
  return {std::move(*log), false};
}

}  // namespace

std::vector<Tool> build_tools() {
  return {
      tool("qel_get_build_logs", "查询构建列表", get_build_logs),
      tool("qel_get_build_stage", "查询构建 Stage 详情", get_build_stage),
      tool("qel_get_build_status", "查询构建状态", get_build_status),
      tool("qel_start_build", "启动一个构建", start_build),
      tool("qel_stop_build", "停止一个构建", stop_build),
      tool("qel_build_logs_delete", "删除构建日志", build_logs_delete),
      tool("qel_build_runner_download_log", "下载构建 Runner 日志", build_runner_download_log),
  };
}

}  // namespace qel::tools
