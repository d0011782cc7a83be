#include "tests/tools/pack_fixture.h"

namespace pack_testing {

// A file written by a program carries the archive bit until a backup clears it.
uint32_t PlainFileAttributes() { return 0x20; }

}  // namespace pack_testing

namespace pack_testing {

std::string NativeName(const std::string& windows_1252) { return windows_1252; }

}  // namespace pack_testing

namespace pack_testing {

bool IsPosix() { return false; }

}  // namespace pack_testing
