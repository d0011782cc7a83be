#include "host/files.h"
#include "host/source_folder.h"
#include "host/win32.h"
#include "host/host_error.h"

namespace host {
namespace {

// The bits SetFileAttributesA restores; the others (compressed, sparse, reparse point, ...)
// describe the source disk rather than the product.
constexpr DWORD kPackedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string LastErrorText() { return win32::ErrorText(GetLastError()); }

// Seconds since 1970 of a file time (100-nanosecond steps since 1601), rounded down.
int64_t UtcSecondsOf(const FILETIME& time) {
  const int64_t steps = static_cast<int64_t>(uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime);
  return steps / 10'000'000 - 11'644'473'600;
}

SourceItem DescribeItem(const std::string& folder, const WIN32_FIND_DATAA& found) {
  const std::string path = JoinNativePath(folder, found.cFileName);
  // The ANSI find functions put '?' where the code page has no character for one of the name's.
  if (std::string(found.cFileName).find('?') != std::string::npos) {
    throw HostError("Cannot pack " + Quoted(path) + ". The name cannot be written in the ANSI code page.");
  }
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throw HostError("Cannot read " + Quoted(path) + ". " + LastErrorText());
  }
  SourceItem item;
  item.native_name = found.cFileName;
  item.modified = LocalDosDateTimeOf(UtcSecondsOf(found.ftLastWriteTime));
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      throw HostError("Cannot pack " + Quoted(path) + ". It is a link to a folder; links to folders are not followed.");
    }
    item.is_folder = true;
    item.attributes = (attributes & kPackedAttributes) | FILE_ATTRIBUTE_DIRECTORY;
  } else {
    item.size = uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow;
    item.attributes = attributes & kPackedAttributes;
  }
  return item;
}

}  // namespace

void RequireSourceFolder(const std::string& native_path) {
  const DWORD attributes = GetFileAttributesA(native_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throw HostError("Cannot read the folder " + Quoted(native_path) + ". " + LastErrorText());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    throw HostError("Cannot read the folder " + Quoted(native_path) + ". It is not a folder.");
  }
}

std::vector<SourceItem> ListSourceFolder(const std::string& native_folder) {
  WIN32_FIND_DATAA found{};
  win32::UniqueFind find(FindFirstFileA(JoinNativePath(native_folder, "*").c_str(), &found));
  if (!find.valid()) {
    throw HostError("Cannot list the folder " + Quoted(native_folder) + ". " + LastErrorText());
  }
  std::vector<SourceItem> items;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") items.push_back(DescribeItem(native_folder, found));
  } while (FindNextFileA(find.get(), &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    throw HostError("Cannot list the folder " + Quoted(native_folder) + ". " + LastErrorText());
  }
  return items;
}

std::string JoinNativePath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

}  // namespace host
