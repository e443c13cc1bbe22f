#pragma once
// A repository's knowledge base: its settings and statistics, and similarity
// queries with metadata filters.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/client.hpp"
#include "json/record.hpp"

namespace qel::api {

using json::Opt;
using json::StrMap;

struct EmbeddingModels {
  Opt<std::int64_t> dimension;
  Opt<std::string> name;
};
QEL_FIELDS(EmbeddingModels, dimension, name)

// The label filters are single comma-joined strings, not lists.
struct IssueConfig {
  Opt<std::string> exclude_labels, labels, state;
};
QEL_FIELDS(IssueConfig, exclude_labels, labels, state)

struct ProcessingConfig {
  Opt<std::int64_t> chunk_overlap, chunk_size;
  Opt<std::string> text_separator;
};
QEL_FIELDS(ProcessingConfig, chunk_overlap, chunk_size, text_separator)

struct KnowledgeBaseMetadata {
  Opt<IssueConfig> issue;
  Opt<ProcessingConfig> processing;
  Opt<std::string> version;
};
QEL_FIELDS(KnowledgeBaseMetadata, issue, processing, version)

struct DocumentStatistics {
  Opt<std::int64_t> count, size;
};
QEL_FIELDS(DocumentStatistics, count, size)

struct KnowledgeBaseInfoRes {
  Opt<EmbeddingModels> embedding_model;
  Opt<std::string> exclude, id, include, issue_last_sync_time;
  Opt<bool> issue_sync_enabled;
  Opt<std::string> last_commit_sha;
  Opt<KnowledgeBaseMetadata> metadata;
  Opt<DocumentStatistics> statistics;
};
QEL_FIELDS(KnowledgeBaseInfoRes, embedding_model, exclude, id, include, issue_last_sync_time, issue_sync_enabled,
           last_commit_sha, metadata, statistics)

// One hit of a query. The metadata members are free-form and kept as sent.
struct QueryKnowledgeBaseRes {
  Opt<std::string> chunk;
  Opt<StrMap<json::AnyJson>> metadata;
  Opt<double> score;
};
QEL_FIELDS(QueryKnowledgeBaseRes, chunk, metadata, score)

struct MetadataCondition {
  Opt<std::string> comparison_operator, name, value;
};
QEL_FIELDS(MetadataCondition, comparison_operator, name, value)

struct MetadataFilteringConditions {
  Opt<std::vector<MetadataCondition>> conditions;
  Opt<std::string> logical_operator;
};
QEL_FIELDS(MetadataFilteringConditions, conditions, logical_operator)

struct QueryKnowledgeBaseRequest {
  Opt<MetadataFilteringConditions> metadata_filtering_conditions;
  Opt<std::string> query;
  Opt<double> score_threshold;
  Opt<std::int64_t> top_k;
};
QEL_FIELDS(QueryKnowledgeBaseRequest, metadata_filtering_conditions, query, score_threshold, top_k)

ApiResult<KnowledgeBaseInfoRes> get_knowledge_base_info(const ApiClient& api, std::string_view repo);
ApiResult<std::vector<QueryKnowledgeBaseRes>> query_knowledge_base(const ApiClient& api, std::string_view repo,
                                                                   const QueryKnowledgeBaseRequest& body);

}  // namespace qel::api
