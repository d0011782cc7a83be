// What the platform-layer tests need of the system beside the layer under test: reading back what
// a file really carries, making links, steering the temporary folder and the time zone, and a gate
// that holds a child process until the test releases it. One implementation per platform.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/files.h"

namespace host_test {

// True in the Windows builds.
bool IsWindows();

// The folder holding the running test program, without a trailing separator.
std::string OwnProgramFolder();

// ---- Files ----

// The file's last-write time in whole seconds since 1970-01-01 UTC.
std::optional<int64_t> LastWriteUtcSeconds(const std::string& path);

// The three times a file carries, in the platform's finest unit. `creation` is none where the
// platform keeps no creation time (POSIX, and Wine, which makes one up from the Unix times).
struct FileTimes {
  std::optional<int64_t> creation;
  int64_t access = 0;
  int64_t write = 0;
};
std::optional<FileTimes> TimesOf(const std::string& path);

// True when the item is write-protected on disk: the read-only attribute on Windows, no write
// permission bit at all on POSIX.
bool IsWriteProtected(const std::string& path);
// True when write protection stops this process from opening a protected file for writing.
// False on POSIX for root, whose open() ignores permissions. `folder` is a scratch folder.
bool WriteProtectionBinds(const std::string& folder);

// Makes `link` a link to the folder `target`: a symbolic link on POSIX; on Windows a directory
// symbolic link, else a junction. False with the reason when the platform cannot make one.
bool MakeFolderLink(const std::string& link, const std::string& target, std::string& why_not);

// ---- Environment ----

// Makes `folder` the current folder for the object's lifetime.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder) : saved_(host::GetCurrentFolder()) {
    host::SetCurrentFolder(folder);
  }
  ~ScopedCurrentFolder() {
    try {
      host::SetCurrentFolder(saved_);
    } catch (const std::exception&) {
      // The folder the test started in is gone; nothing better to return to.
    }
  }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::string saved_;
};

// Sets the process's time zone (a POSIX TZ value) for the object's lifetime. supported() is false
// on Windows, where the zone is a system setting and not the process's own.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;
  bool supported() const { return supported_; }

 private:
  bool supported_ = false;
  std::optional<std::string> saved_;
};

// ---- Processes ----

// Something a child process blocks on until the test opens it: an inherited pipe whose write end
// the test closes (POSIX), or a named event the test sets (Windows). parameter() is what the test
// child needs on its command line to find it.
class ChildGate {
 public:
  ChildGate();
  ~ChildGate();
  ChildGate(const ChildGate&) = delete;
  ChildGate& operator=(const ChildGate&) = delete;

  const std::string& parameter() const { return parameter_; }
  void Open();

 private:
  std::string parameter_;
  intptr_t read_end_ = -1;
  intptr_t write_end_ = -1;
};

// While it lives, message boxes that the shell opens on this thread are recorded and closed at
// once (Windows); nothing is ever shown on POSIX.
class ShellMessageCatcher {
 public:
  ShellMessageCatcher();
  ~ShellMessageCatcher();
  ShellMessageCatcher(const ShellMessageCatcher&) = delete;
  ShellMessageCatcher& operator=(const ShellMessageCatcher&) = delete;

  // The texts of the boxes closed so far.
  const std::vector<std::string>& texts() const { return texts_; }
  void Record(std::string text) { texts_.push_back(std::move(text)); }

 private:
  void* hook_ = nullptr;
  std::vector<std::string> texts_;
};

}  // namespace host_test
