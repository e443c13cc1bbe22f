#include "tools/tool.hpp"

namespace qel::tools {

std::vector<Tool> knowledge_tools() { return {}; }

}  // namespace qel::tools
