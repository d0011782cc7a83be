#include "tests/tools/pack_fixture.h"

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "host/files.h"
#include "tests/support/built_programs.h"

namespace pack_testing {
namespace {

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string FormatDos(uint32_t dos) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (dos >> 25),
                (dos >> 21) & 15, (dos >> 16) & 31, (dos >> 11) & 31, (dos >> 5) & 63,
                (dos & 31) * 2);
  return text;
}

// Deterministic file contents: a byte pattern that differs per file and per position.
std::string Contents(size_t seed, size_t size) {
  std::string data(size, '\0');
  uint32_t state = static_cast<uint32_t>(seed) * 2654435761u + 1;
  for (char& c : data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  return data;
}

}  // namespace

archive::EntrySpec EntrySpecOf(const std::string& name, uint32_t attributes, uint32_t modified) {
  archive::EntrySpec spec;
  spec.name = name;
  spec.attributes = attributes;
  spec.modified = modified;
  spec.seeds = {1, 2, 3, 4};
  return spec;
}

std::string SetupPackPath() { return ProgramPath(testing_support::SetupPackProgram()); }
std::string TestImagePath() { return ProgramPath(testing_support::PackTestImageProgram()); }

uint32_t DosTime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 |
                               minute << 5 | second / 2);
}

void WriteTree(const std::string& root, const std::vector<ModelEntry>& entries) {
  if (!host::CreateFolderWithParents(root)) throw std::runtime_error("cannot create " + root);
  for (const ModelEntry& entry : entries) {
    const std::string path = root + "\\" + entry.name;
    if (entry.is_folder) {
      if (!host::CreateFolderWithParents(path)) throw std::runtime_error("cannot create " + path);
      continue;
    }
    host::OutputFile file = host::OutputFile::CreateReplacing(path);
    file.Write(entry.data.data(), entry.data.size());
    if (!file.SetLastWriteTime(entry.modified)) throw std::runtime_error("cannot date " + path);
    file.Close();
    if (entry.read_only) host::SetAttributes(path, host::kAttributeReadOnly);
  }
}

std::vector<std::string> ExpectedListing(const std::vector<ModelEntry>& entries) {
  std::vector<std::string> lines;
  size_t data_bytes = 0;
  for (const ModelEntry& entry : entries) {
    char attributes[16];
    const uint32_t bits = entry.is_folder ? 0x10u
                                          : (PlainFileAttributes() | (entry.read_only ? 1u : 0u));
    std::snprintf(attributes, sizeof attributes, "0x%08X", static_cast<unsigned>(bits));
    lines.push_back(entry.name + (entry.is_folder ? "\\" : "") + "\t" +
                    std::to_string(entry.data.size()) + "\t" + attributes + "\t" +
                    (entry.is_folder ? std::string() : FormatDos(entry.modified)));
    data_bytes += entry.data.size();
  }
  lines.push_back(std::to_string(entries.size()) + " entries, " + std::to_string(data_bytes) +
                  " data bytes");
  return lines;
}

void ExpectListing(const std::string& listing, const std::vector<ModelEntry>& entries) {
  const std::vector<std::string> actual = Lines(listing);
  const std::vector<std::string> expected = ExpectedListing(entries);
  ASSERT_EQ(actual.size(), expected.size()) << listing;
  for (size_t i = 0; i < expected.size(); ++i) {
    const bool folder_line = !expected[i].empty() && expected[i].back() == '\t';
    EXPECT_EQ(folder_line ? actual[i].substr(0, expected[i].size()) : actual[i], expected[i])
        << "line " << i;
  }
}

