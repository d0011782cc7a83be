// Setup.exe against DLLs planted next to it (an installer is usually started from a downloads
// folder, where anyone who got a file there could have left a DLL named like a system one; the
// program restricts the search for DLLs it loads by name to the system folder), and a built
// installer signed with Authenticode.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/installer_form_controls.h"
#include "tests/e2e/fault_fixture.h"
#include "tests/e2e/unix_command.h"

// After the door header: the lean Windows headers leave the image and tool-help APIs out.
#include <imagehlp.h>
#include <tlhelp32.h>

namespace e2e {
namespace {

SYSTEMTIME HardeningStamp() { return LocalTime(2022, 3, 4, 5, 6, 8); }

// Windows has no built-in copies of system DLLs: it loads the first file its search finds. Wine
// prefers its own built-in copy unless told otherwise; told "native first" for a name, it loads
// the first file its search finds, as Windows would. The setting is made per program (Wine reads
// a load order given in the environment too late for the DLLs an image imports), under names
// that no other test uses, and removed at the end.
class NativeFirstFor {
 public:
  NativeFirstFor(const std::string& program_name, const std::vector<std::string>& dlls)
      : key_(std::string(kAppDefaults) + "\\" + program_name) {
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (key_ + "\\DllOverrides").c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
      return;
    }
    host::win32::UniqueKey key(raw);
    static const char kOrder[] = "native,builtin";
    ok_ = true;
    for (const std::string& dll : dlls) {
      const std::string name = dll.substr(0, dll.find('.'));
      ok_ = ok_ && RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(kOrder),
                                  sizeof(kOrder)) == ERROR_SUCCESS;
    }
  }
  ~NativeFirstFor() { RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str()); }
  NativeFirstFor(const NativeFirstFor&) = delete;
  NativeFirstFor& operator=(const NativeFirstFor&) = delete;
  bool ok() const { return ok_; }

 private:
  static constexpr char kAppDefaults[] = "Software\\Wine\\AppDefaults";
  std::string key_;
  bool ok_ = false;
};

// Makes `process` call LoadLibraryA(`dll`) in a thread of its own, as code of the process that
// loads a DLL by name would. False when the thread could not be run. kernel32 lies at the same
// address in every process of a session, so the caller's LoadLibraryA is the target's too.
bool LoadLibraryInside(HANDLE process, const std::string& dll) {
  void* remote = VirtualAllocEx(process, nullptr, dll.size() + 1, MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
  if (!remote) return false;
  bool ran = false;
  SIZE_T written = 0;
  const FARPROC load = GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA");
  if (load && WriteProcessMemory(process, remote, dll.c_str(), dll.size() + 1, &written)) {
    host::win32::UniqueHandle thread(CreateRemoteThread(
        process, nullptr, 0,
        reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(load)), remote, 0,
        nullptr));
    ran = thread.valid() &&
          WaitForSingleObject(thread.get(), static_cast<DWORD>(kPatience.count())) ==
              WAIT_OBJECT_0;
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return ran;
}

// The folder of the module named `dll` in the process, or empty when none of that name is
// loaded there.
std::string LoadedFrom(DWORD process_id, const std::string& dll) {
  host::win32::UniqueHandle snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, process_id));
  if (!snapshot.valid()) return {};
  MODULEENTRY32 module{};
  module.dwSize = sizeof(module);
  for (BOOL more = Module32First(snapshot.get(), &module); more;
       more = Module32Next(snapshot.get(), &module)) {
    if (lstrcmpiA(module.szModule, dll.c_str()) != 0) continue;
    const std::string path = module.szExePath;
    return path.substr(0, path.find_last_of('\\'));
  }
  return {};
}

