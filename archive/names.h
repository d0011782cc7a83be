// How names and paths are spelled and compared: ANSI text, backslash-separated, upper-cased by
// the letters a to z only. The installer's reader, its jobs and the packing tool all use these.
#pragma once

#include <string>

namespace archive {

// The path with a backslash appended when it is not empty and does not already end in one; an
// empty path stays empty.
inline std::string AddBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

// Upper-cases the letters a to z only; every other byte stays as it is.
inline char UpperCaseAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline std::string UpperCaseAscii(std::string text) {
  for (char& c : text) c = UpperCaseAscii(c);
  return text;
}

// The form of a prefix that a walk compares names with: upper-cased, a backslash appended (empty
// stays empty and matches every name).
inline std::string WalkPrefixOf(const std::string& prefix) {
  return AddBackslash(UpperCaseAscii(prefix));
}

// The walk's prefix rule: the name, upper-cased and with a backslash appended, begins with the
// walk prefix. So the prefix "C" selects "C" itself and everything below "C\", never "CX".
inline bool NameMatchesWalkPrefix(const char* name, size_t name_length,
                                  const std::string& walk_prefix) {
  if (walk_prefix.size() > name_length + 1) return false;
  for (size_t i = 0; i < walk_prefix.size(); ++i) {
    const char c = i < name_length ? UpperCaseAscii(name[i]) : '\\';
    if (c != walk_prefix[i]) return false;
  }
  return true;
}
inline bool NameMatchesWalkPrefix(const std::string& name, const std::string& walk_prefix) {
  return NameMatchesWalkPrefix(name.data(), name.size(), walk_prefix);
}

// A matching name without the walk prefix (the prefix and its backslash together): the path
// below the folder it is extracted to, empty for the prefix's own entry.
inline std::string NameBelowWalkPrefix(const std::string& name, const std::string& walk_prefix) {
  return name.substr(walk_prefix.size() < name.size() ? walk_prefix.size() : name.size());
}

}  // namespace archive
