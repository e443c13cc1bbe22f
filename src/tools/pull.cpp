#include "tools/tool.hpp"

namespace qel::tools {

std::vector<Tool> pull_tools() { return {}; }

}  // namespace qel::tools
