#pragma once
// Cloud development workspaces and their endpoints. The list wrapper and the
// start answer use camelCase keys, the entries and the page info snake_case.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/client.hpp"
#include "json/record.hpp"

namespace qel::api {

using json::Opt;

struct WorkspaceInfo {
  Opt<std::string> branch;
  Opt<std::int64_t> commit_count;
  Opt<std::string> create_time;
  Opt<std::int64_t> duration, file_count;
  Opt<std::string> file_list, latest_sha, pipeline_id;
  Opt<std::int64_t> remote_stash_count;
  Opt<std::string> repo_url, restore_id, slug, sn;
  Opt<bool> ssh;
  Opt<std::string> status, workspace;
};
QEL_FIELDS(WorkspaceInfo, branch, commit_count, create_time, duration, file_count, file_list, latest_sha, pipeline_id,
           remote_stash_count, repo_url, restore_id, slug, sn, ssh, status, workspace)

struct WorkspacePageInfo {
  Opt<std::int64_t> page, page_size;
};
QEL_FIELDS(WorkspacePageInfo, page, page_size)

struct WorkspaceListResult {
  Opt<bool> hasMore;
  Opt<std::vector<WorkspaceInfo>> list;
  Opt<WorkspacePageInfo> pageInfo;
  Opt<std::int64_t> total;
};
QEL_FIELDS(WorkspaceListResult, hasMore, list, pageInfo, total)

struct StartWorkspaceResult {
  Opt<std::string> buildLogUrl, message, sn, url;
};
QEL_FIELDS(StartWorkspaceResult, buildLogUrl, message, sn, url)

struct WorkspaceDeleteResult {
  Opt<std::int64_t> code;
  Opt<std::string> message;
};
QEL_FIELDS(WorkspaceDeleteResult, code, message)

struct StartWorkspaceRequest {
  Opt<std::string> branch, ref;
};
QEL_FIELDS(StartWorkspaceRequest, branch, ref)

struct WorkspaceDeleteRequest {
  Opt<std::string> pipelineId, sn;
};
QEL_FIELDS(WorkspaceDeleteRequest, pipelineId, sn)

struct ListWorkspacesQuery {
  Opt<std::string> branch, end;
  Opt<std::int64_t> page, page_size;
  Opt<std::string> slug, start, status;
};
QEL_FIELDS(ListWorkspacesQuery, branch, end, page, page_size, slug, start, status)

ApiResult<WorkspaceListResult> list_workspaces(const ApiClient& api, const ListWorkspacesQuery& q);
ApiResult<StartWorkspaceResult> start_workspace(const ApiClient& api, std::string_view repo,
                                                const StartWorkspaceRequest& body);
// A POST naming the workspace by its pipeline alone, not a DELETE on a
// repository path.
ApiResult<WorkspaceDeleteResult> delete_workspace(const ApiClient& api, const WorkspaceDeleteRequest& body);

}  // namespace qel::api
