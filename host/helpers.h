// Small operations on folders that the reader, the IDE lookup and the jobs share.
#pragma once

#include <string>

#include "archive/names.h"

namespace host {

// The text rules of names and paths, shared with the archive format (see archive/names.h).
using archive::AddBackslash;
using archive::UpperCaseAscii;

// A temporary folder ending in a backslash: the user's temporary folder (asked with a buffer of
// 144 characters), else the first existing one of "c:\Windows\Temp\", "c:\Temp\", "c:\tmp\",
// else "c:\" untested. Always returns a path.
std::string GetTempFolder();

// The fallback chain of GetTempFolder applied to a folder the caller already asked for: `asked`
// when a folder exists there, else the fallbacks above.
std::string TempFolderOrFallback(const std::string& asked);

// Deletes what it can of the folder and everything below it. Items whose names begin with a dot
// are skipped; a file is deleted without changing its attributes first (so a read-only file
// stays, and then its folder stays too); a sub-folder that is a link (symbolic link, junction,
// any reparse point) is never entered, so nothing outside the folder is deleted. Every failure is
// ignored.
void DeleteTree(const std::string& folder);

}  // namespace host
