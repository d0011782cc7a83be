// Shared pieces of the fuzz targets: a scratch folder for extraction and the rule that keeps a
// fuzzed name inside it.
#pragma once

#include <string>

namespace fuzzing {

// A folder of this process, emptied before each use.
const std::string& ScratchFolder();
void EmptyScratchFolder();

// Entry names are trusted by the installer, so the harness itself must keep a fuzzed name from
// leaving the scratch folder: no "." or ".." component, no empty component, no absolute path.
bool StaysInside(const std::string& entry_name);

}  // namespace fuzzing
