// Knowledge-base tools: read a repository's knowledge-base settings and
// statistics, and query it by similarity with an optional metadata filter.
#include "api/knowledge_base.hpp"
#include "tools/knowledge_inputs.hpp"
#include "tools/tool.hpp"

namespace qel::tools {
namespace {

// The filter goes out as given: no default connective, no check of the
// operators or of an empty condition list; the platform judges them.
api::MetadataFilteringConditions filter_body(const MetadataFilteringConditionsInput& in) {
  std::vector<api::MetadataCondition> conditions;
  conditions.reserve(in.conditions.size());
  for (const auto& c : in.conditions) {
    conditions.push_back({.comparison_operator = c.comparison_operator, .name = c.name, .value = c.value});
  }
  return {.conditions = std::move(conditions), .logical_operator = in.logical_operator};
}

ToolOutcome get_knowledge_base_info(const ApiClient& api, const GetKnowledgeBaseInfoInput& in) {
  return render(api::get_knowledge_base_info(api, in.repo));
}

ToolOutcome query_knowledge_base(const ApiClient& api, const QueryKnowledgeBaseInput& in) {
  api::QueryKnowledgeBaseRequest body{.query = in.query, .score_threshold = in.score_threshold, .top_k = in.top_k};
  if (in.metadata_filtering_conditions) {
    body.metadata_filtering_conditions = filter_body(*in.metadata_filtering_conditions);
  }
  return render(api::query_knowledge_base(api, in.repo, body));
}

}  // namespace

std::vector<Tool> knowledge_tools() {
  return {
      tool("qel_get_knowledge_base_info", "获取仓库知识库信息", get_knowledge_base_info),
      tool("qel_query_knowledge_base", "查询仓库知识库", query_knowledge_base),
  };
}

}  // namespace qel::tools
