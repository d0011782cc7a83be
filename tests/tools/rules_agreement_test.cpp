// The installer and `verify` judge a package by the same rules: one table of packages, each read
// the way the installer reads it (its manifest read on the memory source, the library job's
// folder-name and version checks, the jobs' part walks) and checked by `verify` run in-process on
// the same bytes. Whatever the installer refuses or skips, verify must report; what verify passes,
// the installer must take.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/manifest.h"
#include "archive/names.h"
#include "archive/package_rules.h"
#include "host/files.h"
#include "tests/support/temp_folder.h"
#include "tools/setup-pack/cli/command_line.h"
#include "tools/setup-pack/commands/commands.h"

namespace setup_pack {
namespace {

struct Entry {
  std::string name;
  bool folder = false;
  std::string data;
};

std::vector<uint8_t> PackageOf(const std::vector<Entry>& entries) {
  archive::MemoryArchive archive;
  for (const Entry& entry : entries) {
    archive::EntrySpec spec;
    spec.name = entry.name;
    spec.seeds = {1, 2, 3, 4};
    if (entry.folder) {
      spec.attributes = archive::kFolderAttribute;
      archive.writer().AddFolder(spec);
    } else {
      archive.writer().AddFile(spec, entry.data);
    }
  }
  return archive.bytes();
}

std::string Manifest(const std::string& ide_spec, const std::string& folder) {
  const std::string pad(15 - 1, ' ');
  std::string text = "S" + pad + ide_spec + "\r\n";
  if (!folder.empty()) text += "D" + pad + folder + "\r\n";
  return text;
}

// What the installer makes of the package: the manifest values its window reads, whether the
// library job goes on with them, and the entries some job's part walk extracts.
struct InstallerView {
  std::string ide_spec;
  std::string folder_name;
  bool library_job_goes_on = false;
  std::vector<std::string> skipped_entries;
};

InstallerView AsTheInstallerSeesIt(const std::vector<uint8_t>& bytes,
                                   const std::vector<Entry>& entries) {
  InstallerView view;
  archive::ManifestIdeSpec.clear();
  archive::ManifestFolderName.clear();
  archive::SetArchiveMemory(bytes.data(), static_cast<int32_t>(bytes.size()));
  archive::SetArchiveKey(archive::kDefaultArchiveKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  archive::ReadManifest();
  archive::SetArchiveMemory(nullptr, 0);
  view.ide_spec = archive::ManifestIdeSpec;
  view.folder_name = archive::ManifestFolderName;
  const std::string spec = view.ide_spec + "00";
  const std::string folder = view.folder_name.empty() ? "Vexilor" : view.folder_name;
  view.library_job_goes_on = spec[1] >= '0' && spec[1] <= '9' &&
                             archive::IsPlainRelativeFolderName(folder);
  for (const Entry& entry : entries) {
    bool walked = archive::IsManifestEntry(entry.name);
    for (const char* part : {"C", "S", "P"}) {
      walked = walked || archive::NameMatchesWalkPrefix(entry.name, archive::WalkPrefixOf(part));
    }
    if (!walked) view.skipped_entries.push_back(entry.name);
  }
  return view;
}

std::string VerifyOutput(const testing_support::TempFolder& temp,
                         const std::vector<uint8_t>& bytes) {
  const std::string path = temp.Sub("package.pak");
  testing_support::WriteTextFile(path, std::string(bytes.begin(), bytes.end()));
  const CommandLine line = ParseCommandLine({"verify", host::NativePath(path)});
  std::ostringstream captured;
  std::streambuf* const saved = std::cout.rdbuf(captured.rdbuf());
  RunVerify(line);
  std::cout.rdbuf(saved);
  return captured.str();
}

TEST(RulesAgreementTest, VerifyReportsWhatTheInstallerRefusesOrSkips) {
  struct Case {
    const char* what;
    std::vector<Entry> entries;
    bool verify_passes;
  };
  const Entry lib{"C", true, ""};
  const Entry file{"C\\a.dcu", false, "x"};
  const auto with_manifest = [&](const std::string& ide, const std::string& folder) {
    return std::vector<Entry>{{"id.txt", false, Manifest(ide, folder)}, lib, file};
  };
  const std::vector<Case> cases = {
      {"a plain package", with_manifest("D7", "Widgets"), true},
      {"a nested folder with backslashes", with_manifest("D7", "Vendor\\Widgets"), true},
      {"a nested folder with a slash", with_manifest("D7", "Vendor/Widgets"), true},
      {"no D value", with_manifest("C6", ""), true},
      {"a climbing folder", with_manifest("D7", "..\\x"), false},
      {"a dot folder", with_manifest("D7", "."), false},
      {"a rooted folder", with_manifest("D7", "\\x"), false},
      {"a slash-rooted folder", with_manifest("D7", "/x"), false},
      {"a drive", with_manifest("D7", "c:\\x"), false},
      {"a stream", with_manifest("D7", "x:y"), false},
      {"an empty component", with_manifest("D7", "x\\\\y"), false},
      {"a trailing separator", with_manifest("D7", "x\\"), false},
      {"a version that is no digit", with_manifest("DX", "Widgets"), false},
      {"a device name the job would clear", with_manifest("D7", "NUL"), false},
      {"a manifest below a folder id.txt",
       {{"id.txt", true, ""}, {"id.txt\\x", false, Manifest("D7", "Widgets")}, lib, file},
       false},
      {"a manifest in upper case", {{"ID.TXT", false, Manifest("D7", "W")}, lib, file}, true},
      {"a part in lower case", {{"id.txt", false, Manifest("D7", "W")}, {"c", true, ""},
                                {"c\\a.dcu", false, "x"}}, true},
      {"a name that only starts like a part",
       {{"id.txt", false, Manifest("D7", "W")}, lib, file, {"CX", true, ""}}, false},
      {"an entry outside every part",
       {{"id.txt", false, Manifest("D7", "W")}, lib, file, {"readme.txt", false, "r"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::TempFolder temp;
    const std::vector<uint8_t> bytes = PackageOf(c.entries);
    const InstallerView installer = AsTheInstallerSeesIt(bytes, c.entries);
    const std::string report = VerifyOutput(temp, bytes);
    const bool verify_passes = report.find("problem: ") == std::string::npos;
    EXPECT_EQ(verify_passes, c.verify_passes) << report;
    // The agreement itself, whatever the table says: nothing the installer refuses or skips
    // passes verify.
    if (!installer.library_job_goes_on || !installer.skipped_entries.empty()) {
      EXPECT_FALSE(verify_passes) << report;
    }
    // The tool's own reading of the manifest text (create reads a folder's id.txt with it)
    // gives the installer's values.
    for (const Entry& entry : c.entries) {
      if (!archive::IsManifestEntry(entry.name)) continue;
      const archive::ManifestValues values =
          entry.folder ? archive::ManifestValues{} : archive::ParseManifestText(entry.data);
      EXPECT_EQ(values.ide_spec.value_or(""), installer.ide_spec);
      EXPECT_EQ(values.folder_name.value_or(""), installer.folder_name);
      break;
    }
  }
}

}  // namespace
}  // namespace setup_pack
