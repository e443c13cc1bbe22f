#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "tools/tool.hpp"

namespace qel::tools {

const std::string& cached_schema(std::type_index type, json::Value (*build)()) {
  static std::shared_mutex mutex;
  static std::map<std::type_index, std::unique_ptr<const std::string>> cache;
  {
    std::shared_lock read(mutex);
    auto it = cache.find(type);
    if (it != cache.end()) return *it->second;
  }
  auto text = std::make_unique<const std::string>(json::to_text(build()));
  std::unique_lock write(mutex);
  auto [it, inserted] = cache.try_emplace(type, std::move(text));
  return *it->second;
}

const std::vector<Tool>& all_tools() {
  static const std::vector<Tool> table = [] {
    std::vector<Tool> all;
    for (auto family : {issue_tools, pull_tools, repo_tools, group_tools, build_tools, workspace_tools,
                        knowledge_tools}) {
      for (auto& t : family()) all.push_back(std::move(t));
    }
    return all;
  }();
  return table;
}

}  // namespace qel::tools
