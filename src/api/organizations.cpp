#include "api/organizations.hpp"

namespace qel::api {

ApiResult<std::vector<OrganizationAccess>> list_groups(const ApiClient& api, const ListGroupsQuery& q) {
  return api.get<std::vector<OrganizationAccess>>(api.path("user/groups"), query_string(q));
}

ApiResult<std::vector<OrganizationUnion>> list_sub_groups(const ApiClient& api, std::string_view group,
                                                          const ListSubGroupsQuery& q) {
  return api.get<std::vector<OrganizationUnion>>(api.path("{}/-/sub-groups", group), query_string(q));
}

ApiResult<OrganizationAccess> get_group(const ApiClient& api, std::string_view group) {
  return api.get<OrganizationAccess>(api.path("{}", group));
}

ApiResult<json::AnyJson> create_group(const ApiClient& api, const CreateGroupRequest& body) {
  return api.send<json::AnyJson>("POST", api.path("groups"), body);
}

}  // namespace qel::api
