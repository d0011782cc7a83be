// End-to-end tests of Setup.exe: installers packed with setup-pack from trees made here are
// started under Wine in an X display and worked from outside, as a user would work them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/installer_form_controls.h"
#include "archive/archive_writer.h"
#include "archive/entry_header.h"
#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "tests/e2e/driver_support.h"
#include "tests/e2e/package_fixture.h"
#include "tests/support/temp_folder.h"

namespace e2e {
namespace {

constexpr char kWaitingStatus[] = "Waiting for Setup to finish...";
constexpr char kUnpackedTo[] = "All files are unpacked to:\r";
constexpr char kFailureReport[] = "Error while unpacking files!";
constexpr char kProductFolder[] = "Vexilor Test";
constexpr DWORD kPackedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

std::vector<TreeItem> LibraryTree() {
  return {
      File("id.txt", ManifestLine('S', "D6") + ManifestLine('D', kProductFolder),
       LocalTime(2018, 1, 2, 3, 4, 6)),
      Folder("C"),
      Folder("C\\lib"),
      // Larger than two data chunks, so chunk boundaries are crossed.
      File("C\\lib\\core.dcu", PatternBytes(70'001, 1), LocalTime(2019, 3, 4, 5, 6, 8)),
      File("C\\readme.txt", "Vexilor components\r\n", LocalTime(2020, 11, 22, 13, 14, 16),
       true),
      Folder("S"),
      Folder("S\\docs"),
      File("S\\docs\\guide.txt", "Start the IDE.\r\n", LocalTime(2021, 7, 8, 9, 10, 12)),
      File("S\\Setup.exe", ReadFileBytes(Paths().fake_setup), LocalTime(2022, 1, 2, 3, 4, 6)),
  };
}

std::vector<TreeItem> ApplicationTree() {
  return {
      Folder("P"),
      Folder("P\\data"),
      File("P\\data\\payload.bin", PatternBytes(40'000, 2), LocalTime(2017, 5, 6, 7, 8, 10)),
      File("P\\readme.txt", "Quillon\r\n", LocalTime(2023, 2, 3, 4, 5, 6)),
      File("P\\Setup.exe", ReadFileBytes(Paths().fake_setup), LocalTime(2022, 1, 2, 3, 4, 6)),
  };
}

// Every file and folder below `source` is at the same place below `target`, with the same bytes,
// last-write time and stored attribute bits.
void ExpectSameTree(const std::string& source, const std::string& target) {
  for (const std::string& name : FolderContents(source)) {
    SCOPED_TRACE(source + "\\" + name);
    const std::string from = source + "\\" + name;
    const std::string to = target + "\\" + name;
    if (FolderExists(from)) {
      ASSERT_TRUE(FolderExists(to));
      ExpectSameTree(from, to);
      continue;
    }
    ASSERT_TRUE(FileExists(to));
    EXPECT_EQ(ReadFileBytes(to), ReadFileBytes(from));
    WIN32_FILE_ATTRIBUTE_DATA want{};
    WIN32_FILE_ATTRIBUTE_DATA got{};
    ASSERT_TRUE(GetFileAttributesExA(from.c_str(), GetFileExInfoStandard, &want));
    ASSERT_TRUE(GetFileAttributesExA(to.c_str(), GetFileExInfoStandard, &got));
    EXPECT_EQ(CompareFileTime(&got.ftLastWriteTime, &want.ftLastWriteTime), 0);
    EXPECT_EQ(got.dwFileAttributes & kPackedAttributes, want.dwFileAttributes & kPackedAttributes);
  }
}

int Scaled(int pixels, int dpi) { return MulDiv(pixels, dpi, app::kLayoutDpi); }

bool Enabled(HWND window) { return window && IsWindowEnabled(window); }

// One case's folders: the package tree, the installers, the installer's temporary folder and an
// IDE's root folder.
struct Workspace {
  explicit Workspace(const std::string& root_folder)
      : root(root_folder), tree(root + "\\tree"), run(root + "\\run"), tmp(root + "\\tmp"),
        ide(root + "\\ide") {
    for (const std::string* folder : {&root, &run, &tmp, &ide}) {
      CreateDirectoryA(folder->c_str(), nullptr);
    }
  }
  // The installer's temporary folder is the workspace's own, so that parallel runs never share
  // the application job's folder.
  std::map<std::string, std::string> Environment(const ChildSignals& child) const {
    std::map<std::string, std::string> variables = child.Environment();
    variables["TMP"] = tmp;
    variables["TEMP"] = tmp;
    return variables;
  }
  std::string root, tree, run, tmp, ide;
};

class InstallerTest : public testing_support::TempFolderTest {
 protected:
  Workspace NewWorkspace() { return Workspace(temp_.Sub("case" + std::to_string(cases_++))); }

  // setup-pack build with `options` from the workspace's tree into run\<program_name>.
  std::string Build(const Workspace& workspace, const std::string& options,
                    const std::string& program_name) {
    const std::string installer = workspace.run + "\\" + program_name;
    const std::string failure =
        RunPackTool("build " + options + " " + Quote(Paths().setup_template) + " " +
                    Quote(workspace.tree) + " " + Quote(installer));
    EXPECT_EQ(failure, "");
    return failure.empty() ? installer : std::string();
  }

  // Waits until the installer's window is up with OK available.
  static HWND ReadyForm(InstallerRun& run) {
    HWND form = run.WaitForForm();
    EXPECT_NE(form, nullptr) << "no window; exit code "
                             << run.WaitForExit(std::chrono::milliseconds(0)).value_or(0xFFFFFFFF);
    if (!form) return nullptr;
    const bool ready =
        WaitFor([&] { return Enabled(run.Control(app::kOkButtonId)); }, run.process());
    EXPECT_TRUE(ready) << "OK stays unavailable; exit code "
                       << run.WaitForExit(std::chrono::milliseconds(0)).value_or(0xFFFFFFFF);
    return ready ? form : nullptr;
  }

  // Waits for the next message box, checks its title and text, and presses its OK.
  static void ExpectMessage(InstallerRun& run, const std::string& title, const std::string& text) {
    const std::optional<SeenMessageBox> box = run.WaitForMessageBox();
    ASSERT_TRUE(box.has_value()) << "no message box: " << text;
    EXPECT_EQ(box->title, title);
    EXPECT_EQ(box->text, text);
    EXPECT_FALSE(Enabled(run.form())) << "the window takes input while a box is up";
    ASSERT_TRUE(run.Click(GetDlgItem(box->handle, IDOK)));
  }

  static std::string Status(const InstallerRun& run) {
    return ControlText(run.Control(app::kStatusPanelId));
  }

 private:
  int cases_ = 0;
};

TEST(InstallerImage, CarriesEachMarkerOnceAndAnEmptyPackage) {
  const std::string image = ReadFileBytes(Paths().setup_template);
  const std::string package_marker(reinterpret_cast<const char*>(archive::kPackageMarker),
                                   archive::kMarkerFieldSize);
  const std::string settings_marker(reinterpret_cast<const char*>(archive::kSettingsMarker),
                                    archive::kSettingsMarkerSize);
  const size_t block = image.find(package_marker);
  ASSERT_NE(block, std::string::npos);
  EXPECT_EQ(image.find(package_marker, block + 1), std::string::npos);
  const size_t settings = image.find(settings_marker);
  ASSERT_NE(settings, std::string::npos);
  EXPECT_EQ(image.find(settings_marker, settings + 1), std::string::npos);

  // The file stores the block's head, not its area of zeros.
  ASSERT_GE(image.size(), block + archive::kPackageHeadSize);
  EXPECT_LT(image.size(), size_t{1} << 20);
  const auto* head = reinterpret_cast<const uint8_t*>(image.data() + block);
  EXPECT_EQ(archive::ReadLittleEndian32(head + offsetof(archive::PackageBlock, capacity)),
            static_cast<uint32_t>(archive::kArchiveCapacity));
  EXPECT_EQ(head[offsetof(archive::PackageBlock, caption)], 0);

  // Mapped as the loader maps a program, the whole block is there: the head, then the area of
  // zeros, within the image.
  const HMODULE mapped =
      LoadLibraryExA(Paths().setup_template.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(mapped, nullptr) << GetLastError();
  const auto* base =
      reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(mapped) & ~uintptr_t{3});
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const uint8_t* const image_end = base + nt->OptionalHeader.SizeOfImage;
  const uint8_t* const in_memory = std::search(base, image_end, std::begin(archive::kPackageMarker),
                                               std::end(archive::kPackageMarker));
  ASSERT_NE(in_memory, image_end);
  ASSERT_LE(in_memory + sizeof(archive::PackageBlock), image_end);
  EXPECT_TRUE(std::equal(head, head + archive::kPackageHeadSize, in_memory));
  const uint8_t* const area = in_memory + archive::kPackageHeadSize;
  EXPECT_TRUE(std::all_of(area, area + archive::kArchiveCapacity, [](uint8_t b) { return b == 0; }));
  FreeLibrary(mapped);

  const auto* record = reinterpret_cast<const uint8_t*>(image.data() + settings);
  EXPECT_EQ(archive::ReadLittleEndian32(record + offsetof(archive::SettingsRecord, job)),
            static_cast<uint32_t>(archive::JobKind::kLibraryPackage));
  EXPECT_EQ(archive::ReadLittleEndian32(record + offsetof(archive::SettingsRecord, key)),
            archive::kDefaultArchiveKey);
  // No archive, nothing to check.
  EXPECT_EQ(archive::StoredArchiveCheck(record).length, 0u);
}

// The installer checks its own package before anything else: a damaged or cut download shows
// the damage message and ends, or Windows refuses to start it; either way nothing is written.
TEST_F(InstallerTest, ADamagedOrCutInstallerInstallsNothing) {
  enum class Damage { kFlippedByte, kCutInTheArchive, kLastByteCut };
  struct Case {
    const char* name;
    Damage damage;
  };
  const Case cases[] = {
      {"a byte of the stored archive flipped", Damage::kFlippedByte},
      {"cut in the archive", Damage::kCutInTheArchive},
      {"its last byte cut off", Damage::kLastByteCut},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, ApplicationTree());
    const std::string installer = Build(workspace, "--job application", "Setup.exe");
    ASSERT_FALSE(installer.empty());
    std::string bytes = ReadFileBytes(installer);
    const size_t block = bytes.find(std::string(
        reinterpret_cast<const char*>(archive::kPackageMarker), archive::kMarkerFieldSize));
    ASSERT_NE(block, std::string::npos);
    const size_t area = block + archive::kPackageHeadSize;
    switch (row.damage) {
      case Damage::kFlippedByte:
        bytes[area + 20'000] ^= 0x10;
        break;
      case Damage::kCutInTheArchive:
        bytes.resize(area + 20'000);
        break;
      case Damage::kLastByteCut:
        bytes.pop_back();
        break;
    }
    ASSERT_TRUE(WriteFileBytes(installer, bytes));
    const ChildSignals child(workspace.root, false);

    // The loader may refuse a cut file: then it does not start, or (Wine) its process ends
    // before any code of the program ran.
    InstallerRun run(installer, workspace.Environment(child));
    const bool box_shown =
        run.started() &&
        WaitFor([&] { return !run.MessageBoxesNow().empty() || !run.Running(); }, run.process()) &&
        !run.MessageBoxesNow().empty();
    if (box_shown) {
      ASSERT_NO_FATAL_FAILURE(ExpectMessage(
          run, "Setup",
          "This installer is damaged (for example by an incomplete download) and cannot run. "
          "Please obtain it again."));
      EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(1));
    } else {
      EXPECT_NE(row.damage, Damage::kFlippedByte) << "a whole file must start and say it is damaged";
      if (run.started()) {
        EXPECT_NE(run.WaitForExit(), std::optional<DWORD>(0));
      }
    }
    EXPECT_EQ(run.form(), nullptr);
    EXPECT_TRUE(FolderContents(workspace.tmp).empty());
    EXPECT_EQ(child.Report(), "");
  }
}

// An archive that fills the whole area: the file stores all of it, and every byte arrives.
TEST_F(InstallerTest, AFullPackageInstallsEveryByte) {
  const Workspace workspace = NewWorkspace();
  const std::string manifest = ManifestLine('S', "D6") + ManifestLine('D', kProductFolder);
  const size_t data = static_cast<size_t>(archive::kArchiveCapacity) -
                      3 * archive::kEntryHeaderSize - manifest.size();
  WriteTree(workspace.tree, {File("id.txt", manifest, LocalTime(2018, 1, 2, 3, 4, 6)),
                             Folder("C"),
                             File("C\\full.bin", PatternBytes(data, 3),
                                  LocalTime(2019, 3, 4, 5, 6, 8))});
  const std::string installer = Build(workspace, "--job library", "Setup.exe");
  ASSERT_FALSE(installer.empty());
  const DelphiRegistration delphi("6.0", workspace.ide);
  ASSERT_TRUE(delphi.ok());
  const std::string target = workspace.ide + "\\" + kProductFolder;
  const ChildSignals child(workspace.root, false);

  InstallerRun run(installer, workspace.Environment(child));
  ASSERT_TRUE(run.started());
  ASSERT_NE(ReadyForm(run), nullptr);
  ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
  const std::optional<SeenMessageBox> box = run.WaitForMessageBox();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, kUnpackedTo + target);
  ExpectSameTree(workspace.tree + "\\C", target);
  ASSERT_TRUE(run.Click(GetDlgItem(box->handle, IDOK)));
  EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
}

struct LayoutCase {
  const char* name;
  DWORD dpi;
  const char* picture;  // kept under the artifacts folder when not null
};

TEST_F(InstallerTest, WindowLayoutFollowsTheScreenResolution) {
  const LayoutCase cases[] = {
      {"96 dpi", 96, nullptr},
      {"120 dpi", 120, "installer-window-120dpi.bmp"},
      {"144 dpi", 144, nullptr},
  };
  for (const LayoutCase& row : cases) {
    SCOPED_TRACE(row.name);
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, ApplicationTree());
    const std::string installer =
        Build(workspace, "--job application --caption \"Quillon 3 Setup\"", "Setup.exe");
    ASSERT_FALSE(installer.empty());
    const ChildSignals child(workspace.root, false);

    ScreenDpi screen(row.dpi);
    InstallerRun run(installer, workspace.Environment(child));
    ASSERT_TRUE(run.started());
    HWND form = run.WaitForForm();
    // The program has read the resolution once its window is up.
    screen.Restore();
    ASSERT_NE(form, nullptr);
    HWND ok = run.Control(app::kOkButtonId);
    HWND cancel = run.Control(app::kCancelButtonId);
    // Both buttons are available from the start, and OK takes the focus once the window is
    // active (under X the activation may come a moment after the window shows).
    EXPECT_TRUE(Enabled(ok));
    EXPECT_TRUE(Enabled(cancel));
    EXPECT_TRUE(WaitFor([&] { return run.FocusedWindow() == ok; }, run.process()));

    RECT client{};
    ASSERT_TRUE(GetClientRect(form, &client));
    EXPECT_EQ(client.right, Scaled(app::kClientWidth, row.dpi));
    EXPECT_EQ(client.bottom, Scaled(app::kClientHeight, row.dpi));
    RECT button{};
    GetWindowRect(ok, &button);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&button), 2);
    EXPECT_EQ(button.left, Scaled(app::kOkButtonLeft, row.dpi));
    EXPECT_EQ(button.top, Scaled(app::kButtonTop, row.dpi));
    RECT panel{};
    GetWindowRect(run.Control(app::kStatusPanelId), &panel);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&panel), 2);
    EXPECT_EQ(panel.bottom, client.bottom);
    EXPECT_EQ(panel.top, Scaled(app::kBackImageHeight, row.dpi));
    EXPECT_EQ(Status(run), "");
    char caption[64] = {};
    GetWindowTextA(form, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Quillon 3 Setup");

    ASSERT_TRUE(WaitFor([&] { return Enabled(ok); }, run.process()));
    // Once available, OK has the focus whenever the window is active. (Without a window manager
    // on the X display, activation is not certain; activate it as a click on it would.)
    SetForegroundWindow(form);
    EXPECT_TRUE(WaitFor([&] { return run.FocusedWindow() == ok; }, run.process()))
        << "focus on " << run.FocusedWindow() << ", OK is " << ok;

    if (row.picture) {
      RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      const Picture picture = CaptureClientArea(form);
      EXPECT_EQ(picture.width, client.right);
      EXPECT_EQ(picture.height, client.bottom);
      // A banner with an emblem and two glyph buttons, not a blank or single-coloured area; the
      // empty status line in maroon below it.
      EXPECT_GT(picture.DistinctColours(), 100u);
      EXPECT_EQ(picture.At(Scaled(300, row.dpi), Scaled(89, row.dpi)), RGB(128, 0, 0));
      EXPECT_TRUE(WriteBitmapFile(picture, Paths().artifacts + "\\" + row.picture));
    }

    ASSERT_TRUE(run.Click(cancel));
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
  }
}

enum class Press { kClickWhenReady, kEnterWhenReady, kClickAtOnce };

struct LibraryCase {
  const char* name;
  const char* program_name;
  Press press;
  const char* title;
};

TEST_F(InstallerTest, LibraryJobFillsTheProductFolderBelowTheIdeAndStartsItsSetup) {
  const LibraryCase cases[] = {
      {"Setup.exe, OK clicked", "Setup.exe", Press::kClickWhenReady, "Setup"},
      {"my.installer.exe, Enter pressed", "my.installer.exe", Press::kEnterWhenReady, "my"},
      // The press comes before the first tick: carried out after it, so the data is read with
      // the block stream length in force (read without it, no byte would come out right).
      {"OK clicked as soon as the window shows", "Setup.exe", Press::kClickAtOnce, "Setup"},
  };
  for (const LibraryCase& row : cases) {
    SCOPED_TRACE(row.name);
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, LibraryTree());
    const std::string installer =
        Build(workspace, "--job library --caption \"Vexilor Components 2.4\"", row.program_name);
    ASSERT_FALSE(installer.empty());
    const DelphiRegistration delphi("6.0", workspace.ide);
    ASSERT_TRUE(delphi.ok());
    const std::string target = workspace.ide + "\\" + kProductFolder;
    WriteTree(target, {File("stale.txt", "from an older version", LocalTime(2010, 1, 1, 0, 0, 0))});
    const ChildSignals child(workspace.root, false);

    InstallerRun run(installer, workspace.Environment(child));
    ASSERT_TRUE(run.started());
    if (row.press == Press::kClickAtOnce) {
      ASSERT_NE(run.WaitForForm(), nullptr);
      ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
    } else {
      ASSERT_NE(ReadyForm(run), nullptr);
      if (row.press == Press::kEnterWhenReady) {
        // OK has the focus from the start and is the default button.
        HWND ok = run.Control(app::kOkButtonId);
        EXPECT_TRUE(WaitFor([&] { return run.FocusedWindow() == ok; }, run.process()));
        run.PressKey(VK_RETURN);
      } else {
        ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
      }
    }

    const std::optional<SeenMessageBox> box = run.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->title, row.title);
    EXPECT_EQ(box->text, kUnpackedTo + target);
    // While the report is up everything is on disk and nothing was started yet.
    EXPECT_FALSE(FileExists(target + "\\stale.txt"));
    ExpectSameTree(workspace.tree + "\\C", target);
    ExpectSameTree(workspace.tree + "\\S", target);
    EXPECT_EQ(child.Report(), "");
    ASSERT_TRUE(run.Click(GetDlgItem(box->handle, IDOK)));

