#include "host/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "host/files.h"
#include "host/host_error.h"

namespace host {
namespace {

const char* cut_short_message = nullptr;
int cut_short_status = 1;

// Only async-signal-safe calls here.
void ReportCutShort(int /*signal*/) {
  if (cut_short_message != nullptr) {
    ssize_t ignored = ::write(STDERR_FILENO, cut_short_message, std::strlen(cut_short_message));
    (void)ignored;
  }
  _exit(cut_short_status);
}

HostError ErrorFor(const std::string& path, int error) {
  return HostError("Cannot read file \"" + NativePath(path) + "\". " + std::strerror(error));
}

}  // namespace

MappedFile MappedFile::Open(const std::string& path, uint64_t max_size) {
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ErrorFor(path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    throw ErrorFor(path, error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    throw ErrorFor(path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  }
  const auto size = static_cast<size_t>(info.st_size);
  if (size == 0 || size > max_size) {
    ::close(fd);
    return MappedFile(nullptr, 0, size);
  }
  // Every page is wanted, in order: mapped at once from the page cache, read ahead if not there.
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  const int error = errno;
  ::close(fd);  // the mapping keeps the file
  if (mapping == MAP_FAILED) throw ErrorFor(path, error);
  return MappedFile(static_cast<const uint8_t*>(mapping), size, size);
}

void MappedFile::Release() {
  if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

void MappedFile::OnCutShort(const char* message, int exit_status) {
  cut_short_message = message;
  cut_short_status = exit_status;
  struct sigaction action {};
  action.sa_handler = ReportCutShort;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace host
