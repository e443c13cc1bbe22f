#pragma once
// Repositories as the calling account sees them, and their endpoints.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "api/client.hpp"
#include "json/enums.hpp"
#include "json/lenient.hpp"
#include "json/record.hpp"

namespace qel::api {

using json::Opt;

struct AccessRoleNames {
  static constexpr std::string_view type = "AccessRole";
  static constexpr std::array<std::string_view, 6> names{"Unknown", "Guest", "Reporter", "Developer", "Master", "Owner"};
};
using AccessRole = json::NamedEnum<AccessRoleNames>;

struct RepoFlagNames {
  static constexpr std::string_view type = "RepoFlag";
  static constexpr std::array<std::string_view, 5> names{"Unknown", "KnowledgeBase", "NPC", "Skills", "Wiki"};
};
using RepoFlag = json::NamedEnum<RepoFlagNames>;

struct RepoVisibilityNames {
  static constexpr std::string_view type = "RepoVisibility";
  static constexpr std::array<std::string_view, 3> names{"Private", "Public", "Secret"};
};
using RepoVisibility = json::NamedEnum<RepoVisibilityNames>;

struct RepoStatusCodes {
  static constexpr std::array<std::int64_t, 3> codes{0, 1, 2};
};
using RepoStatus = json::CodeEnum<RepoStatusCodes>;

struct SlugResourceTypeCodes {
  static constexpr std::array<std::int64_t, 5> codes{0, 1, 2, 3, 4};
};
using SlugResourceType = json::CodeEnum<SlugResourceTypeCodes>;

struct RepoLanguage {
  Opt<std::string> color, language;
};
QEL_FIELDS(RepoLanguage, color, language)

struct RepoDisplayModule {
  Opt<bool> activity, contributors, release;
};
QEL_FIELDS(RepoDisplayModule, activity, contributors, release)

struct Slugs {
  Opt<std::string> created_at;
  Opt<bool> freeze;
  Opt<std::string> path;
  Opt<std::int64_t> resource_id;
  Opt<SlugResourceType> resource_type;
  Opt<bool> root_freeze;
  Opt<std::int64_t> root_id;
  Opt<std::string> updated_at;
};
QEL_FIELDS(Slugs, created_at, freeze, path, resource_id, resource_type, root_freeze, root_id, updated_at)

struct Repos4User {
  Opt<AccessRole> access;
  Opt<std::string> created_at, description;
  Opt<RepoDisplayModule> display_module;
  Opt<RepoFlag> flags;
  Opt<std::int64_t> fork_count;
  Opt<Slugs> forked_from_repo;
  Opt<bool> freeze;
  Opt<std::string> id, language;
  Opt<RepoLanguage> languages;
  Opt<std::string> last_update_nickname, last_update_username;
  Opt<json::NullTime> last_updated_at;
  Opt<std::string> license;
  Opt<std::int64_t> mark_count;
  Opt<std::string> name;
  Opt<std::int64_t> npc_builded_count, npc_created_pull_count, npc_merged_pull_count, open_issue_count,
      open_pull_request_count;
  Opt<std::string> path;
  Opt<bool> pinned;
  Opt<std::string> pinned_time;
  Opt<RepoLanguage> second_languages;
  Opt<std::string> site, skill_scan_status;
  Opt<std::int64_t> star_count;
  Opt<std::string> star_time;
  Opt<bool> stared;
  Opt<RepoStatus> status;
  Opt<std::vector<json::AnyJson>> tags;
  Opt<std::string> topics, updated_at;
  Opt<RepoVisibility> visibility_level;
  Opt<std::string> web_url;
};
QEL_FIELDS(Repos4User, access, created_at, description, display_module, flags, fork_count, forked_from_repo, freeze,
           id, language, languages, last_update_nickname, last_update_username, last_updated_at, license, mark_count,
           name, npc_builded_count, npc_created_pull_count, npc_merged_pull_count, open_issue_count,
           open_pull_request_count, path, pinned, pinned_time, second_languages, site, skill_scan_status, star_count,
           star_time, stared, status, tags, topics, updated_at, visibility_level, web_url)

struct CreateRepositoryRequest {
  Opt<std::string> description, name, visibility;
};
QEL_FIELDS(CreateRepositoryRequest, description, name, visibility)

struct ListUserReposQuery {
  Opt<std::int64_t> page, page_size;
  Opt<std::string> search, filter_type, role, flags, flags_match, status, order_by;
  Opt<bool> desc;
};
QEL_FIELDS(ListUserReposQuery, page, page_size, search, filter_type, role, flags, flags_match, status, order_by, desc)

struct ListGroupReposQuery {
  Opt<std::int64_t> page, page_size;
  Opt<std::string> filter_type, flags, flags_match, status, order_by;
  Opt<bool> desc;
  Opt<std::string> descendant, search;
};
QEL_FIELDS(ListGroupReposQuery, page, page_size, filter_type, flags, flags_match, status, order_by, desc, descendant,
           search)

ApiResult<std::vector<Repos4User>> list_user_repos(const ApiClient& api, const ListUserReposQuery& q);
ApiResult<std::vector<Repos4User>> list_group_repos(const ApiClient& api, std::string_view group,
                                                    const ListGroupReposQuery& q);
ApiResult<Repos4User> get_repo(const ApiClient& api, std::string_view repo);
ApiResult<json::AnyJson> create_repo(const ApiClient& api, std::string_view group, const CreateRepositoryRequest& body);

}  // namespace qel::api
