#include "tools/tool.hpp"

namespace qel::tools {

std::vector<Tool> workspace_tools() { return {}; }

}  // namespace qel::tools
