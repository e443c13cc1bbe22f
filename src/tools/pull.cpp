// Pull request tools: list, read, create, update and merge pull requests of
// one repository, and list and add their comments.
#include "api/pulls.hpp"
#include "tools/tool.hpp"

namespace qel::tools {
namespace {

using json::DefaultedBool;
using json::Opt;

struct ListPullsInput {
  std::string repo;
  Opt<std::string> state, order_by;
  Opt<std::int64_t> page, page_size;
};
QEL_INPUT(ListPullsInput,
          (repo, "仓库路径，格式为 group/repo"),
          (state, "PR 状态：open / closed / all"),
          (order_by, "排序字段：`created_at` / `-created_at` / `-updated_at`"),
          (page, "页码"),
          (page_size, "每页条数"))

struct GetPullInput {
  std::string repo;
  std::int64_t number = 0;
};
QEL_INPUT(GetPullInput, (repo, "仓库路径"), (number, "PR 编号"))

struct CreatePullInput {
  std::string repo, title, head, base;
  Opt<std::string> body, head_repo;
};
QEL_INPUT(CreatePullInput,
          (repo, "目标仓库路径，格式为 group/repo"),
          (title, "标题"),
          (head, "来源分支"),
          (base, "目标分支"),
          (body, "描述"),
          (head_repo, "来源仓库路径（跨仓库 PR 时使用）"))

struct UpdatePullInput {
  std::string repo;
  std::int64_t number = 0;
  Opt<std::string> title, body, state;
};
QEL_INPUT(UpdatePullInput,
          (repo, "仓库路径"),
          (number, "PR 编号"),
          (title, "标题"),
          (body, "描述"),
          (state, "状态：open / closed"))

struct MergePullInput {
  std::string repo;
  std::int64_t number = 0;
  std::string commit_title;
  Opt<std::string> merge_style, commit_message;
  DefaultedBool force;
};
QEL_INPUT(MergePullInput,
          (repo, "仓库路径"),
          (number, "PR 编号"),
          (commit_title, "合并提交标题"),
          (merge_style, "合并方式：merge / squash / rebase"),
          (commit_message, "合并提交信息"),
          (force, "是否强制合并；设为 `true` 会绕过分支保护，仅仓库 owner / admin 可用"))

struct ListPullCommentsInput {
  std::string repo;
  std::int64_t number = 0;
  Opt<std::int64_t> page, page_size;
};
QEL_INPUT(ListPullCommentsInput, (repo, "仓库路径"), (number, "PR 编号"), (page, "页码"), (page_size, "每页条数"))

struct CreatePullCommentInput {
  std::string repo;
  std::int64_t number = 0;
  std::string body;
};
QEL_INPUT(CreatePullCommentInput, (repo, "仓库路径"), (number, "PR 编号"), (body, "评论内容"))

ToolOutcome list_pulls(const ApiClient& api, const ListPullsInput& in) {
  return render(api::list_pulls(
      api, in.repo, {.page = in.page, .page_size = in.page_size, .state = in.state, .order_by = in.order_by}));
}

ToolOutcome get_pull(const ApiClient& api, const GetPullInput& in) {
  return render(api::get_pull(api, in.repo, in.number));
}

ToolOutcome create_pull(const ApiClient& api, const CreatePullInput& in) {
  return render(api::create_pull(
      api, in.repo,
      {.base = in.base, .body = in.body, .head = in.head, .head_repo = in.head_repo, .title = in.title}));
}

ToolOutcome update_pull(const ApiClient& api, const UpdatePullInput& in) {
  return render(api::update_pull(api, in.repo, in.number, {.body = in.body, .state = in.state, .title = in.title}));
}

ToolOutcome merge_pull(const ApiClient& api, const MergePullInput& in) {
  // Only an explicit true asks for the bypass; an explicit false sends the
  // same body as leaving the flag out.
  Opt<bool> force;
  if (in.force.is_true()) force = true;
  // A 2xx answer is the result even when it says merged: false; the caller
  // reads the platform's own message.
  return render(api::merge_pull(api, in.repo, in.number,
                                {.commit_message = in.commit_message,
                                 .commit_title = in.commit_title,
                                 .force = force,
                                 .merge_style = in.merge_style}));
}

ToolOutcome list_pull_comments(const ApiClient& api, const ListPullCommentsInput& in) {
  return render(api::list_pull_comments(api, in.repo, in.number, {.page = in.page, .page_size = in.page_size}));
}

ToolOutcome create_pull_comment(const ApiClient& api, const CreatePullCommentInput& in) {
  return render(api::create_pull_comment(api, in.repo, in.number, {.body = in.body}));
}

}  // namespace

std::vector<Tool> pull_tools() {
  return {
      tool("qel_list_pulls", "列出仓库的合并请求", list_pulls),
      tool("qel_get_pull", "获取指定合并请求的详细信息", get_pull),
      tool("qel_create_pull", "创建一个新的合并请求", create_pull),
      tool("qel_update_pull", "更新指定合并请求的信息", update_pull),
      tool("qel_merge_pull", "合并指定的合并请求；支持强制合并（绕过分支保护，仅仓库 owner / admin 可用）", merge_pull),
      tool("qel_list_pull_comments", "获取指定合并请求的评论列表", list_pull_comments),
      tool("qel_create_pull_comment", "为指定合并请求创建一条评论", create_pull_comment),
  };
}

}  // namespace qel::tools
