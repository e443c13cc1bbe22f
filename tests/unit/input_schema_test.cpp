// Input schemas as tools/list publishes them, compared as compact text so
// key order, "null" placement and description bytes are all pinned.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "json/record.hpp"
#include "json/write.hpp"
#include "tools/knowledge_inputs.hpp"

namespace {

using qel::json::Opt;

struct ListIssuesInput {
  std::string repo;
  Opt<std::string> state, keyword, priority, labels, authors, assignees, order_by;
  Opt<std::int64_t> page, page_size;
};
QEL_INPUT(ListIssuesInput,
          (repo, "仓库路径"),
          (state, "Issue 状态：open / closed"),
          (keyword, "搜索关键词"),
          (priority, "优先级过滤，如 P0,P1,P2,P3"),
          (labels, "标签过滤，逗号分隔"),
          (authors, "创建者过滤，逗号分隔"),
          (assignees, "处理人过滤，逗号分隔；- 表示未分配"),
          (order_by, "排序字段，如 `created_at`, `-updated_at`"),
          (page, "页码，从 1 开始"),
          (page_size, "每页条数，默认 30"))

struct NoRequiredInput {
  Opt<std::string> search;
};
QEL_INPUT(NoRequiredInput, (search, "搜索关键字"))

template <class T>
std::string schema_text() {
  return qel::json::to_text(qel::json::input_schema<T>());
}

TEST(InputSchemaTest, FlatRecordSortsPropertiesAndKeepsRequiredInDeclarationOrder) {
  EXPECT_EQ(schema_text<ListIssuesInput>(),
            R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
            R"("assignees":{"description":"处理人过滤，逗号分隔；- 表示未分配","type":["string","null"]},)"
            R"("authors":{"description":"创建者过滤，逗号分隔","type":["string","null"]},)"
            R"("keyword":{"description":"搜索关键词","type":["string","null"]},)"
            R"("labels":{"description":"标签过滤，逗号分隔","type":["string","null"]},)"
            R"("order_by":{"description":"排序字段，如 `created_at`, `-updated_at`","type":["string","null"]},)"
            R"("page":{"description":"页码，从 1 开始","format":"int64","type":["integer","null"]},)"
            R"("page_size":{"description":"每页条数，默认 30","format":"int64","type":["integer","null"]},)"
            R"("priority":{"description":"优先级过滤，如 P0,P1,P2,P3","type":["string","null"]},)"
            R"("repo":{"description":"仓库路径","type":"string"},)"
            R"("state":{"description":"Issue 状态：open / closed","type":["string","null"]}},)"
            R"("required":["repo"],"title":"ListIssuesInput","type":"object"})");
}

TEST(InputSchemaTest, RecordWithoutRequiredFieldsHasNoRequiredKey) {
  EXPECT_EQ(schema_text<NoRequiredInput>(),
            R"({"$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
            R"("search":{"description":"搜索关键字","type":["string","null"]}},)"
            R"("title":"NoRequiredInput","type":"object"})");
}

TEST(InputSchemaTest, NestedRecordsBecomeDefinitionsReferencedFromTheQuery) {
  EXPECT_EQ(
      schema_text<qel::tools::QueryKnowledgeBaseInput>(),
      R"({"$defs":{)"
      R"("MetadataConditionInput":{"properties":{)"
      R"("comparison_operator":{"description":"运算符: is / is not / contains / not contains / starts with / ends with / is empty / is not empty","type":"string"},)"
      R"("name":{"description":"字段名称: position / path / type","type":"string"},)"
      R"("value":{"description":"比较值（运算符为 \"is empty\" / \"is not empty\" 时可省略）","type":["string","null"]}},)"
      R"("required":["comparison_operator","name"],"type":"object"},)"
      R"("MetadataFilteringConditionsInput":{"properties":{)"
      R"("conditions":{"description":"过滤条件列表","items":{"$ref":"#/$defs/MetadataConditionInput"},"type":"array"},)"
      R"("logical_operator":{"description":"逻辑连接符: and / or，默认 and","type":["string","null"]}},)"
      R"("required":["conditions"],"type":"object"}},)"
      R"("$schema":"https://json-schema.org/draft/2020-12/schema","properties":{)"
      R"("metadata_filtering_conditions":{"anyOf":[{"$ref":"#/$defs/MetadataFilteringConditionsInput"},{"type":"null"}],"description":"元数据过滤条件"},)"
      R"("query":{"description":"查询关键词或问题","type":"string"},)"
      R"("repo":{"description":"仓库路径","type":"string"},)"
      R"("score_threshold":{"description":"匹配相关性分数阈值（0-1）","format":"double","type":["number","null"]},)"
      R"("top_k":{"description":"返回结果最大数量","format":"int64","type":["integer","null"]}},)"
      R"("required":["repo","query"],"title":"QueryKnowledgeBaseInput","type":"object"})");
}

}  // namespace
