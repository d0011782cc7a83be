#pragma once

// The programs that tests start, where this build made them. Their paths name the build folder,
// so each is compiled into a small file of its own (given the path as a definition by
// setup_test_starts_program in cmake/SetupTesting.cmake), and every other file compiles the same
// in every clone of the sources: a compiler cache then serves them to another clone.
namespace testing_support {

const char* SetupPackProgram();       // the setup-pack tool
const char* PackTestImageProgram();   // the stand-in installer image of the tool tests
const char* SetupTestChildProgram();  // the "Setup.exe" that the job tests' packages bring

}  // namespace testing_support
