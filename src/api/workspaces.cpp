#include "api/workspaces.hpp"

namespace qel::api {

ApiResult<WorkspaceListResult> list_workspaces(const ApiClient& api, const ListWorkspacesQuery& q) {
  return api.get<WorkspaceListResult>(api.path("workspace/list"), query_string(q));
}

ApiResult<StartWorkspaceResult> start_workspace(const ApiClient& api, std::string_view repo,
                                                const StartWorkspaceRequest& body) {
  return api.send<StartWorkspaceResult>("POST", api.path("{}/-/workspace/start", repo), body);
}

ApiResult<WorkspaceDeleteResult> delete_workspace(const ApiClient& api, const WorkspaceDeleteRequest& body) {
  return api.send<WorkspaceDeleteResult>("POST", api.path("workspace/delete"), body);
}

}  // namespace qel::api
