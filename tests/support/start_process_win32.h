// CreateProcessA for test programs under Wine, with the one Wine defect that no code of ours can
// avoid handled by its signature.
//
// Wine's CreateProcess waits until the new process has finished starting. Now and then, under
// load, the new process dies inside Wine's loader before that (before any code of the program
// runs), and CreateProcess fails with ERROR_INTERNAL_ERROR ("Internal error": the new process
// ended before it started, with no exit status of its own). Windows never reports this error
// for a start. Exactly that failure, and only under Wine, is answered by starting the program
// again, at most twice; each occurrence is recorded in the file that the variable
// SETUP_WINE_DEFECT_LOG names (a POSIX path, or a Windows one), which the test run prints in its summary. Any other
// failure is returned as it is.
#pragma once

#include <functional>
#include <string>

#include "host/win32.h"

namespace testing_support {

// Calls `create_process` (a CreateProcessA call) and returns its result, GetLastError intact.
// `what` names the program in the record.
BOOL CreateProcessOverWineDefect(const std::string& what,
                                 const std::function<BOOL()>& create_process);

}  // namespace testing_support
