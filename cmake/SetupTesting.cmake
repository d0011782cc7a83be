# GoogleTest from Debian's source package: the same sources build natively and with mingw-w64.
if(SETUP_BUILD_TESTS AND NOT TARGET gtest)
  set(SETUP_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory("${SETUP_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()

# setup_add_test(NAME SOURCES ... LIBS ...): one test program, one CTest test. Under the Windows
# builds CTest runs it through CMAKE_CROSSCOMPILING_EMULATOR (Wine).
function(setup_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} setup_test_support gmock gtest_main setup_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
