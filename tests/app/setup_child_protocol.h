// The files by which the job tests talk to their child "Setup.exe", all in the child's current
// folder: the child writes kStartedFile (holding its current folder) once it runs, then waits
// until the test creates kReleaseFile, then ends.
#pragma once

namespace app_test {

inline constexpr char kStartedFile[] = "child-started.txt";
inline constexpr char kReleaseFile[] = "child-release.txt";

}  // namespace app_test
