// The text every program shows for a failed system call: the system's own
// description followed by " (os error N)".
#pragma once

#include <string>

namespace kestrum {

std::string system_error_text(int error_number);

// system_error_text(errno), read at the call.
std::string last_system_error_text();

}  // namespace kestrum
