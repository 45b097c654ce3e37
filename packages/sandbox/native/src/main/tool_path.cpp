#include "main/tool_path.h"

namespace kestrum::sandbox {

std::string_view sandbox_tool_path() { return KESTRUM_SANDBOX_EXEC; }

}  // namespace kestrum::sandbox
