#include "api/knowledge_base.hpp"

namespace qel::api {

ApiResult<KnowledgeBaseInfoRes> get_knowledge_base_info(const ApiClient& api, std::string_view repo) {
  return api.get<KnowledgeBaseInfoRes>(api.path("{}/-/knowledge/base", repo));
}

ApiResult<std::vector<QueryKnowledgeBaseRes>> query_knowledge_base(const ApiClient& api, std::string_view repo,
                                                                   const QueryKnowledgeBaseRequest& body) {
  return api.send<std::vector<QueryKnowledgeBaseRes>>("POST", api.path("{}/-/knowledge/base/query", repo), body);
}

}  // namespace qel::api
