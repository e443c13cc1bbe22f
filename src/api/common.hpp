#pragma once
// Records embedded in many answers: accounts, labels, comment reactions, the
// status map of issues, pull requests and comments, and comments themselves
// (issue and pull request comments have the same shape).
#include <cstdint>
#include <string>
#include <vector>

#include "json/record.hpp"

namespace qel::api {

using json::Opt;
using json::StrMap;

struct UserInfo {
  Opt<std::string> avatar, email;
  Opt<bool> freeze, is_npc;
  Opt<std::string> nickname, username;
};
QEL_FIELDS(UserInfo, avatar, email, freeze, is_npc, nickname, username)

struct Label {
  Opt<std::string> color, description, id, name;
};
QEL_FIELDS(Label, color, description, id, name)

// A label applied to an issue or pull request, with who made and applied it.
struct LabelInfo {
  Opt<UserInfo> applied_by;
  Opt<std::string> color;
  Opt<UserInfo> creator;
  Opt<std::string> description, id, name;
};
QEL_FIELDS(LabelInfo, applied_by, color, creator, description, id, name)

// One kind of reaction on a comment.
struct Reaction {
  Opt<std::int64_t> count;
  Opt<bool> has_reacted;
  Opt<std::string> reaction;
  Opt<std::vector<UserInfo>> top_users;
};
QEL_FIELDS(Reaction, count, has_reacted, reaction, top_users)

struct StatusItem {
  Opt<StrMap<std::string>> annotations;
  Opt<std::string> context, description, state, target_url;
  Opt<StrMap<std::string>> tasks;
};
QEL_FIELDS(StatusItem, annotations, context, description, state, target_url, tasks)

struct StatusGroup {
  Opt<StrMap<std::string>> annotations, context, key;
  Opt<std::vector<StatusItem>> statuses;
};
QEL_FIELDS(StatusGroup, annotations, context, key, statuses)

// Status groups by key, as carried in `statuses` fields.
using StatusMap = StrMap<std::vector<StatusGroup>>;

struct Comment {
  Opt<UserInfo> author;
  Opt<std::string> body, created_at, id;
  Opt<std::vector<Reaction>> reactions;
  Opt<StatusMap> statuses;
  Opt<std::string> updated_at;
};
QEL_FIELDS(Comment, author, body, created_at, id, reactions, statuses, updated_at)

using IssueComment = Comment;
using PullRequestComment = Comment;

// Body of the comment-create endpoints (issues and pull requests alike).
struct CreateCommentRequest {
  Opt<std::string> body;
  Opt<bool> work_mode;
};
QEL_FIELDS(CreateCommentRequest, body, work_mode)

}  // namespace qel::api