std::vector<ModelEntry> LargeTree() {
  std::vector<ModelEntry> entries;
  size_t file_number = 0;
  const auto add_file = [&entries, &file_number](const std::string& name) {
    ModelEntry file;
    file.name = name;
    const size_t size = file_number % 211 == 5 ? 70'000 + file_number : (file_number * 37) % 700;
    file.data = Contents(file_number, size);
    file.read_only = file_number % 7 == 3;
    file.modified = DosTime(1995 + static_cast<int>(file_number % 30),
                            1 + static_cast<int>(file_number % 12),
                            1 + static_cast<int>(file_number % 28),
                            static_cast<int>(file_number % 24), static_cast<int>(file_number % 60),
                            static_cast<int>(file_number % 30) * 2);
    entries.push_back(file);
    ++file_number;
  };
  const auto add_folder = [&entries](const std::string& name) {
    ModelEntry folder;
    folder.name = name;
    folder.is_folder = true;
    entries.push_back(folder);
  };
  // Siblings are generated in byte order of their names ("C" < "P" < "S" < "id.txt", "f..." <
  // "s..."), which is the order create stores them in.
  for (const std::string part : {"C", "P", "S"}) {
    add_folder(part);
    for (int d = 0; d < 12; ++d) {
      char folder[16];
      std::snprintf(folder, sizeof folder, "d%02d", d);
      const std::string folder_name = part + "\\" + folder;
      add_folder(folder_name);
      for (int f = 0; f < 5; ++f) add_file(folder_name + "\\f" + std::to_string(f) + ".bin");
      for (int s = 0; s < 3; ++s) {
        const std::string sub = folder_name + "\\s" + std::to_string(s);
        add_folder(sub);
        for (int f = 0; f < 20; ++f) {
          char file[16];
          std::snprintf(file, sizeof file, "\\f%02d.dat", f);
          add_file(sub + file);
        }
      }
    }
  }
  ModelEntry manifest;
  manifest.name = "id.txt";
  manifest.data = "S IDE:         D7\r\nD Folder:      Large Tree\r\n";
  manifest.modified = DosTime(2020, 2, 29, 23, 59, 58);
  entries.push_back(manifest);
  return entries;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  const std::string clean = WithoutCarriageReturns(text);
  while (start < clean.size()) {
    const size_t end = clean.find('\n', start);
    lines.push_back(clean.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = testing_support::ReadWholeFile(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  host::OutputFile file = host::OutputFile::CreateReplacing(path);
  file.Write(bytes.data(), bytes.size());
  file.Close();
}

bool MakeLink(const std::string& target, const std::string& link, std::string& why_not) {
  std::error_code error;
  std::filesystem::create_symlink(host::NativePath(target), host::NativePath(link), error);
  if (error) why_not = error.message();
  return !error;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  host::ListFolder(folder, [&names](const host::FolderItem& item) {
    if (item.name != "." && item.name != "..") names.push_back(item.name);
  });
  std::sort(names.begin(), names.end());
  return names;
}

std::string PackToolTest::Path(const std::string& relative) const {
  return host::NativePath(temp_.Sub(relative));
}

std::string PackToolTest::CaptureFolder() {
  if (capture_folder_.empty()) {
    capture_folder_ = temp_.Sub("runs");
    host::CreateFolderWithParents(capture_folder_);
  }
  return capture_folder_;
}

ProgramResult PackToolTest::Pack(const std::vector<std::string>& arguments) {
  ProgramResult result = RunProgram(SetupPackPath(), arguments, CaptureFolder());
  result.out = WithoutCarriageReturns(result.out);
  result.err = WithoutCarriageReturns(result.err);
  // A sanitizer's report ends the tool with status 1, which verify also uses for its findings.
  EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
  EXPECT_FALSE(result.crashed) << result.err;
  return result;
}

ProgramResult PackToolTest::RunImage(const std::string& image,
                                     const std::vector<std::string>& arguments) {
  ProgramResult result = RunProgram(image, arguments, CaptureFolder());
  result.out = WithoutCarriageReturns(result.out);
  result.err = WithoutCarriageReturns(result.err);
  return result;
}

}  // namespace pack_testing
