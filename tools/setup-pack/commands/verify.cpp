#include <algorithm>
#include <iostream>
#include <optional>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/manifest.h"
#include "archive/package_block.h"
#include "archive/package_check.h"
#include "archive/package_rules.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/commands/archive_walk.h"
#include "tools/setup-pack/commands/commands.h"
#include "tools/setup-pack/commands/entry_checks.h"
#include "tools/setup-pack/image/authenticode.h"
#include "tools/setup-pack/image/execution_level.h"
#include "tools/setup-pack/image/package_image.h"
#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {
namespace {

// What verify prints: facts about the image first (what it is, its job, key and caption), then
// the problems, then the verdict. Warnings go to standard error and do not fail the check.
struct Report {
  std::vector<std::string> facts;
  std::vector<std::string> problems;
  std::vector<std::string> warnings;
};

std::string JobName(uint32_t job) {
  switch (job) {
    case static_cast<uint32_t>(archive::JobKind::kLibraryPackage):
      return "library package";
    case static_cast<uint32_t>(archive::JobKind::kApplicationSetup):
      return "application setup";
    default:
      return "unknown (" + std::to_string(job) + ")";
  }
}

// Whether a PE image carries an Authenticode signature, its certificate table.
void CheckSignature(const PackageImage& image, Report& report) {
  try {
    const std::optional<PeSignature> pe = ReadPeSignature(
        image.file_bytes(), std::min(image.file_size(), kPeHeadBytes), image.file_size());
    if (!pe) return;
    report.facts.push_back(pe->present() ? "Authenticode signature: present (" +
                                               std::to_string(pe->table_size) + " bytes)"
                                         : std::string("Authenticode signature: absent"));
  } catch (const ToolError& error) {
    report.problems.push_back(error.what());
  }
}

// The check the installer makes of its archive at start-up, made the same way.
void CheckArchiveCheck(const PackageImage& image, const archive::ArchiveCheck& check,
                       Report& report) {
  if (check.length == 0) {
    report.facts.push_back("archive check: none (a template, or an image from an older tool)");
    return;
  }
  report.facts.push_back("archive check: " + std::to_string(check.length) + " bytes, CRC-32 " +
                         HexKey(check.crc));
  if (!archive::AreaMatchesCheck(image.archive(), image.archive_size(), check)) {
    report.problems.push_back(
        "the archive does not match the check in the settings record: the installer is damaged "
        "and refuses to run");
  }
}

// The level the manifest asks Windows for, against the one the job needs.
void CheckExecutionLevel(const PackageImage& image, uint32_t job, Report& report) {
  const std::optional<ExecutionLevelField> field =
      FindExecutionLevel(image.file_bytes(), image.file_size(), image.archive_offset(),
                         image.archive_offset() + image.stored_area_size());
  if (!field) return;
  report.facts.push_back("requested execution level: " + field->level);
  if (job > static_cast<uint32_t>(archive::JobKind::kApplicationSetup)) return;
  const std::string needed = ExecutionLevelFor(static_cast<archive::JobKind>(job));
  if (field->level != needed) {
    report.problems.push_back("the manifest asks for the execution level " + field->level +
                              "; the " + JobName(job) + " job needs " + needed);
  }
}

void CheckInstallerImage(const PackageImage& image, Report& report) {
  report.facts.push_back("installer image: package block at byte offset " +
                         std::to_string(image.block_offset()));
  CheckSignature(image, report);
  if (image.package_marker_count() > 1) {
    report.problems.push_back("the image holds the package block's marker " +
                              std::to_string(image.package_marker_count()) +
                              " times; it must occur exactly once");
  }
  if (const std::optional<Settings> settings = image.settings()) {
    report.facts.push_back("job: " + JobName(settings->job));
    report.facts.push_back("stored key: " + HexKey(settings->key));
    if (settings->job > static_cast<uint32_t>(archive::JobKind::kApplicationSetup)) {
      report.problems.push_back("the settings record names no known job (" +
                                std::to_string(settings->job) + ")");
    }
  } else {
    report.problems.push_back("the image holds " +
                              std::to_string(image.settings_record_count()) +
                              " settings records; it must hold exactly one");
  }
  report.facts.push_back("caption: \"" + NameForMessage(image.caption()) + "\"");
  if (image.caption_length() > archive::kMaxCaptionLength) {
    report.problems.push_back("the caption's length byte is " +
                              std::to_string(image.caption_length()) +
                              "; a caption holds at most 40 characters");
  }
  if (const std::optional<Settings> settings = image.settings()) {
    CheckArchiveCheck(image, settings->check, report);
    CheckExecutionLevel(image, settings->job, report);
  }
}

bool IsLibraryInstaller(const PackageImage& image) {
  const std::optional<Settings> settings = image.settings();
  return image.is_installer() && settings &&
         settings->job == static_cast<uint32_t>(archive::JobKind::kLibraryPackage);
}

// Whether the manifest read finds an entry to read at all (a folder gives it nothing; the entry
// checks report that).
bool HasManifestEntry(const ArchiveWalk& walk) {
  return std::any_of(walk.entries.begin(), walk.entries.end(), [](const WalkedEntry& entry) {
    return archive::IsManifestEntry(entry.name);
  });
}

// Reads id.txt the way the window does before a job starts, and checks the two values the
// library job uses. Returns the D value.
std::string CheckManifest(const PackageImage& image, const ArchiveWalk& walk, uint32_t key,
                          Report& report) {
  if (!HasManifestEntry(walk)) {
    if (IsLibraryInstaller(image)) {
      report.warnings.push_back("the package has no id.txt; the library package job will "
                                "install it into the folder Vexilor below the temporary folder");
    }
    return std::string();
  }
  archive::SetArchiveMemory(image.archive(), static_cast<int32_t>(image.archive_size()));
  archive::SetArchiveKey(key);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  archive::ReadManifest();
  if (const std::optional<std::string> problem = archive::IdeSpecProblem(archive::ManifestIdeSpec)) {
    report.problems.push_back(*problem);
  }
  if (const std::optional<std::string> problem = archive::FolderNameProblem(archive::ManifestFolderName)) {
    report.problems.push_back(*problem);
  }
  return archive::ManifestFolderName;
}

std::optional<uint32_t> ReadingKey(const PackageImage& image, const CommandLine& line,
                                   Report& report) {
  if (line.key) {
    report.facts.push_back("key used: " + HexKey(*line.key) + " (given)");
    return line.key;
  }
  if (!image.is_installer()) {
    report.facts.push_back("key used: " + HexKey(archive::kDefaultArchiveKey) + " (default)");
    return archive::kDefaultArchiveKey;
  }
  if (const std::optional<Settings> settings = image.settings()) return settings->key;
  return std::nullopt;
}

void Print(const Report& report, const ArchiveWalk& walk) {
  for (const std::string& warning : report.warnings) {
    std::cerr << "setup-pack: warning: " << warning << '\n';
  }
  for (const std::string& fact : report.facts) std::cout << fact << '\n';
  for (const std::string& problem : report.problems) std::cout << "problem: " << problem << '\n';
  if (report.problems.empty()) {
    std::cout << "OK: " << walk.entries.size() << " entries, " << walk.DataBytes()
              << " data bytes\n";
  } else {
    std::cout << report.problems.size() << " problems found\n";
  }
}

}  // namespace

