#pragma once
// A tool is one input record, one function and one table row:
//
//   ToolOutcome get_issue(const ApiClient& api, const GetIssueInput& in) {
//     return render(api::get_issue(api, in.repo, in.number));
//   }
//   tool("qel_get_issue", "获取指定 Issue 的详细信息", get_issue),
//
// The row decodes the call's arguments into the input record (a failure
// becomes the protocol's parameter error) and publishes the record's schema.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "api/client.hpp"
#include "json/record.hpp"

namespace qel::tools {

using api::ApiClient;

struct ToolOutcome {
  std::string text;
  bool is_error = false;
};

// Success renders the decoded answer as compact JSON; failure its error text.
template <class T>
ToolOutcome render(const api::ApiResult<T>& result) {
  if (!result) return {result.error().display(), true};
  return {json::encode(*result), false};
}

// Success is a fixed confirmation; the answer itself is not shown.
template <class T>
ToolOutcome confirm(const api::ApiResult<T>& result, std::string_view text) {
  if (!result) return {result.error().display(), true};
  return {std::string(text), false};
}

inline ToolOutcome failure(std::string text) { return {std::move(text), true}; }

// The compact JSON text of an input record's schema, built once per record
// type and shared by all requests (guarded by a read-write lock).
const std::string& cached_schema(std::type_index type, json::Value (*build)());

struct Tool {
  std::string_view name;
  std::string_view description;
  std::function<const std::string&()> schema;
  // Runs the tool, or returns the argument decoder's message when the
  // arguments do not fit the input record (nothing is sent then).
  std::function<std::optional<ToolOutcome>(const ApiClient&, const json::Value&, std::string&)> call;
};

template <json::Record In>
Tool tool(std::string_view name, std::string_view description, ToolOutcome (*body)(const ApiClient&, const In&)) {
  Tool t;
  t.name = name;
  t.description = description;
  t.schema = []() -> const std::string& { return cached_schema(typeid(In), &json::input_schema<In>); };
  t.call = [body](const ApiClient& api, const json::Value& args,
                  std::string& param_error) -> std::optional<ToolOutcome> {
    auto input = json::decode<In>(args);
    if (!input) {
      param_error = input.error().text();
      return std::nullopt;
    }
    return body(api, *input);
  };
  return t;
}

// The full table, in family order; tools/list sorts it by name.
const std::vector<Tool>& all_tools();

// The repository path in a git remote address (https://host/g/r.git or
// git@host:g/r.git), or nothing when the address has neither form.
std::optional<std::string> repo_path_from_remote(std::string_view remote_url);

// One function per family file returns its rows.
std::vector<Tool> issue_tools();
std::vector<Tool> pull_tools();
std::vector<Tool> repo_tools();
std::vector<Tool> group_tools();
std::vector<Tool> build_tools();
std::vector<Tool> workspace_tools();
std::vector<Tool> knowledge_tools();

}  // namespace qel::tools
