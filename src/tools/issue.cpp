// Issue tools: list, read, create and update issues; list, add and edit
// their comments; list, add, replace, clear and remove their labels.
#include "api/issues.hpp"
#include "tools/tool.hpp"

namespace qel::tools {
namespace {

using json::Opt;

struct ListIssuesInput {
  std::string repo;
  Opt<std::string> state, keyword, priority, labels, authors, assignees, order_by;
  Opt<std::int64_t> page, page_size;
};
QEL_INPUT(ListIssuesInput,
          (repo, "仓库路径"),
          (state, "Issue 状态：open / closed"),
          (keyword, "搜索关键词"),
          (priority, "优先级过滤，如 P0,P1,P2,P3"),
          (labels, "标签过滤，逗号分隔"),
          (authors, "创建者过滤，逗号分隔"),
          (assignees, "处理人过滤，逗号分隔；- 表示未分配"),
          (order_by, "排序字段，如 `created_at`, `-updated_at`"),
          (page, "页码，从 1 开始"),
          (page_size, "每页条数，默认 30"))

struct GetIssueInput {
  std::string repo;
  std::int64_t number = 0;
};
QEL_INPUT(GetIssueInput, (repo, "仓库路径"), (number, "Issue 编号"))

struct CreateIssueInput {
  std::string repo, title;
  Opt<std::string> body;
  Opt<std::vector<std::string>> assignees, labels;
  Opt<std::string> priority, start_date, end_date;
};
QEL_INPUT(CreateIssueInput,
          (repo, "仓库路径"),
          (title, "Issue 标题"),
          (body, "Issue 描述"),
          (assignees, "处理人用户名列表"),
          (labels, "标签列表"),
          (priority, "优先级，如 P0, P1, P2, P3"),
          (start_date, "开始日期，格式 YYYY-MM-DD"),
          (end_date, "截止日期，格式 YYYY-MM-DD"))

struct UpdateIssueInput {
  std::string repo;
  std::int64_t number = 0;
  Opt<std::string> title, body, state, state_reason, priority, start_date, end_date;
};
QEL_INPUT(UpdateIssueInput,
          (repo, "仓库路径"),
          (number, "Issue 编号"),
          (title, "标题"),
          (body, "描述"),
          (state, "状态：open / closed"),
          (state_reason, "状态原因：completed / `not_planned` / reopened"),
          (priority, "优先级"),
          (start_date, "开始日期"),
          (end_date, "截止日期"))

struct ListIssueCommentsInput {
  std::string repo;
  std::int64_t number = 0;
  Opt<std::int64_t> page, page_size;
};
QEL_INPUT(ListIssueCommentsInput,
          (repo, "仓库路径"),
          (number, "Issue 编号"),
          (page, "页码"),
          (page_size, "每页条数"))

struct CreateIssueCommentInput {
  std::string repo;
  std::int64_t number = 0;
  std::string body;
};
QEL_INPUT(CreateIssueCommentInput, (repo, "仓库路径"), (number, "Issue 编号"), (body, "评论内容"))

struct UpdateIssueCommentInput {
  std::string repo;
  std::int64_t number = 0;
  std::int64_t comment_id = 0;
  std::string body;
};
QEL_INPUT(UpdateIssueCommentInput,
          (repo, "仓库路径"),
          (number, "Issue 编号"),
          (comment_id, "评论 ID"),
          (body, "评论内容"))

// Listing and clearing take the same arguments but are separate records so
// that each tool's schema carries its own title.
struct ListIssueLabelsInput {
  std::string repo;
  std::int64_t number = 0;
};
QEL_INPUT(ListIssueLabelsInput, (repo, "仓库路径"), (number, "Issue 编号"))

struct ClearIssueLabelsInput {
  std::string repo;
  std::int64_t number = 0;
};
QEL_INPUT(ClearIssueLabelsInput, (repo, "仓库路径"), (number, "Issue 编号"))

struct AddIssueLabelsInput {
  std::string repo;
  std::int64_t number = 0;
  std::vector<std::string> labels;
};
QEL_INPUT(AddIssueLabelsInput, (repo, "仓库路径"), (number, "Issue 编号"), (labels, "要添加的标签列表"))

struct SetIssueLabelsInput {
  std::string repo;
  std::int64_t number = 0;
  std::vector<std::string> labels;
};
QEL_INPUT(SetIssueLabelsInput,
          (repo, "仓库路径"),
          (number, "Issue 编号"),
          (labels, "新的标签列表（替换所有现有标签）"))

struct RemoveIssueLabelInput {
  std::string repo;
  std::int64_t number = 0;
  std::string label_name;
};
QEL_INPUT(RemoveIssueLabelInput, (repo, "仓库路径"), (number, "Issue 编号"), (label_name, "要删除的标签名称"))

ToolOutcome list_issues(const ApiClient& api, const ListIssuesInput& in) {
  // Comma-separated filters go out as one value each; the platform splits them.
  return render(api::list_issues(api, in.repo,
                                 {.page = in.page,
                                  .page_size = in.page_size,
                                  .state = in.state,
                                  .keyword = in.keyword,
                                  .priority = in.priority,
                                  .labels = in.labels,
                                  .authors = in.authors,
                                  .assignees = in.assignees,
                                  .order_by = in.order_by}));
}

ToolOutcome get_issue(const ApiClient& api, const GetIssueInput& in) {
  return render(api::get_issue(api, in.repo, in.number));
}

ToolOutcome create_issue(const ApiClient& api, const CreateIssueInput& in) {
  return render(api::create_issue(api, in.repo,
                                  {.assignees = in.assignees,
                                   .body = in.body,
                                   .end_date = in.end_date,
                                   .labels = in.labels,
                                   .priority = in.priority,
                                   .start_date = in.start_date,
                                   .title = in.title}));
}

ToolOutcome update_issue(const ApiClient& api, const UpdateIssueInput& in) {
  return render(api::update_issue(api, in.repo, in.number,
                                  {.body = in.body,
                                   .end_date = in.end_date,
                                   .priority = in.priority,
                                   .start_date = in.start_date,
                                   .state = in.state,
                                   .state_reason = in.state_reason,
                                   .title = in.title}));
}

ToolOutcome list_issue_comments(const ApiClient& api, const ListIssueCommentsInput& in) {
  return render(api::list_issue_comments(api, in.repo, in.number, {.page = in.page, .page_size = in.page_size}));
}

ToolOutcome create_issue_comment(const ApiClient& api, const CreateIssueCommentInput& in) {
  return render(api::create_issue_comment(api, in.repo, in.number, {.body = in.body}));
}

ToolOutcome update_issue_comment(const ApiClient& api, const UpdateIssueCommentInput& in) {
  return render(api::update_issue_comment(api, in.repo, in.number, in.comment_id, {.body = in.body}));
}

ToolOutcome list_issue_labels(const ApiClient& api, const ListIssueLabelsInput& in) {
  return render(api::list_issue_labels(api, in.repo, in.number, {}));
}

ToolOutcome add_issue_labels(const ApiClient& api, const AddIssueLabelsInput& in) {
  return render(api::add_issue_labels(api, in.repo, in.number, {.labels = in.labels}));
}

ToolOutcome set_issue_labels(const ApiClient& api, const SetIssueLabelsInput& in) {
  return render(api::set_issue_labels(api, in.repo, in.number, {.labels = in.labels}));
}

ToolOutcome clear_issue_labels(const ApiClient& api, const ClearIssueLabelsInput& in) {
  return confirm(api::clear_issue_labels(api, in.repo, in.number), "All labels cleared");
}

ToolOutcome remove_issue_label(const ApiClient& api, const RemoveIssueLabelInput& in) {
  return render(api::remove_issue_label(api, in.repo, in.number, in.label_name));
}

}  // namespace

std::vector<Tool> issue_tools() {
  return {
      tool("qel_list_issues", "列出仓库的 Issues", list_issues),
      tool("qel_get_issue", "获取指定 Issue 的详细信息", get_issue),
      tool("qel_create_issue", "创建一个新的 Issue", create_issue),
      tool("qel_update_issue", "更新指定 Issue 的信息", update_issue),
      tool("qel_list_issue_comments", "获取指定 Issue 的评论列表", list_issue_comments),
      tool("qel_create_issue_comment", "为指定 Issue 创建一条评论", create_issue_comment),
      tool("qel_update_issue_comment", "更新指定 Issue 的一条评论", update_issue_comment),
      tool("qel_list_issue_labels", "获取指定 Issue 的标签列表", list_issue_labels),
      tool("qel_add_issue_labels", "为指定 Issue 添加标签", add_issue_labels),
      tool("qel_set_issue_labels", "设置指定 Issue 的标签（替换所有现有标签）", set_issue_labels),
      tool("qel_clear_issue_labels", "清空指定 Issue 的所有标签", clear_issue_labels),
      tool("qel_remove_issue_label", "删除指定 Issue 的某个标签", remove_issue_label),
  };
}

}  // namespace qel::tools
