#include "tests/support/built_programs.h"

namespace testing_support {

const char* SetupTestChildProgram() { return SETUP_TEST_PROGRAM_PATH; }

}  // namespace testing_support