bool SameFolder(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

std::string SystemFolder() {
  char folder[MAX_PATH + 1] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return folder;
}

constexpr char kInstallerName[] = "Setup.planted-dlls.exe";
constexpr char kControlName[] = "planted-dlls-control.exe";

struct PlantCase {
  const char* name;
  std::string dll;
  bool system_has_it;  // then loading it by name gives the system's copy, else nothing
};

// What the image imports is checked on the image itself (tests/image); under Wine the DLLs that
// Wine's own built-in DLLs load for the program are searched next to the program whatever the
// program asks, so only loads by name that the program itself makes are tried here.
TEST_F(InstallerFaultTest, DllsLoadedByNameComeFromTheSystemFolderOnly) {
  const PlantCase cases[] = {
      {"dwmapi.dll, which the system has", "dwmapi.dll", true},
      {"wow64log.dll, which the system lacks", "wow64log.dll", false},
  };
  const Workspace workspace = NewWorkspace();
  WriteTree(workspace.tree,
            {Folder("P"), File("P\\readme.txt", "Quillon\r\n", HardeningStamp()),
             File("P\\Setup.exe", ReadFileBytes(Paths().fake_setup), HardeningStamp())});
  const std::string built = Build(workspace, "--job application");
  ASSERT_FALSE(built.empty());
  // Named for this test alone; the title of its message boxes is still "Setup".
  const std::string installer = workspace.run + "\\" + kInstallerName;
  ASSERT_TRUE(MoveFileA(built.c_str(), installer.c_str()));
  std::vector<std::string> planted;
  for (const PlantCase& row : cases) {
    ASSERT_TRUE(CopyFileA(ExtraPaths().planted_dll.c_str(),
                          (workspace.run + "\\" + row.dll).c_str(), FALSE));
    planted.push_back(row.dll);
  }
  const NativeFirstFor installer_order(kInstallerName, planted);
  const NativeFirstFor control_order(kControlName, planted);
  ASSERT_TRUE(installer_order.ok() && control_order.ok());
  const auto marked = [&](const std::string& dll) {
    return FileExists(workspace.run + "\\" + dll + ".loaded");
  };

  {
    const ChildSignals child(workspace.root, false);
    InstallerRun run(installer, workspace.Environment(child));
    ASSERT_TRUE(run.started());
    ASSERT_NE(ReadyForm(run), nullptr);
    for (const PlantCase& row : cases) {
      SCOPED_TRACE(row.name);
      ASSERT_TRUE(LoadLibraryInside(run.process(), row.dll));
      const std::string folder = LoadedFrom(GetProcessId(run.process()), row.dll);
      if (row.system_has_it) {
        EXPECT_TRUE(SameFolder(folder, SystemFolder())) << "loaded from " << folder;
      } else {
        EXPECT_EQ(folder, "") << "nothing of that name should have been found";
      }
      EXPECT_FALSE(marked(row.dll)) << "the installer loaded the " << row.dll
                                    << " planted next to it";
    }
    // The installer goes on as ever: the job, its report and the setup it starts.
    ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
    ASSERT_NO_FATAL_FAILURE(ExpectMessage(
        run, kUnpackedTo + workspace.tmp + "\\Quillon\r\rQuillon setup will start now"));
    EXPECT_TRUE(child.WaitStarted());
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
  }

  // The same plants are taken by a program started from that folder that leaves the search as
  // it is: they would be loaded if the installer's search reached them.
  const std::string control = workspace.run + "\\" + kControlName;
  ASSERT_TRUE(CopyFileA(Paths().fake_setup.c_str(), control.c_str(), FALSE));
  const ChildSignals gate(workspace.root, true);
  InstallerRun unrestricted(control, workspace.Environment(gate));
  ASSERT_TRUE(unrestricted.started());
  ASSERT_TRUE(gate.WaitStarted());
  for (const PlantCase& row : cases) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(LoadLibraryInside(unrestricted.process(), row.dll));
    EXPECT_TRUE(SameFolder(LoadedFrom(GetProcessId(unrestricted.process()), row.dll),
                           workspace.run));
    EXPECT_TRUE(marked(row.dll)) << "the plant is not taken even without a restricted search";
  }
  gate.OpenGate();
  EXPECT_EQ(unrestricted.WaitForExit(), std::optional<DWORD>(0));
}

// ---------------------------------------------------------------------------------------------
// A built installer signed with Authenticode.

// What the platform's image helper reads of a PE file: its checksum, stored and computed, and
// the size of its certificate table.
struct ImageFacts {
  bool read = false;
  DWORD stored_checksum = 0;
  DWORD computed_checksum = 0;
  size_t checksum_offset = 0;
  DWORD signature_size = 0;
};

ImageFacts ReadImageFacts(const std::string& path) {
  ImageFacts facts;
  host::win32::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return facts;
  LARGE_INTEGER size{};
  GetFileSizeEx(file.get(), &size);
  host::win32::UniqueHandle mapping(
      CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.valid()) return facts;
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (!view) return facts;
  const IMAGE_NT_HEADERS* headers = CheckSumMappedFile(
      view, static_cast<DWORD>(size.QuadPart), &facts.stored_checksum, &facts.computed_checksum);
  if (headers) {
    facts.read = true;
    facts.signature_size =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size;
    facts.checksum_offset = static_cast<size_t>(
        reinterpret_cast<const uint8_t*>(&headers->OptionalHeader.CheckSum) -
        static_cast<const uint8_t*>(view));
  }
  UnmapViewOfFile(view);
  return facts;
}

