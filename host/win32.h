// The one door to <windows.h>: every Win32 source includes this header, never <windows.h>
// directly, so that the target version and the trimming macros are the same everywhere.
#pragma once

#ifndef _WIN32
#error "host/win32.h is for the Windows build only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7
#endif

#include <windows.h>

#include <string>

namespace host::win32 {

// The text of a Win32 error code, without the trailing line break.
std::string ErrorText(unsigned long error_code);

// True when the program runs under Wine (its ntdll exports wine_get_version). Only for working
// around a defect of Wine's that Windows does not have; Windows never takes that path.
bool RunningUnderWine();

// Closes a HANDLE when it goes out of scope.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Closes a find handle (FindFirstFileA) when it goes out of scope.
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE handle) : handle_(handle) {}
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  ~UniqueFind() {
    if (valid()) FindClose(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Closes a registry key when it goes out of scope.
class UniqueKey {
 public:
  explicit UniqueKey(HKEY key = nullptr) : key_(key) {}
  UniqueKey(UniqueKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  UniqueKey& operator=(UniqueKey&& other) noexcept {
    if (this != &other) {
      if (key_) RegCloseKey(key_);
      key_ = other.key_;
      other.key_ = nullptr;
    }
    return *this;
  }
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  ~UniqueKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_;
};

}  // namespace host::win32