    ASSERT_TRUE(child.WaitStarted());
    EXPECT_EQ(child.Report(), target + "\n" + target + "\\Setup.exe\n");
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
  }
}

struct ApplicationCase {
  const char* name;
  const char* program_name;
  const char* title;
  bool create_then_embed;  // otherwise built in one step
  const char* key;         // the archive key option, or null for the default
  bool temp_is_drive_root;  // TEMP is C:\, so the job's folder lies right below a drive root
};

TEST_F(InstallerTest, ApplicationJobRunsItsSetupWaitsForItAndRemovesTheFolder) {
  const ApplicationCase cases[] = {
      {"SETUP.EXE built in one step", "SETUP.EXE", "Setup", false, nullptr, false},
      {"created, then embedded with a key of its own", "Setup.exe", "Setup", true, "0x2468ACE1",
       false},
      {"TEMP at the root of drive C:", "Setup.exe", "Setup", false, nullptr, true},
  };
  for (const ApplicationCase& row : cases) {
    SCOPED_TRACE(row.name);
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, ApplicationTree());
    const std::string key_option = row.key ? std::string("--key ") + row.key + " " : "";
    std::string installer;
    if (row.create_then_embed) {
      const std::string archive_file = workspace.root + "\\package.pak";
      ASSERT_EQ(RunPackTool("create " + key_option + Quote(workspace.tree) + " " +
                            Quote(archive_file)),
                "");
      installer = workspace.run + "\\" + row.program_name;
      ASSERT_EQ(RunPackTool("embed " + key_option + "--job application --caption Quillon " +
                            Quote(Paths().setup_template) + " " + Quote(archive_file) + " " +
                            Quote(installer)),
                "");
    } else {
      installer = Build(workspace, key_option + "--job application --caption Quillon",
                        row.program_name);
      ASSERT_FALSE(installer.empty());
    }
    const std::string temp = row.temp_is_drive_root ? "C:" : workspace.tmp;
    const std::string quillon = temp + "\\Quillon";
    WriteTree(quillon, {File("stale.txt", "left over", LocalTime(2010, 1, 1, 0, 0, 0))});
    const ChildSignals child(workspace.root, true);
    std::map<std::string, std::string> environment = workspace.Environment(child);
    environment["TMP"] = environment["TEMP"] = temp + "\\";

    InstallerRun run(installer, environment);
    ASSERT_TRUE(run.started());
    ASSERT_NE(ReadyForm(run), nullptr);
    HWND ok = run.Control(app::kOkButtonId);
    ASSERT_TRUE(run.Click(ok));

    const std::optional<SeenMessageBox> box = run.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->title, row.title);
    EXPECT_EQ(box->text, kUnpackedTo + quillon + "\r\rQuillon setup will start now");
    EXPECT_FALSE(FileExists(quillon + "\\stale.txt"));
    ExpectSameTree(workspace.tree + "\\P", quillon);
    ASSERT_TRUE(run.Click(GetDlgItem(box->handle, IDOK)));

    ASSERT_TRUE(child.WaitStarted());
    EXPECT_EQ(child.Report(), quillon + "\n" + quillon + "\\Setup.exe\n");
    ASSERT_TRUE(WaitFor([&] { return Status(run) == kWaitingStatus; }, run.process()));
    // The job waits for the running setup and keeps its folder meanwhile.
    EXPECT_TRUE(run.Running());
    EXPECT_TRUE(FolderExists(quillon));
    // While the job runs OK is unavailable, and a press of it does nothing at all.
    EXPECT_FALSE(Enabled(ok));
    ASSERT_TRUE(run.Click(ok));
    EXPECT_TRUE(run.MessageBoxesNow().empty());
    EXPECT_EQ(Status(run), kWaitingStatus);

    child.OpenGate();
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
    EXPECT_FALSE(FolderExists(quillon));
  }
}

