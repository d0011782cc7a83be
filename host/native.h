// The one place that names native handle types per platform. Everything else chooses its
// platform by file, in the build.
#pragma once

#include <cstdint>

namespace host {

#ifdef _WIN32
using NativeFile = void*;           // HANDLE
using NativeProcess = void*;        // HANDLE
inline const NativeFile kNoNativeFile = reinterpret_cast<void*>(static_cast<intptr_t>(-1));  // INVALID_HANDLE_VALUE
#else
using NativeFile = int;             // file descriptor
using NativeProcess = int;          // pid_t
inline constexpr NativeFile kNoNativeFile = -1;
#endif

}  // namespace host
