#include "api/issues.hpp"

namespace qel::api {

ApiResult<std::vector<Issue>> list_issues(const ApiClient& api, std::string_view repo, const ListIssuesQuery& q) {
  return api.get<std::vector<Issue>>(api.path("{}/-/issues", repo), query_string(q));
}

ApiResult<IssueDetail> get_issue(const ApiClient& api, std::string_view repo, std::int64_t number) {
  return api.get<IssueDetail>(api.path("{}/-/issues/{}", repo, number));
}

ApiResult<IssueDetail> create_issue(const ApiClient& api, std::string_view repo, const CreateIssueRequest& body) {
  return api.send<IssueDetail>("POST", api.path("{}/-/issues", repo), body);
}

ApiResult<IssueDetail> update_issue(const ApiClient& api, std::string_view repo, std::int64_t number,
                                    const UpdateIssueRequest& body) {
  return api.send<IssueDetail>("PATCH", api.path("{}/-/issues/{}", repo, number), body);
}

ApiResult<std::vector<IssueComment>> list_issue_comments(const ApiClient& api, std::string_view repo,
                                                         std::int64_t number, const ListIssueCommentsQuery& q) {
  return api.get<std::vector<IssueComment>>(api.path("{}/-/issues/{}/comments", repo, number), query_string(q));
}

ApiResult<IssueComment> create_issue_comment(const ApiClient& api, std::string_view repo, std::int64_t number,
                                             const CreateIssueCommentRequest& body) {
  return api.send<IssueComment>("POST", api.path("{}/-/issues/{}/comments", repo, number), body);
}

ApiResult<IssueComment> update_issue_comment(const ApiClient& api, std::string_view repo, std::int64_t number,
                                             std::int64_t comment_id, const UpdateIssueCommentRequest& body) {
  return api.send<IssueComment>("PATCH", api.path("{}/-/issues/{}/comments/{}", repo, number, comment_id), body);
}

ApiResult<std::vector<Label>> list_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number,
                                                const ListIssueLabelsQuery& q) {
  return api.get<std::vector<Label>>(api.path("{}/-/issues/{}/labels", repo, number), query_string(q));
}

ApiResult<std::vector<Label>> add_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number,
                                               const IssueLabelsRequest& body) {
  return api.send<std::vector<Label>>("POST", api.path("{}/-/issues/{}/labels", repo, number), body);
}

ApiResult<Label> set_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number,
                                  const IssueLabelsRequest& body) {
  return api.send<Label>("PUT", api.path("{}/-/issues/{}/labels", repo, number), body);
}

ApiResult<NoBody> clear_issue_labels(const ApiClient& api, std::string_view repo, std::int64_t number) {
  return api.send<NoBody>("DELETE", api.path("{}/-/issues/{}/labels", repo, number));
}

ApiResult<std::vector<Label>> remove_issue_label(const ApiClient& api, std::string_view repo, std::int64_t number,
                                                 std::string_view label_name) {
  return api.send<std::vector<Label>>("DELETE", api.path("{}/-/issues/{}/labels/{}", repo, number, label_name));
}

}  // namespace qel::api
