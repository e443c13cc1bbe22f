#include "api/builds.hpp"

namespace qel::api {

ApiResult<BuildLogsResult> get_build_logs(const ApiClient& api, std::string_view repo, const GetBuildLogsQuery& q) {
  return api.get<BuildLogsResult>(api.path("{}/-/build/logs", repo), query_string(q));
}

ApiResult<BuildStageResult> get_build_stage(const ApiClient& api, std::string_view repo, std::string_view sn,
                                            std::string_view pipeline_id, std::string_view stage_id) {
  return api.get<BuildStageResult>(api.path("{}/-/build/logs/stage/{}/{}/{}", repo, sn, pipeline_id, stage_id));
}

ApiResult<BuildStatusResult> get_build_status(const ApiClient& api, std::string_view repo, std::string_view sn) {
  return api.get<BuildStatusResult>(api.path("{}/-/build/status/{}", repo, sn));
}

ApiResult<BuildResult> start_build(const ApiClient& api, std::string_view repo, const StartBuildRequest& body) {
  return api.send<BuildResult>("POST", api.path("{}/-/build/start", repo), body);
}

ApiResult<BuildResult> stop_build(const ApiClient& api, std::string_view repo, std::string_view sn) {
  return api.send<BuildResult>("POST", api.path("{}/-/build/stop/{}", repo, sn), StopBuildRequest{});
}

ApiResult<BuildCommonResult> delete_build_logs(const ApiClient& api, std::string_view repo, std::string_view sn) {
  return api.send<BuildCommonResult>("DELETE", api.path("{}/-/build/logs/{}", repo, sn));
}

ApiResult<std::string> download_runner_log(const ApiClient& api, std::string_view repo, std::string_view pipeline_id) {
  return api.get_text(api.path("{}/-/build/runner/download/log/{}", repo, pipeline_id));
}

}  // namespace qel::api
