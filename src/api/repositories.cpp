#include "api/repositories.hpp"

namespace qel::api {

ApiResult<std::vector<Repos4User>> list_user_repos(const ApiClient& api, const ListUserReposQuery& q) {
  return api.get<std::vector<Repos4User>>(api.path("user/repos"), query_string(q));
}

ApiResult<std::vector<Repos4User>> list_group_repos(const ApiClient& api, std::string_view group,
                                                    const ListGroupReposQuery& q) {
  return api.get<std::vector<Repos4User>>(api.path("{}/-/repos", group), query_string(q));
}

ApiResult<Repos4User> get_repo(const ApiClient& api, std::string_view repo) {
  return api.get<Repos4User>(api.path("{}", repo));
}

ApiResult<json::AnyJson> create_repo(const ApiClient& api, std::string_view group, const CreateRepositoryRequest& body) {
  return api.send<json::AnyJson>("POST", api.path("{}/-/repos", group), body);
}

}  // namespace qel::api
