// Cloud workspace tools: list the caller's workspaces, start one for a
// repository, delete one by its pipeline.
#include "api/workspaces.hpp"
#include "tools/tool.hpp"

namespace qel::tools {
namespace {

using json::Opt;

struct ListWorkspacesInput {
  Opt<std::string> slug, branch, status;
  Opt<std::int64_t> page, page_size;
};
QEL_INPUT(ListWorkspacesInput,
          (slug, "仓库路径，如 groupname/reponame"),
          (branch, "分支名"),
          (status, "状态：running / closed"),
          (page, "页码"),
          (page_size, "每页条数"))

struct DeleteWorkspaceInput {
  std::string pipeline_id;
};
QEL_INPUT(DeleteWorkspaceInput, (pipeline_id, "开发环境 ID（`pipeline_id`）"))

struct StartWorkspaceInput {
  std::string repo;
  Opt<std::string> branch, git_ref;
};
QEL_INPUT(StartWorkspaceInput, (repo, "仓库路径"), (branch, "分支名或 tag 名"), (git_ref, "Git ref，如 refs/heads/main"))

ToolOutcome list_workspaces(const ApiClient& api, const ListWorkspacesInput& in) {
  return render(api::list_workspaces(
      api, {.branch = in.branch, .page = in.page, .page_size = in.page_size, .slug = in.slug, .status = in.status}));
}

ToolOutcome delete_workspace(const ApiClient& api, const DeleteWorkspaceInput& in) {
  return render(api::delete_workspace(api, {.pipelineId = in.pipeline_id}));
}

ToolOutcome start_workspace(const ApiClient& api, const StartWorkspaceInput& in) {
  return render(api::start_workspace(api, in.repo, {.branch = in.branch, .ref = in.git_ref}));
}

}  // namespace

std::vector<Tool> workspace_tools() {
  return {
      tool("qel_list_workspaces", "获取云原生开发环境列表", list_workspaces),
      tool("qel_delete_workspace", "删除指定的云原生开发环境", delete_workspace),
      tool("qel_start_workspace", "启动云原生开发环境", start_workspace),
  };
}

}  // namespace qel::tools
