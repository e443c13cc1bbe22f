#pragma once
// Inputs of the knowledge-base tools. The query's filter is nested, so its
// records become `$defs` entries of the query tool's schema.
#include <cstdint>
#include <string>
#include <vector>

#include "json/record.hpp"

namespace qel::tools {

struct GetKnowledgeBaseInfoInput {
  std::string repo;
};
QEL_INPUT(GetKnowledgeBaseInfoInput, (repo, "仓库路径"))

struct MetadataConditionInput {
  std::string comparison_operator, name;
  json::Opt<std::string> value;
};
QEL_INPUT(MetadataConditionInput,
          (comparison_operator,
           "运算符: is / is not / contains / not contains / starts with / ends with / is empty / is not empty"),
          (name, "字段名称: position / path / type"),
          (value, "比较值（运算符为 \"is empty\" / \"is not empty\" 时可省略）"))

struct MetadataFilteringConditionsInput {
  std::vector<MetadataConditionInput> conditions;
  json::Opt<std::string> logical_operator;
};
QEL_INPUT(MetadataFilteringConditionsInput,
          (conditions, "过滤条件列表"),
          (logical_operator, "逻辑连接符: and / or，默认 and"))

struct QueryKnowledgeBaseInput {
  std::string repo, query;
  json::Opt<double> score_threshold;
  json::Opt<std::int64_t> top_k;
  json::Opt<MetadataFilteringConditionsInput> metadata_filtering_conditions;
};
QEL_INPUT(QueryKnowledgeBaseInput,
          (repo, "仓库路径"),
          (query, "查询关键词或问题"),
          (score_threshold, "匹配相关性分数阈值（0-1）"),
          (top_k, "返回结果最大数量"),
          (metadata_filtering_conditions, "元数据过滤条件"))

}  // namespace qel::tools
