// The fault and hardening suite of Setup.exe under Wine. Its programs and files come on the
// command line:
//   fault_e2e_tests --setup=Setup.exe --pack=setup-pack.exe --child=fake_setup.exe
//                   --plant=planted.dll
#include <gtest/gtest.h>

#include "tests/e2e/driver_support.h"
#include "tests/e2e/fault_fixture.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!e2e::HasDisplay("fault_e2e_tests")) return e2e::kCannotRunExitCode;
  e2e::DriverPaths& paths = e2e::Paths();
  if (!e2e::ReadPathOptions(argc, argv, "fault_e2e_tests",
                            {{"--setup=", &paths.setup_template},
                             {"--pack=", &paths.pack_tool},
                             {"--child=", &paths.fake_setup},
                             {"--plant=", &e2e::ExtraPaths().planted_dll}})) {
    return 2;
  }
  return RUN_ALL_TESTS();
}
