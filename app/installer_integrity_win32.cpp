#include "app/installer_integrity_win32.h"

#include "host/win32.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "app/application_title.h"
#include "app/installer_form_win32.h"
#include "app/package_data.h"
#include "archive/package_check.h"
#include "archive/settings_record.h"

namespace app {
namespace {

// Where the program file must end: after the last section's data, or after the certificate
// table of a signed image, as the headers that the loader mapped say.
uint64_t ExpectedFileSize() {
  const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  uint64_t end = 0;
  for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index, ++section) {
    if (section->SizeOfRawData == 0) continue;
    end = std::max<uint64_t>(end, uint64_t{section->PointerToRawData} + section->SizeOfRawData);
  }
  const IMAGE_DATA_DIRECTORY& certificates =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
  if (certificates.Size != 0) {
    end = std::max<uint64_t>(end, uint64_t{certificates.VirtualAddress} + certificates.Size);
  }
  return end;
}

// Windows refuses to load an image whose file ends before its sections' data; Wine maps it and
// fills in zeros. Measuring the file makes both refuse it. When the file cannot be opened or
// measured, nothing is concluded from it (the archive check still runs).
bool FileIsWhole() {
  const std::string path = ProgramPath();
  const host::win32::UniqueHandle file(
      CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return true;
  return static_cast<uint64_t>(size.QuadPart) >= ExpectedFileSize();
}

bool PackageMatchesItsCheck() {
  const archive::ArchiveCheck check = archive::StoredArchiveCheck(InstallerSettings.marker);
  return archive::AreaMatchesCheck(InstallerPackage.archive,
                                   static_cast<size_t>(archive::kArchiveCapacity), check);
}

}  // namespace

bool InstallerIsIntact() { return FileIsWhole() && PackageMatchesItsCheck(); }

void ReportDamagedInstaller() {
  MessageBoxA(nullptr,
              "This installer is damaged (for example by an incomplete download) and cannot run. "
              "Please obtain it again.",
              ApplicationTitle(ProgramPath()).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace app
