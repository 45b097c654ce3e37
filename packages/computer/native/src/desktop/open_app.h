// Opening an application by its identifier through the desktop's open
// program. Whether the identifier may be opened is decided before this runs.
#pragma once

#include <string>

#include "base/result.h"
#include "desktop/desktop.h"

namespace kestrum::computer {

// Runs the open program with "-b" and `app`, passing on the server's
// environment and standard error, and blocks until it ends. Its standard
// input is /dev/null and its standard output the server's standard error,
// so that it can neither read requests nor write into the frames. Fails with
// "{app} is not installed" when it ends other than with status 0, and with
// "could not open {app}: {system error}" when it cannot be started or
// waited for.
Status open_app(Desktop& desktop, const std::string& app);

}  // namespace kestrum::computer
