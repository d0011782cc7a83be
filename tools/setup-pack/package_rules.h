// What a package must look like for the installer to take it without tripping: the parts it
// knows, names Windows can create, destinations that fit in 255 characters, a manifest whose
// values the jobs can use. Shared by create (which refuses), verify (which reports) and extract.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace setup_pack {

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

std::vector<std::string> SplitPath(const std::string& path, const std::string& separators);

// The first backslash-separated component, upper-cased (a to z only).
std::string PartOf(const std::string& name);
// True for "C", "S" and "P".
bool IsKnownPart(const std::string& part);
// True for "id.txt" in any mix of case.
bool IsManifestName(const std::string& name);

// Why one path component cannot name a file or folder on Windows: empty, made of dots and blanks
// only (".", ".." and the like), holding a character Windows refuses in names (codes below 32
// and < > : " / \ | ? *), a device name (see EscapeProblem), or ending in a dot or a blank,
// which Windows drops ("x." is the file "x"). None for a plain name.
std::optional<std::string> ComponentProblem(const std::string& component);

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

// The manifest's two values, read as the installer reads them: by column, the last line wins.
struct ManifestValues {
  std::string ide_spec;     // S
  std::string folder_name;  // D
};
ManifestValues ParseManifestText(const std::string& text);

// The S value must be an upper-case D or C followed by one decimal digit.
std::optional<std::string> IdeSpecProblem(const std::string& value);
// The D value, when not empty, must be a relative path of plain folder names: no leading
// backslash, no drive letter, every component passing ComponentProblem.
std::optional<std::string> FolderNameProblem(const std::string& value);

}  // namespace setup_pack
