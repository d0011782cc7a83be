// setup-pack's list, verify and extract commands on an arbitrary file: each ends with a clean
// result or a reported error, never a crash, and extract writes nothing outside its destination.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_scratch.h"
#include "host/installer_ui.h"
#include "tools/setup-pack/cli/command_line.h"
#include "tools/setup-pack/commands/commands.h"

namespace {

// Extraction messages would flood the fuzzer's output.
class QuietUi final : public host::InstallerUi {
 public:
  void ShowUserMessage(const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  void SetBusyCursor(bool) override {}
  void EndProgram() override {}
};

void RunQuietly(const std::vector<std::string>& arguments) {
  std::ostringstream sink;
  std::streambuf* const out = std::cout.rdbuf(sink.rdbuf());
  std::streambuf* const err = std::cerr.rdbuf(sink.rdbuf());
  try {
    const setup_pack::CommandLine line = setup_pack::ParseCommandLine(arguments);
    switch (line.command) {
      case setup_pack::Command::kList: setup_pack::RunList(line); break;
      case setup_pack::Command::kVerify: setup_pack::RunVerify(line); break;
      case setup_pack::Command::kExtract: setup_pack::RunExtract(line); break;
      default: break;
    }
  } catch (const std::exception&) {
    // A reported error is a clean outcome.
  }
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QuietUi quiet_ui;
  host::InstallUi(&quiet_ui);
  fuzzing::EmptyScratchFolder();
  const std::string file = fuzzing::ScratchFolder() + "/input.bin";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::string dest = fuzzing::ScratchFolder() + "/dest";
  RunQuietly({"list", file});
  RunQuietly({"verify", file});
  RunQuietly({"extract", file, dest});
  RunQuietly({"extract", "--prefix", "C", file, dest});
  return 0;
}
