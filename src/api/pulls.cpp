#include "api/pulls.hpp"

namespace qel::api {

ApiResult<std::vector<PullRequest>> list_pulls(const ApiClient& api, std::string_view repo, const ListPullsQuery& q) {
  return api.get<std::vector<PullRequest>>(api.path("{}/-/pulls", repo), query_string(q));
}

ApiResult<Pull> get_pull(const ApiClient& api, std::string_view repo, std::int64_t number) {
  return api.get<Pull>(api.path("{}/-/pulls/{}", repo, number));
}

ApiResult<Pull> create_pull(const ApiClient& api, std::string_view repo, const CreatePullRequest& body) {
  return api.send<Pull>("POST", api.path("{}/-/pulls", repo), body);
}

ApiResult<Pull> update_pull(const ApiClient& api, std::string_view repo, std::int64_t number,
                            const UpdatePullRequest& body) {
  return api.send<Pull>("PATCH", api.path("{}/-/pulls/{}", repo, number), body);
}

ApiResult<MergePullResponse> merge_pull(const ApiClient& api, std::string_view repo, std::int64_t number,
                                        const MergePullRequest& body) {
  return api.send<MergePullResponse>("PUT", api.path("{}/-/pulls/{}/merge", repo, number), body);
}

ApiResult<std::vector<PullRequestComment>> list_pull_comments(const ApiClient& api, std::string_view repo,
                                                              std::int64_t number, const ListPullCommentsQuery& q) {
  return api.get<std::vector<PullRequestComment>>(api.path("{}/-/pulls/{}/comments", repo, number),
                                                  query_string(q));
}

ApiResult<PullRequestComment> create_pull_comment(const ApiClient& api, std::string_view repo, std::int64_t number,
                                                  const CreatePullCommentRequest& body) {
  return api.send<PullRequestComment>("POST", api.path("{}/-/pulls/{}/comments", repo, number), body);
}

}  // namespace qel::api