int RunVerify(const CommandLine& line) {
  const PackageImage image = PackageImage::Load(line.operands[0]);
  Report report;
  if (image.is_installer()) {
    CheckInstallerImage(image, report);
  } else {
    report.facts.push_back("raw archive: " + std::to_string(image.file_size()) + " bytes");
    if (image.file_size() > static_cast<size_t>(archive::kArchiveCapacity)) {
      report.problems.push_back("the archive is " + std::to_string(image.file_size()) +
                                " bytes; an installer's package block holds at most " +
                                std::to_string(archive::kArchiveCapacity) +
                                ", so embed and build refuse it");
    }
  }
  const ArchiveWalk walk = WalkArchive(image.archive(), image.archive_size());
  if (!walk.clean()) report.problems.push_back(WalkProblem(walk, image.archive_size()));
  if (walk.clean() && walk.entries.empty()) {
    report.problems.push_back("the package holds no entries: an installer would install nothing");
  }
  std::string library_folder;
  if (const std::optional<uint32_t> key = ReadingKey(image, line, report)) {
    library_folder = CheckManifest(image, walk, *key, report);
  }
  const std::vector<std::string> entry_problems = CheckEntries(walk.entries, library_folder);
  report.problems.insert(report.problems.end(), entry_problems.begin(), entry_problems.end());
  Print(report, walk);
  return report.problems.empty() ? kExitSuccess : kExitFindings;
}

}  // namespace setup_pack
