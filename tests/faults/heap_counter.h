// Counts the bytes that the program holds through operator new, so that a test can show how much
// heap a piece of work needed at its peak. Linking heap_counter.cpp replaces the global operator
// new and delete of the whole test program; the count covers every thread.
#pragma once

#include <cstddef>

namespace fault_testing {

size_t LiveHeapBytes();
// The largest LiveHeapBytes() seen since the last ResetPeakHeapBytes() (or the start).
size_t PeakHeapBytes();
void ResetPeakHeapBytes();

}  // namespace fault_testing
