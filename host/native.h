// The one place that names native handle types per platform. Everything else chooses its
// platform by file, in the build.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace host {

#ifdef _WIN32
using NativeFile = void*;           // HANDLE
using NativeProcess = void*;        // HANDLE
inline const NativeFile kNoNativeFile = reinterpret_cast<void*>(static_cast<intptr_t>(-1));  // INVALID_HANDLE_VALUE
using NativeThread = void*;         // HANDLE
using NativeMutex = void*;          // SRWLOCK, one pointer
using NativeCondition = void*;      // CONDITION_VARIABLE, one pointer
#else
using NativeFile = int;             // file descriptor
using NativeProcess = int;          // pid_t
inline constexpr NativeFile kNoNativeFile = -1;
using NativeThread = pthread_t;
using NativeMutex = pthread_mutex_t;
using NativeCondition = pthread_cond_t;
#endif

}  // namespace host
