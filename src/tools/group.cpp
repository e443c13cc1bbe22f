#include "tools/tool.hpp"

namespace qel::tools {

std::vector<Tool> group_tools() { return {}; }

}  // namespace qel::tools
