#pragma once
// Pull requests of one repository and their comments: the records the pull
// endpoints exchange, their query records and the endpoint functions.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/client.hpp"
#include "api/common.hpp"
#include "json/record.hpp"

namespace qel::api {

using json::Opt;

// The short repository reference inside a pull request and its two sides.
struct ApiRepo {
  Opt<std::string> id, name, path, web_url;
};
QEL_FIELDS(ApiRepo, id, name, path, web_url)

// One side of a pull request: a branch, its repository and its tip.
struct PullRef {
  Opt<std::string> ref;
  Opt<ApiRepo> repo;
  Opt<std::string> sha;
};
QEL_FIELDS(PullRef, ref, repo, sha)

struct PullReviewer {
  Opt<std::string> review_state;
  Opt<UserInfo> user;
};
QEL_FIELDS(PullReviewer, review_state, user)

// One entry of the pull request list. The number is a string here even
// though the tools take it as an integer.
struct PullRequest {
  Opt<std::vector<UserInfo>> assignees;
  Opt<UserInfo> author;
  Opt<PullRef> base;
  Opt<std::string> blocked_on, body;
  Opt<std::int64_t> comment_count;
  Opt<std::string> created_at;
  Opt<PullRef> head;
  Opt<bool> is_force_merged, is_merged, is_wip;
  Opt<std::vector<Label>> labels;
  Opt<std::string> last_acted_at, mergeable_state;
  Opt<UserInfo> merged_by;
  Opt<std::string> number;
  Opt<ApiRepo> repo;
  Opt<std::int64_t> review_count;
  Opt<std::string> state, title, updated_at;
};
QEL_FIELDS(PullRequest, assignees, author, base, blocked_on, body, comment_count, created_at, head, is_force_merged,
           is_merged, is_wip, labels, last_acted_at, mergeable_state, merged_by, number, repo, review_count, state,
           title, updated_at)

// One pull request read, created or updated by number. Unlike a list entry
// it carries reviewers and statuses, its labels say who applied them, and
// the list's counters and times are not part of it.
struct Pull {
  Opt<UserInfo> author;
  Opt<PullRef> base;
  Opt<std::string> blocked_on, body;
  Opt<PullRef> head;
  Opt<bool> is_force_merged, is_merged, is_wip;
  Opt<std::vector<LabelInfo>> labels;
  Opt<std::string> mergeable_state;
  Opt<UserInfo> merged_by;
  Opt<std::string> number;
  Opt<std::vector<PullReviewer>> reviewers;
  Opt<std::string> state;
  Opt<StatusMap> statuses;
  Opt<std::string> title;
};
QEL_FIELDS(Pull, author, base, blocked_on, body, head, is_force_merged, is_merged, is_wip, labels, mergeable_state,
           merged_by, number, reviewers, state, statuses, title)

struct MergePullResponse {
  Opt<bool> merged;
  Opt<std::string> message, sha;
};
QEL_FIELDS(MergePullResponse, merged, message, sha)

struct CreatePullRequest {
  Opt<std::string> base, body, head, head_repo, title;
};
QEL_FIELDS(CreatePullRequest, base, body, head, head_repo, title)

struct UpdatePullRequest {
  Opt<std::string> body, state, title;
};
QEL_FIELDS(UpdatePullRequest, body, state, title)

struct MergePullRequest {
  Opt<std::string> commit_message, commit_title;
  Opt<bool> force;
  Opt<std::string> merge_style;
};
QEL_FIELDS(MergePullRequest, commit_message, commit_title, force, merge_style)

using CreatePullCommentRequest = CreateCommentRequest;

struct ListPullsQuery {
  Opt<std::int64_t> page, page_size;
  Opt<std::string> state, authors, reviewers, reviewers_operator, assignees, assignees_operator, labels,
      labels_operator, base_ref, updated_time_begin, updated_time_end, order_by;
};
QEL_FIELDS(ListPullsQuery, page, page_size, state, authors, reviewers, reviewers_operator, assignees,
           assignees_operator, labels, labels_operator, base_ref, updated_time_begin, updated_time_end, order_by)

struct ListPullCommentsQuery {
  Opt<std::int64_t> page, page_size;
};
QEL_FIELDS(ListPullCommentsQuery, page, page_size)

ApiResult<std::vector<PullRequest>> list_pulls(const ApiClient& api, std::string_view repo, const ListPullsQuery& q);
ApiResult<Pull> get_pull(const ApiClient& api, std::string_view repo, std::int64_t number);
ApiResult<Pull> create_pull(const ApiClient& api, std::string_view repo, const CreatePullRequest& body);
ApiResult<Pull> update_pull(const ApiClient& api, std::string_view repo, std::int64_t number,
                            const UpdatePullRequest& body);
ApiResult<MergePullResponse> merge_pull(const ApiClient& api, std::string_view repo, std::int64_t number,
                                        const MergePullRequest& body);
ApiResult<std::vector<PullRequestComment>> list_pull_comments(const ApiClient& api, std::string_view repo,
                                                              std::int64_t number, const ListPullCommentsQuery& q);
ApiResult<PullRequestComment> create_pull_comment(const ApiClient& api, std::string_view repo, std::int64_t number,
                                                  const CreatePullCommentRequest& body);

}  // namespace qel::api
