#include "tests/e2e/package_fixture.h"

#include <fstream>
#include <sstream>

#include "archive/package_block.h"
#include "tests/e2e/driver_support.h"

namespace e2e {
namespace {

constexpr char kBorlandKey[] = "SOFTWARE\\Borland";
constexpr char kDelphiKey[] = "SOFTWARE\\Borland\\Delphi";

void SetModified(const std::string& path, const SYSTEMTIME& local) {
  FILETIME local_time{};
  FILETIME utc{};
  SystemTimeToFileTime(&local, &local_time);
  LocalFileTimeToFileTime(&local_time, &utc);
  host::win32::UniqueHandle file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.valid()) SetFileTime(file.get(), nullptr, nullptr, &utc);
}

}  // namespace

TreeItem Folder(const std::string& path) {
  TreeItem item;
  item.path = path;
  item.folder = true;
  return item;
}

TreeItem File(const std::string& path, const std::string& contents, const SYSTEMTIME& modified,
              bool read_only) {
  TreeItem item;
  item.path = path;
  item.contents = contents;
  item.modified = modified;
  item.read_only = read_only;
  return item;
}

void WriteTree(const std::string& root, const std::vector<TreeItem>& items) {
  CreateDirectoryA(root.c_str(), nullptr);
  for (const TreeItem& item : items) {
    const std::string path = root + "\\" + item.path;
    if (item.folder) {
      CreateDirectoryA(path.c_str(), nullptr);
      continue;
    }
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << item.contents;
    }
    SetModified(path, item.modified);
    if (item.read_only) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }
}

std::string ManifestLine(char key, const std::string& value) {
  return std::string(1, key) + std::string(14, ' ') + value + "\r\n";
}

std::string PatternBytes(size_t size, uint8_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = 0x9E3779B9u ^ seed;
  for (char& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

SYSTEMTIME LocalTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME time{};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  return time;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> FolderContents(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  host::win32::UniqueFind find(FindFirstFileA((folder + "\\*").c_str(), &found));
  if (!find.valid()) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find.get(), &found));
  return names;
}

std::string RunPackTool(const std::string& arguments) {
  std::string output;
  const int code = RunProgram(Quote(Paths().pack_tool) + " " + arguments, output);
  if (code == 0) return {};
  std::ostringstream failure;
  failure << "setup-pack " << arguments << " exited with " << code << ":\n" << output;
  return failure.str();
}

bool PatchCaptionLength(const std::string& installer, uint8_t length) {
  std::string image = ReadFileBytes(installer);
  const std::string marker(reinterpret_cast<const char*>(archive::kPackageMarker),
                           archive::kMarkerFieldSize);
  const size_t at = image.find(marker);
  if (at == std::string::npos || image.find(marker, at + 1) != std::string::npos) return false;
  image[at + offsetof(archive::PackageBlock, caption)] = static_cast<char>(length);
  std::ofstream out(installer, std::ios::binary | std::ios::trunc);
  out << image;
  return static_cast<bool>(out);
}

DelphiRegistration::DelphiRegistration(const std::string& version, const std::string& root_dir)
    : version_(version) {
  const std::string key_name = std::string(kDelphiKey) + "\\" + version;
  HKEY raw = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_name.c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return;
  }
  host::win32::UniqueKey key(raw);
  ok_ = RegSetValueExA(key.get(), "RootDir", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(root_dir.c_str()),
                       static_cast<DWORD>(root_dir.size() + 1)) == ERROR_SUCCESS;
}

DelphiRegistration::~DelphiRegistration() {
  const std::string key_name = std::string(kDelphiKey) + "\\" + version_;
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key_name.c_str(), KEY_WOW64_32KEY, 0);
  // Deleting a key that still has subkeys fails, so keys others use stay.
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kDelphiKey, KEY_WOW64_32KEY, 0);
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kBorlandKey, KEY_WOW64_32KEY, 0);
}

}  // namespace e2e