enum class Leave {
  kCancelButton,
  kEscapeKey,
  kCloseRequest,
  kEnterOnFocusedCancel,
  kSpaceOnFocusedCancel
};

struct LeaveCase {
  const char* name;
  Leave how;
};

void LeaveWindow(InstallerRun& run, Leave how) {
  switch (how) {
    case Leave::kCancelButton:
      EXPECT_TRUE(run.Click(run.Control(app::kCancelButtonId)));
      break;
    case Leave::kEscapeKey:
      run.PressKey(VK_ESCAPE);
      break;
    case Leave::kCloseRequest:
      PostMessageA(run.form(), WM_CLOSE, 0, 0);
      break;
    case Leave::kEnterOnFocusedCancel:
    case Leave::kSpaceOnFocusedCancel: {
      // Tab moves the focus from OK to Cancel; the focused button takes the key for itself.
      HWND cancel = run.Control(app::kCancelButtonId);
      run.PressKey(VK_TAB);
      ASSERT_TRUE(WaitFor([&] { return run.FocusedWindow() == cancel; }, run.process()));
      run.PressKey(how == Leave::kEnterOnFocusedCancel ? VK_RETURN : VK_SPACE);
      break;
    }
  }
}

TEST_F(InstallerTest, LeavingBeforeOkEndsTheProgramWithoutTouchingTheDisk) {
  const LeaveCase cases[] = {
      {"Cancel clicked", Leave::kCancelButton},
      {"Escape pressed", Leave::kEscapeKey},
      {"close request from outside", Leave::kCloseRequest},
      {"Tab, then Enter on the focused Cancel", Leave::kEnterOnFocusedCancel},
      {"Tab, then Space on the focused Cancel", Leave::kSpaceOnFocusedCancel},
  };
  for (const LeaveCase& row : cases) {
    SCOPED_TRACE(row.name);
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, ApplicationTree());
    const std::string installer = Build(workspace, "--job application", "Setup.exe");
    ASSERT_FALSE(installer.empty());
    const ChildSignals child(workspace.root, false);

    InstallerRun run(installer, workspace.Environment(child));
    ASSERT_TRUE(run.started());
    ASSERT_NE(ReadyForm(run), nullptr);
    ASSERT_NO_FATAL_FAILURE(LeaveWindow(run, row.how));
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
    EXPECT_TRUE(FolderContents(workspace.tmp).empty());
    EXPECT_TRUE(run.MessageBoxesNow().empty());
  }
}

