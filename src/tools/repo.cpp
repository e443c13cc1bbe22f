// Repository tools: list the caller's and an organization's repositories,
// read one, find the current one from a git remote address, create one.
#include "api/repositories.hpp"
#include "json/lenient.hpp"
#include "tools/tool.hpp"

namespace qel::tools {
namespace {

using json::DefaultedBool;
using json::Opt;

struct ListRepositoriesInput {
  Opt<std::int64_t> page, page_size;
  Opt<std::string> search, filter_type, role, order_by;
  DefaultedBool desc;
};
QEL_INPUT(ListRepositoriesInput,
          (page, "页码"),
          (page_size, "每页条数"),
          (search, "搜索关键字"),
          (filter_type, "仓库类型：private / public / secret"),
          (role, "最小权限：Reporter / Developer / Master / Owner"),
          (order_by, "排序：`created_at` / `last_updated_at` / stars"),
          (desc, "是否倒序"))

struct ListGroupRepositoriesInput {
  std::string group;
  Opt<std::int64_t> page, page_size;
  Opt<std::string> search, filter_type, descendant, order_by;
  DefaultedBool desc;
};
QEL_INPUT(ListGroupRepositoriesInput,
          (group, "组织路径"),
          (page, "页码"),
          (page_size, "每页条数"),
          (search, "搜索关键字"),
          (filter_type, "仓库类型：private / public / secret"),
          (descendant, "查询范围：all / sub / grand"),
          (order_by, "排序"),
          (desc, "是否倒序"))

struct GetCurrentRepositoryInput {
  std::string remote_url;
};
QEL_INPUT(GetCurrentRepositoryInput, (remote_url, "远程仓库 URL，需要先执行 `git remote get-url origin` 获取"))

struct GetRepositoryInput {
  std::string repo;
};
QEL_INPUT(GetRepositoryInput, (repo, "仓库路径"))

struct CreateRepositoryInput {
  std::string name;
  Opt<std::string> group, description, visibility;
};
QEL_INPUT(CreateRepositoryInput,
          (name, "仓库名称"),
          (group, "所属组织路径（不填则创建在个人空间）"),
          (description, "仓库描述"),
          (visibility, "可见性：public / private / secret"))

ToolOutcome list_repositories(const ApiClient& api, const ListRepositoriesInput& in) {
  return render(api::list_user_repos(api, {.page = in.page,
                                           .page_size = in.page_size,
                                           .search = in.search,
                                           .filter_type = in.filter_type,
                                           .role = in.role,
                                           .order_by = in.order_by,
                                           .desc = in.desc.value}));
}

ToolOutcome list_group_repositories(const ApiClient& api, const ListGroupRepositoriesInput& in) {
  return render(api::list_group_repos(api, in.group,
                                      {.page = in.page,
                                       .page_size = in.page_size,
                                       .filter_type = in.filter_type,
                                       .order_by = in.order_by,
                                       .desc = in.desc.value,
                                       .descendant = in.descendant,
                                       .search = in.search}));
}

ToolOutcome get_repository(const ApiClient& api, const GetRepositoryInput& in) {
  return render(api::get_repo(api, in.repo));
}

ToolOutcome get_current_repository(const ApiClient& api, const GetCurrentRepositoryInput& in) {
  auto repo = repo_path_from_remote(in.remote_url);
  if (!repo) return failure("无法从 URL 解析仓库路径：" + in.remote_url);
  return render(api::get_repo(api, *repo));
}

ToolOutcome create_repository(const ApiClient& api, const CreateRepositoryInput& in) {
  // Without a group the path keeps an empty group segment ("//-/repos"); the
  // platform decides what that means for the caller's personal space.
  return confirm(api::create_repo(api, in.group.value_or(""),
                                  {.description = in.description, .name = in.name, .visibility = in.visibility}),
                 "Repository created");
}

}  // namespace

std::optional<std::string> repo_path_from_remote(std::string_view remote_url) {
  std::string_view text = json::trim_unicode(remote_url);
  char separator = 0;
  if (text.starts_with("https://")) {
    text.remove_prefix(8);
    separator = '/';
  } else if (text.starts_with("git@")) {
    text.remove_prefix(4);
    separator = ':';
  } else {
    return std::nullopt;
  }
  auto at = text.find(separator);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view path = text.substr(at + 1);
  if (path.ends_with(".git")) path.remove_suffix(4);
  if (path.empty()) return std::nullopt;
  return std::string(path);
}

std::vector<Tool> repo_tools() {
  return {
      tool("qel_list_repositories", "获取当前用户有权限的仓库列表", list_repositories),
      tool("qel_list_group_repositories", "获取指定组织下的仓库列表", list_group_repositories),
      tool("qel_get_current_repository", "根据 git remote URL 获取当前仓库信息", get_current_repository),
      tool("qel_get_repository", "获取指定仓库的详细信息", get_repository),
      tool("qel_create_repository", "创建一个新仓库", create_repository),
  };
}

}  // namespace qel::tools
