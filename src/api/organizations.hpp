#pragma once
// Organizations (groups in the API) and their endpoints.
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "api/client.hpp"
#include "api/repositories.hpp"
#include "json/record.hpp"

namespace qel::api {

using json::Opt;

// An organization without the caller's role: the shape of sub-organization
// answers, and the common part of every organization record.
struct OrganizationUnion {
  Opt<std::int64_t> all_member_count, all_sub_group_count, all_sub_mission_count, all_sub_registry_count,
      all_sub_repo_count;
  Opt<std::string> created_at, description, domain, email;
  Opt<std::int64_t> follow_count;
  Opt<bool> freeze, has_sub_group;
  Opt<std::string> id;
  Opt<std::int64_t> member_count;
  Opt<std::string> name, path;
  Opt<bool> pinned;
  Opt<std::string> pinned_time, readme_repo_path, remark, site;
  Opt<std::int64_t> sub_group_count, sub_mission_count, sub_registry_count, sub_repo_count;
  Opt<std::string> updated_at, wechat_mp;
};
QEL_FIELDS(OrganizationUnion, all_member_count, all_sub_group_count, all_sub_mission_count, all_sub_registry_count,
           all_sub_repo_count, created_at, description, domain, email, follow_count, freeze, has_sub_group, id,
           member_count, name, path, pinned, pinned_time, readme_repo_path, remark, site, sub_group_count,
           sub_mission_count, sub_registry_count, sub_repo_count, updated_at, wechat_mp)

// An organization as the calling account sees it: the caller's role first,
// then every field of OrganizationUnion in its order.
struct OrganizationAccess : OrganizationUnion {
  Opt<AccessRole> access_role;
};
// Declared by hand so the role comes before the inherited fields; without an
// overload of its own the record would silently take OrganizationUnion's list.
[[maybe_unused]] constexpr auto qel_record_fields(const OrganizationAccess*) {
  return std::tuple_cat(std::make_tuple(json::field("access_role", &OrganizationAccess::access_role)),
                        qel_record_fields(static_cast<const OrganizationUnion*>(nullptr)));
}
[[maybe_unused]] constexpr std::string_view qel_record_name(const OrganizationAccess*) { return "OrganizationAccess"; }

struct CreateGroupRequest {
  Opt<std::string> bind_domain, description, path, remark;
};
QEL_FIELDS(CreateGroupRequest, bind_domain, description, path, remark)

struct ListGroupsQuery {
  Opt<std::int64_t> page, page_size;
  Opt<std::string> search, role;
};
QEL_FIELDS(ListGroupsQuery, page, page_size, search, role)

struct ListSubGroupsQuery {
  Opt<std::string> search;
  Opt<std::int64_t> page, page_size;
};
QEL_FIELDS(ListSubGroupsQuery, search, page, page_size)

ApiResult<std::vector<OrganizationAccess>> list_groups(const ApiClient& api, const ListGroupsQuery& q);
ApiResult<std::vector<OrganizationUnion>> list_sub_groups(const ApiClient& api, std::string_view group,
                                                          const ListSubGroupsQuery& q);
ApiResult<OrganizationAccess> get_group(const ApiClient& api, std::string_view group);
ApiResult<json::AnyJson> create_group(const ApiClient& api, const CreateGroupRequest& body);

}  // namespace qel::api
