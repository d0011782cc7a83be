// The example product's own "Setup.exe": what a vendor ships inside a package. The installer
// starts it in the folder the files went to; it records that it ran (Setup.log beside itself)
// and ends, without a window, so the demo never waits on it.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

int main() {
  namespace fs = std::filesystem;
  const fs::path folder = fs::current_path();

  std::string product = "Vexilor Components";
  std::ifstream ini(folder / "Setup.ini");
  for (std::string line; std::getline(ini, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Product=", 0) == 0) product = line.substr(8);
  }

  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));

  std::ofstream log(folder / "Setup.log", std::ios::app);
  log << stamp << "  " << product << " registered in " << folder.string() << "\r\n";
  return log ? 0 : 1;
}