// Two installers would clear and fill the same folder at once: a second start brings the first
// to the front and ends on its own, and the first goes on as if alone.
TEST_F(InstallerTest, ASecondInstallerEndsAndTheFirstInstallsAlone) {
  const Workspace workspace = NewWorkspace();
  WriteTree(workspace.tree, ApplicationTree());
  const std::string installer = Build(workspace, "--job application", "Setup.exe");
  ASSERT_FALSE(installer.empty());
  const std::string quillon = workspace.tmp + "\\Quillon";
  const ChildSignals child(workspace.root, false);

  InstallerRun first(installer, workspace.Environment(child));
  ASSERT_TRUE(first.started());
  ASSERT_NE(ReadyForm(first), nullptr);
  {
    InstallerRun second(installer, workspace.Environment(child));
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.WaitForExit(), std::optional<DWORD>(0));
  }
  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(FolderContents(workspace.tmp).empty()) << "the second installer touched the disk";

  ASSERT_TRUE(first.Click(first.Control(app::kOkButtonId)));
  ASSERT_NO_FATAL_FAILURE(
      ExpectMessage(first, "Setup", kUnpackedTo + quillon + "\r\rQuillon setup will start now"));
  ASSERT_TRUE(child.WaitStarted());
  EXPECT_EQ(first.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_FALSE(FolderExists(quillon));

  // Once the first has ended, the next start opens its window again.
  InstallerRun next(installer, workspace.Environment(child));
  ASSERT_TRUE(next.started());
  ASSERT_NE(ReadyForm(next), nullptr);
  PostMessageA(next.form(), WM_CLOSE, 0, 0);
  EXPECT_EQ(next.WaitForExit(), std::optional<DWORD>(0));
}

