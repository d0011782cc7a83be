// The fault and hardening suite of Setup.exe under Wine. Its programs and files come on the
// command line:
//   fault_e2e_tests --setup=Setup.exe --pack=setup-pack.exe --child=fake_setup.exe
//                   --plant=planted.dll
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "tests/e2e/driver_support.h"
#include "tests/e2e/fault_fixture.h"

namespace {

bool ParseArguments(int argc, char** argv) {
  e2e::DriverPaths& paths = e2e::Paths();
  const std::pair<const char*, std::string*> options[] = {
      {"--setup=", &paths.setup_template},
      {"--pack=", &paths.pack_tool},
      {"--child=", &paths.fake_setup},
      {"--plant=", &e2e::ExtraPaths().planted_dll}};
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    for (const auto& [prefix, value] : options) {
      if (argument.rfind(prefix, 0) == 0) {
        *value = e2e::WindowsPath(argument.substr(std::strlen(prefix)));
      }
    }
  }
  for (const auto& [prefix, value] : options) {
    if (value->empty()) {
      std::fprintf(stderr, "fault_e2e_tests: missing %s\n", prefix);
      return false;
    }
  }
  return true;
}

}  // namespace

// Exit status 77 tells CTest that the suite was skipped.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  char display[256] = {};
  if (GetEnvironmentVariableA("DISPLAY", display, sizeof(display)) == 0) {
    std::printf("fault_e2e_tests: skipped: DISPLAY is not set; the suite needs an X display (for "
                "example Xvfb, as scripts/test.sh starts)\n");
    return 77;
  }
  if (!ParseArguments(argc, argv)) return 2;
  return RUN_ALL_TESTS();
}