// The lines of a program's output, without their line ends.
std::vector<std::string> OutputLines(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

TEST_F(InstallerFaultTest, SignedInstallerInstallsAndShowsItsSignature) {
  const Workspace workspace = NewWorkspace();
  const std::string product = "Signed Product";
  WriteTree(workspace.tree,
            {File("id.txt", ManifestLine('D', product), HardeningStamp()), Folder("C"),
             File("C\\readme.txt", "signed components\r\n", HardeningStamp()), Folder("C\\units"),
             File("C\\units\\core.dcu", PatternBytes(40'000, 3), HardeningStamp())});
  const std::string built = Build(workspace, "--job library --caption Signed");
  ASSERT_FALSE(built.empty());
  const ImageFacts unsigned_facts = ReadImageFacts(built);
  ASSERT_TRUE(unsigned_facts.read);
  EXPECT_EQ(unsigned_facts.signature_size, 0u);

  // A throw-away certificate and the signature, made on the host side.
  // Named so that its message boxes are titled "Setup".
  const std::string signed_installer = workspace.run + "\\Setup.signed.exe";
  const std::string folder = UnixPath(workspace.root);
  ASSERT_FALSE(folder.empty());
  const std::optional<int> signing = RunUnixShell(
      "command -v openssl >/dev/null && command -v osslsigncode >/dev/null || exit 127\n"
      "cd " + ShellQuote(folder) + " &&\n"
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Setup test signer' "
      "-keyout key.pem -out cert.pem 2>/dev/null &&\n"
      "osslsigncode sign -certs cert.pem -key key.pem -n Setup -in " +
      ShellQuote(UnixPath(built)) + " -out " + ShellQuote(UnixPath(signed_installer)) +
      " >/dev/null");
  if (signing == 127) GTEST_SKIP() << "openssl or osslsigncode is not installed";
  ASSERT_EQ(signing, std::optional<int>(0));
  const ImageFacts signed_facts = ReadImageFacts(signed_installer);
  ASSERT_TRUE(signed_facts.read);
  ASSERT_GT(signed_facts.signature_size, 0u);

  struct VerifyCase {
    const char* name;
    std::string image;
    std::string line;
  };
  const VerifyCase verify_cases[] = {
      {"built", built, "Authenticode signature: absent"},
      {"built, then signed", signed_installer,
       "Authenticode signature: present (" + std::to_string(signed_facts.signature_size) +
           " bytes)"},
  };
  for (const VerifyCase& row : verify_cases) {
    SCOPED_TRACE(row.name);
    std::string output;
    // The package has no environment in its manifest, which verify reports (status 1).
    const int status = RunProgram(Quote(Paths().pack_tool) + " verify " + Quote(row.image), output);
    EXPECT_TRUE(status == 0 || status == 1) << output;
    const std::vector<std::string> lines = OutputLines(output);
    EXPECT_NE(std::find(lines.begin(), lines.end(), row.line), lines.end()) << output;
  }

  // The signed installer installs as the unsigned one does.
  const std::string target = workspace.tmp + "\\" + product;
  {
    InstallerRun run(signed_installer, workspace.Environment());
    ASSERT_TRUE(run.started());
    ASSERT_NE(ReadyForm(run), nullptr);
    ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
    ASSERT_NO_FATAL_FAILURE(ExpectMessage(run, kUnpackedTo + target));
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
    ExpectSameFiles(workspace.tree + "\\C", target);
  }

  // A signed installer program is no template: embedding would break its signature. Told to
  // leave the signature out, the tool builds what it builds from the unsigned program.
  const std::string refused = workspace.run + "\\refused.exe";
  std::string output;
  EXPECT_EQ(RunProgram(Quote(Paths().pack_tool) + " build --job library --caption Signed " +
                           Quote(signed_installer) + " " + Quote(workspace.tree) + " " +
                           Quote(refused),
                       output),
            2);
  EXPECT_NE(output.find("--drop-signature"), std::string::npos) << output;
  EXPECT_FALSE(FileExists(refused));
  const std::string dropped = workspace.run + "\\dropped.exe";
  EXPECT_EQ(RunProgram(Quote(Paths().pack_tool) +
                           " build --drop-signature --job library --caption Signed " +
                           Quote(signed_installer) + " " + Quote(workspace.tree) + " " +
                           Quote(dropped),
                       output),
            0)
      << output;
  // The dropped image is the built one, with the checksum of what it was before it was signed,
  // as the platform computes it; the built one keeps the template's.
  const ImageFacts dropped_facts = ReadImageFacts(dropped);
  ASSERT_TRUE(dropped_facts.read);
  EXPECT_EQ(dropped_facts.signature_size, 0u);
  EXPECT_EQ(dropped_facts.stored_checksum, dropped_facts.computed_checksum);
  std::string dropped_bytes = ReadFileBytes(dropped);
  std::string built_bytes = ReadFileBytes(built);
  ASSERT_EQ(dropped_bytes.size(), built_bytes.size());
  dropped_bytes.replace(dropped_facts.checksum_offset, 4, 4, '\0');
  built_bytes.replace(dropped_facts.checksum_offset, 4, 4, '\0');
  EXPECT_TRUE(dropped_bytes == built_bytes) << "the signature left traces in the image";
}

}  // namespace
}  // namespace e2e
