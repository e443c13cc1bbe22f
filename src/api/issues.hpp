#pragma once
// Issues of a repository, their comments and their labels: the records the
// issue endpoints exchange and one function per endpoint.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/client.hpp"
#include "api/common.hpp"
#include "json/record.hpp"

namespace qel::api {

using json::Opt;

// One entry of an issue list. Its labels are the plain Label: the list
// endpoint's creator/applied_by keys are dropped here on purpose.
struct Issue {
  Opt<std::vector<UserInfo>> assignees;
  Opt<UserInfo> author;
  Opt<std::string> closed_at;
  Opt<std::int64_t> comment_count;
  Opt<std::string> created_at, ended_at;
  Opt<bool> invisible;
  Opt<std::vector<Label>> labels;
  Opt<std::string> last_acted_at, number, priority, started_at, state, state_reason, title, updated_at;
};
QEL_FIELDS(Issue, assignees, author, closed_at, comment_count, created_at, ended_at, invisible, labels, last_acted_at,
           number, priority, started_at, state, state_reason, title, updated_at)

// A custom property; `value` is text whatever `type` announces.
struct IssueProperty {
  Opt<std::string> key, name, type, value;
};
QEL_FIELDS(IssueProperty, key, name, type, value)

// One issue read, created or updated by number.
struct IssueDetail {
  Opt<std::vector<UserInfo>> assignees;
  Opt<UserInfo> author;
  Opt<std::string> body, closed_at;
  Opt<std::int64_t> comment_count;
  Opt<std::string> created_at, ended_at;
  Opt<bool> invisible;
  Opt<std::vector<LabelInfo>> labels;
  Opt<std::string> last_acted_at, number, priority;
  Opt<std::vector<IssueProperty>> properties;
  Opt<std::string> started_at, state, state_reason;
  Opt<StatusMap> statuses;
  Opt<std::string> title, updated_at;
};
QEL_FIELDS(IssueDetail, assignees, author, body, closed_at, comment_count, created_at, ended_at, invisible, labels,
           last_acted_at, number, priority, properties, started_at, state, state_reason, statuses, title, updated_at)

struct CreateIssueRequest {
  Opt<std::vector<std::string>> assignees;
  Opt<std::string> body, end_date;
  Opt<bool> invisible;
  Opt<std::vector<std::string>> labels;
  Opt<std::string> priority, start_date, title;
  Opt<bool> work_mode;
};
QEL_FIELDS(CreateIssueRequest, assignees, body, end_date, invisible, labels, priority, start_date, title, work_mode)

struct UpdateIssueRequest {
  Opt<std::string> body, end_date;
  Opt<bool> invisible;
  Opt<std::string> priority, start_date, state, state_reason, title;
};
QEL_FIELDS(UpdateIssueRequest, body, end_date, invisible, priority, start_date, state, state_reason, title)

using CreateIssueCommentRequest = CreateCommentRequest;

struct UpdateIssueCommentRequest {
  Opt<std::string> body;
};
QEL_FIELDS(UpdateIssueCommentRequest, body)

// Body of both the add and the replace label endpoints.
struct IssueLabelsRequest {
  Opt<std::vector<std::string>> labels;
};
QEL_FIELDS(IssueLabelsRequest, labels)

// Every parameter of the list endpoint, in the order the query is written.
struct ListIssuesQuery {
  Opt<std::int64_t> page, page_size;
  Opt<std::string> state, keyword, priority, labels, labels_operator, authors, assignees, updated_time_begin,
      updated_time_end, close_time_begin, close_time_end, order_by;
};
QEL_FIELDS(ListIssuesQuery, page, page_size, state, keyword, priority, labels, labels_operator, authors, assignees,
           updated_time_begin, updated_time_end, close_time_begin, close_time_end, order_by)

struct ListIssueCommentsQuery {
  Opt<std::string> sort;
  Opt<std::int64_t> page, page_size;
};
QEL_FIELDS(ListIssueCommentsQuery, sort, page, page_size)

struct ListIssueLabelsQuery {
  Opt<std::int64_t> page, page_size;
};
QEL_FIELDS(ListIssueLabelsQuery, page, page_size)

ApiResult<std::vector<Issue>> list_issues(const ApiClient& api, std::string_view repo, const ListIssuesQuery& q);
ApiResult<IssueDetail> get_issue(const ApiClient& api, std::string_view repo, std::int64_t number);
ApiResult<IssueDetail> create_issue(const ApiClient& api, std::string_view repo, const CreateIssueRequest& body);
ApiResult<IssueDetail> update_issue(const ApiClient& api, std::string_view repo, std::int64_t number,
                                    const UpdateIssueRequest& body);

ApiResult<std::vector<IssueComment>> list_issue_comments(const ApiClient& api, std::string_view repo,
                                                         std::int64_t number, const ListIssueCommentsQuery& q);
ApiResult<IssueComment> create_issue_comment(const ApiClient& api, std::string_view repo, std::int64_t number,
                                             const CreateIssueCommentRequest& body);
ApiResult<IssueComment> update_issue_comment(const ApiClient& api, std::string_view repo, std::int64_t number,
                                             std::int64_t comment_id, const UpdateIssueCommentRequest& body);

ApiResult<std::vector<Label>> list_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number,
                                                const ListIssueLabelsQuery& q);
ApiResult<std::vector<Label>> add_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number,
                                               const IssueLabelsRequest& body);
// The replace endpoint answers with one label object, not a list.
ApiResult<Label> set_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number,
                                  const IssueLabelsRequest& body);
ApiResult<NoBody> clear_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number);
ApiResult<std::vector<Label>> remove_issue_label(const ApiClient& api, std::string_view repo, std::int64_t number,
                                                 std::string_view label_name);

}  // namespace qel::api