TEST_F(InstallerTest, CancelWhileTheJobWaitsEndsTheProgramAndLeavesTheFolder) {
  const Workspace workspace = NewWorkspace();
  WriteTree(workspace.tree, ApplicationTree());
  const std::string installer = Build(workspace, "--job application", "Setup.exe");
  ASSERT_FALSE(installer.empty());
  const std::string quillon = workspace.tmp + "\\Quillon";
  const ChildSignals child(workspace.root, true);

  InstallerRun run(installer, workspace.Environment(child));
  ASSERT_TRUE(run.started());
  ASSERT_NE(ReadyForm(run), nullptr);
  ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
  ASSERT_NO_FATAL_FAILURE(
      ExpectMessage(run, "Setup", kUnpackedTo + quillon + "\r\rQuillon setup will start now"));
  ASSERT_TRUE(child.WaitStarted());
  ASSERT_TRUE(WaitFor([&] { return Status(run) == kWaitingStatus; }, run.process()));

  // The status line shows its text: light letters on the maroon line. The line is painted
  // after its text is set, and the screen shows it a moment later: the picture is taken again
  // until the letters are there, or the patience ends.
  RECT panel{};
  GetWindowRect(run.Control(app::kStatusPanelId), &panel);
  MapWindowPoints(nullptr, run.form(), reinterpret_cast<POINT*>(&panel), 2);
  Picture picture;
  int light_pixels = 0;
  WaitFor(
      [&] {
        picture = CaptureClientArea(run.form());
        light_pixels = 0;
        for (int y = panel.top; y < std::min<int>(panel.bottom, picture.height); ++y) {
          for (int x = panel.left; x < std::min<int>(panel.right, picture.width); ++x) {
            if (GetGValue(picture.At(x, y)) > 128) ++light_pixels;
          }
        }
        return light_pixels > 20;
      },
      run.process());
  EXPECT_TRUE(WriteBitmapFile(picture, Paths().artifacts + "\\installer-window-waiting.bmp"));
  EXPECT_GT(light_pixels, 20);

  ASSERT_TRUE(run.Click(run.Control(app::kCancelButtonId)));
  EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
  // The job was cut off: its folder stays, and so does the setup it started.
  ExpectSameTree(workspace.tree + "\\P", quillon);
  child.OpenGate();
}

