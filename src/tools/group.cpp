// Organization tools: list the top-level organizations and the
// sub-organizations of one, read one, create one.
#include "api/organizations.hpp"
#include "tools/tool.hpp"

namespace qel::tools {
namespace {

using json::Opt;

struct ListGroupsInput {
  Opt<std::int64_t> page, page_size;
  Opt<std::string> search, role;
};
QEL_INPUT(ListGroupsInput,
          (page, "页码"),
          (page_size, "每页条数"),
          (search, "搜索关键字"),
          (role, "最小权限：Guest / Reporter / Developer / Master / Owner"))

struct ListSubGroupsInput {
  std::string group;
  Opt<std::int64_t> page, page_size;
};
QEL_INPUT(ListSubGroupsInput, (group, "组织路径"), (page, "页码"), (page_size, "每页条数"))

struct GetGroupInput {
  std::string group;
};
QEL_INPUT(GetGroupInput, (group, "组织路径"))

struct CreateGroupInput {
  std::string path;
  Opt<std::string> description, remark, bind_domain;
};
QEL_INPUT(CreateGroupInput,
          (path, "组织路径"),
          (description, "组织描述"),
          (remark, "备注"),
          (bind_domain, "根组织绑定的域名"))

// `role` goes out as typed: the platform, not this server, knows which role
// names the filter accepts.
ToolOutcome list_groups(const ApiClient& api, const ListGroupsInput& in) {
  return render(
      api::list_groups(api, {.page = in.page, .page_size = in.page_size, .search = in.search, .role = in.role}));
}

ToolOutcome list_sub_groups(const ApiClient& api, const ListSubGroupsInput& in) {
  return render(api::list_sub_groups(api, in.group, {.page = in.page, .page_size = in.page_size}));
}

ToolOutcome get_group(const ApiClient& api, const GetGroupInput& in) { return render(api::get_group(api, in.group)); }

ToolOutcome create_group(const ApiClient& api, const CreateGroupInput& in) {
  return confirm(api::create_group(api, {.bind_domain = in.bind_domain,
                                         .description = in.description,
                                         .path = in.path,
                                         .remark = in.remark}),
                 "Organization created");
}

}  // namespace

std::vector<Tool> group_tools() {
  return {
      tool("qel_list_groups", "获取当前用户有权限的顶层组织列表", list_groups),
      tool("qel_list_sub_groups", "获取指定组织下的子组织列表", list_sub_groups),
      tool("qel_get_group", "获取指定组织的详细信息", get_group),
      tool("qel_create_group", "创建一个新组织", create_group),
  };
}

}  // namespace qel::tools
