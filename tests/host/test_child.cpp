#include "tests/host/test_child.h"

#include <fstream>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (!host_test::WaitForGate(argv[1])) return 3;
  std::ofstream marker(host_test::kChildMarkerFile, std::ios::binary);
  marker << host_test::kChildMarkerText;
  return marker ? 0 : 4;
}
