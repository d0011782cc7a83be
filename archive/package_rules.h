// What a package must look like for the installer to take it without tripping: the parts it
// knows, names Windows can create, destinations that fit in 255 characters, a manifest whose
// values the jobs can use. The installer's reader and jobs apply the rules they depend on from
// here; the packing tool applies all of them (create refuses, verify reports, extract refuses
// before writing), so that the two cannot disagree.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace archive {

// The limit of a destination path and of an entry name.
constexpr size_t kMaxPathLength = 255;

// Destinations are judged below a typical target folder: a root of 60 characters including its
// trailing backslash (room for "C:\Users\" + a user name of up to 31 characters +
// "\AppData\Local\Temp\", and for any usual IDE root such as
// "C:\Program Files (x86)\Borland\Delphi7\"), then the folder of the part's job: the manifest's
// D value (or "Vexilor" without one) for C and S, "Quillon" for P, then a backslash and the
// entry's path below its part folder.
constexpr size_t kTypicalRootLength = 60;
inline constexpr char kDefaultLibraryFolder[] = "Vexilor";
inline constexpr char kApplicationFolder[] = "Quillon";

// The name of the manifest entry at the archive root.
inline constexpr char kManifestName[] = "id.txt";
// The manifest's columns: the key letter in column 1 (compared with case), the value from column
// 16 (offset 15), at most 100 characters, leading and trailing characters of codes 0 to 32
// removed.
constexpr size_t kManifestValueColumn = 15;
constexpr size_t kMaxManifestValueLength = 100;

std::vector<std::string> SplitPath(const std::string& path, const std::string& separators);

// The first backslash-separated component, upper-cased (a to z only).
std::string PartOf(const std::string& name);
// True for "C", "S" and "P".
bool IsKnownPart(const std::string& part);
// True for "id.txt" in any mix of case.
bool IsManifestName(const std::string& name);
// True for an entry that the installer's manifest read would take: the read looks for the first
// entry matching the walk prefix "id.txt" (any case), which is "id.txt" itself or anything below
// a folder of that name.
bool IsManifestEntry(const std::string& name);

// Why one path component cannot name a file or folder on Windows: empty, made of dots and blanks
// only (".", ".." and the like), holding a character Windows refuses in names (codes below 32
// and < > : " / \ | ? *), a device name (see EscapeProblem), or ending in a dot or a blank,
// which Windows drops ("x." is the file "x"). None for a plain name.
std::optional<std::string> ComponentProblem(const std::string& component);

// The first ComponentProblem among the components of `path`, split at any of `separators`.
std::optional<std::string> ComponentsProblem(const std::string& path,
                                             const std::string& separators = "\\");

// True when `relative_path` reaches its file below a folder by no other name than itself in
// another case of the letters a to z: printable ASCII only, no "~" (a short name such as
// "PROGRA~1" reaches a file whose own name is longer), and backslash-separated components that
// pass ComponentProblem (no slash, no stream, no trailing dot). Two such paths can name one file
// only when UpperCaseAscii makes them equal. What is written by several threads at once is
// limited to these names, so that a file's turn among the entries can be told from its name.
bool IsPlainAsciiPath(const std::string& relative_path);

// A Windows-1252 name as Windows compares names, without case: the letters a to z and the
// accented letters of the code page folded to their upper-case forms. Two names with the same
// folded form are one file on Windows.
std::string FoldCaseAsWindows(const std::string& name);

// Why a path below a destination folder would leave it or cannot be written: an empty component
// (also a leading separator: an absolute path), a component of dots and blanks only (".."), a
// colon (a drive letter), a device name of Windows (CON, NUL, COM0 to COM9, COM¹, ... also with
// an extension), which Windows opens as the device instead of a file in the folder, or a
// component ending in a dot or a blank, which Windows drops so that it names another file. Both
// backslash and slash separate, as they do on Windows. An empty path is allowed: it names the
// destination itself.
std::optional<std::string> EscapeProblem(const std::string& relative_path);

// The length of an entry's destination below the typical target of its part (see above), or none
// for a name outside the parts C, S and P. `library_folder` is the manifest's D value, empty for
// the default.
std::optional<size_t> TypicalDestinationLength(const std::string& name,
                                               const std::string& library_folder);

// Whether the installer's manifest read finds a manifest among `entries` (in stored order): the
// first entry it takes (IsManifestEntry) is there and is a file, not a folder.
template <typename Entries, typename NameOf, typename IsFolder>
bool HasManifest(const Entries& entries, NameOf name_of, IsFolder is_folder) {
  for (const auto& entry : entries) {
    if (IsManifestEntry(name_of(entry))) return !is_folder(entry);
  }
  return false;
}

// Splits text into lines at CR, LF or CR LF, stopping at the first NUL byte; a last line without
// an ending counts.
std::vector<std::string> SplitManifestLines(const std::string& text);

// The manifest's two values, read as the installer reads them: by column, the last line wins; a
// value no line gives stays none.
struct ManifestValues {
  std::optional<std::string> ide_spec;     // S
  std::optional<std::string> folder_name;  // D
};
ManifestValues ParseManifestLines(const std::vector<std::string>& lines);
ManifestValues ParseManifestText(const std::string& text);

// The installer's rule for the library job's folder name (the D value, "Vexilor" when empty):
// a relative path of one or more components separated by backslashes or slashes, none empty,
// none made only of dots and characters of codes 0 to 32 ("." and ".." included), and no colon
// anywhere (no drive, no stream). "Vendor\Product" and "Vendor/Product" pass; ".", "x\..\..",
// "\x", "c:\x", "x:" and "x\\y" do not. Anything else could make the job clear its root
// folder itself or a folder outside it.
bool IsPlainRelativeFolderName(const std::string& name);

// The S value must be an upper-case D or C followed by one decimal digit.
std::optional<std::string> IdeSpecProblem(const std::string& value);
// The D value, when not empty, must pass the job's rule (IsPlainRelativeFolderName) and name
// folders Windows can create: every component passing ComponentProblem.
std::optional<std::string> FolderNameProblem(const std::string& value);

}  // namespace archive