TEST_F(InstallerTest, FailedExtractionKeepsTheWindowAndOkWorksAgain) {
  const Workspace workspace = NewWorkspace();
  WriteTree(workspace.tree, LibraryTree());
  const std::string installer = Build(workspace, "--job library --caption Vexilor", "Setup.exe");
  ASSERT_FALSE(installer.empty());
  const DelphiRegistration delphi("6.0", workspace.ide);
  ASSERT_TRUE(delphi.ok());
  const std::string target = workspace.ide + "\\" + kProductFolder;
  WriteTree(target, {Folder("lib"),
                     File("lib\\core.dcu", "held open", LocalTime(2010, 1, 1, 0, 0, 0))});
  const ChildSignals child(workspace.root, false);
  // Held without sharing, the file can be neither deleted nor replaced.
  host::win32::UniqueHandle held(CreateFileA((target + "\\lib\\core.dcu").c_str(), GENERIC_READ, 0,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
  ASSERT_TRUE(held.valid());

  InstallerRun run(installer, workspace.Environment(child));
  ASSERT_TRUE(run.started());
  ASSERT_NE(ReadyForm(run), nullptr);
  HWND ok = run.Control(app::kOkButtonId);
  ASSERT_TRUE(run.Click(ok));

  // First the file layer's own error, then the job's report.
  const std::optional<SeenMessageBox> error = run.WaitForMessageBox();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->title, "Setup");
  EXPECT_FALSE(error->text.empty());
  EXPECT_NE(error->text.rfind(kUnpackedTo, 0), 0u);
  EXPECT_NE(error->text, kFailureReport);
  ASSERT_TRUE(run.Click(GetDlgItem(error->handle, IDOK)));
  ASSERT_NO_FATAL_FAILURE(ExpectMessage(run, "Setup", kFailureReport));

  // The window stays and OK comes back; nothing was started.
  ASSERT_TRUE(WaitFor([&] { return Enabled(ok); }, run.process()));
  EXPECT_TRUE(run.Running());
  EXPECT_EQ(child.Report(), "");

  held.reset();
  ASSERT_TRUE(run.Click(ok));
  ASSERT_NO_FATAL_FAILURE(ExpectMessage(run, "Setup", kUnpackedTo + target));
  ExpectSameTree(workspace.tree + "\\C", target);
  ExpectSameTree(workspace.tree + "\\S", target);
  ASSERT_TRUE(child.WaitStarted());
  EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
}

struct CaptionCase {
  const char* name;
  std::string option;                 // the --caption option given to the tool
  std::optional<uint8_t> patched_length;  // the caption's length byte set afterwards
  std::string expected;
};

TEST_F(InstallerTest, CaptionComesFromThePackageBlock) {
  const std::string forty = "Forty characters of caption, no more: 40";
  ASSERT_EQ(forty.size(), archive::kMaxCaptionLength);
  const CaptionCase cases[] = {
      {"empty caption", "--caption \"\"", std::nullopt, ""},
      {"forty characters", "--caption " + Quote(forty), std::nullopt, forty},
      {"length byte above 40 read as 40", "--caption " + Quote(forty), 200, forty},
      {"length byte 41 read as 40", "--caption " + Quote(forty), 41, forty},
  };
  for (const CaptionCase& row : cases) {
    SCOPED_TRACE(row.name);
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, ApplicationTree());
    const std::string installer =
        Build(workspace, "--job application " + row.option, "Setup.exe");
    ASSERT_FALSE(installer.empty());
    if (row.patched_length) {
      ASSERT_TRUE(PatchCaptionLength(installer, *row.patched_length));
    }
    const ChildSignals child(workspace.root, false);

    InstallerRun run(installer, workspace.Environment(child));
    ASSERT_TRUE(run.started());
    HWND form = run.WaitForForm();
    ASSERT_NE(form, nullptr);
    char caption[256] = {};
    GetWindowTextA(form, caption, sizeof(caption));
    EXPECT_EQ(std::string(caption), row.expected);
    PostMessageA(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
  }
}

TEST_F(InstallerTest, BareTemplateFindsNothingAndReportsTheTemporaryProductFolder) {
  const Workspace workspace = NewWorkspace();
  const std::string installer = workspace.run + "\\Setup.exe";
  ASSERT_TRUE(CopyFileA(Paths().setup_template.c_str(), installer.c_str(), FALSE));
  const ChildSignals child(workspace.root, false);

  InstallerRun run(installer, workspace.Environment(child));
  ASSERT_TRUE(run.started());
  HWND form = ReadyForm(run);
  ASSERT_NE(form, nullptr);
  char caption[64] = {"not empty"};
  GetWindowTextA(form, caption, sizeof(caption));
  EXPECT_STREQ(caption, "");
  ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
  // No manifest: no environment, so the product folder lands below the temporary folder.
  ASSERT_NO_FATAL_FAILURE(ExpectMessage(run, "Setup", kUnpackedTo + workspace.tmp + "\\Vexilor"));
  EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_TRUE(FolderExists(workspace.tmp + "\\Vexilor"));
  EXPECT_TRUE(FolderContents(workspace.tmp + "\\Vexilor").empty());
  EXPECT_EQ(child.Report(), "");
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!e2e::HasDisplay("installer_e2e_tests")) return e2e::kCannotRunExitCode;
  e2e::DriverPaths& paths = e2e::Paths();
  if (!e2e::ReadPathOptions(argc, argv, "installer_e2e_tests",
                            {{"--setup=", &paths.setup_template},
                             {"--pack=", &paths.pack_tool},
                             {"--child=", &paths.fake_setup},
                             {"--artifacts=", &paths.artifacts}})) {
    return 2;
  }
  std::error_code ignored;
  std::filesystem::create_directories(paths.artifacts, ignored);
  // Window sizes are read in physical pixels, whatever resolution the installer runs at.
  SetProcessDPIAware();
  return RUN_ALL_TESTS();
}
