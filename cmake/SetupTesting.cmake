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
  if(CMAKE_CROSSCOMPILING)
    setup_test_needs(${name} wine)
  endif()
endfunction()

# setup_test_needs(TEST NEED...): what a test needs besides its build: `wine` (a Windows program
# run under Wine) or `display` (an X display for its windows). The needs are the test's CTest
# labels, so that a run can tell which tests it cannot run here (scripts/test.sh).
# A test that needs a display runs after a check that one is there; without it CTest reports the
# test as failed, behind the check's message naming what is missing.
function(setup_test_needs test)
  set_property(TEST ${test} APPEND PROPERTY LABELS ${ARGN})
  if("display" IN_LIST ARGN)
    get_property(defined GLOBAL PROPERTY SETUP_DISPLAY_CHECK_DEFINED)
    if(NOT defined)
      set_property(GLOBAL PROPERTY SETUP_DISPLAY_CHECK_DEFINED TRUE)
      set(message "these tests need an X display for their windows, and DISPLAY is not set"
                  " (scripts/test.sh starts Xvfb)")
      string(CONCAT message ${message})
      add_test(NAME needs_display
               COMMAND sh -c "test -n \"$DISPLAY\" || { echo '${message}'; exit 1; }")
      set_tests_properties(needs_display PROPERTIES FIXTURES_SETUP display LABELS display)
    endif()
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED display)
  endif()
endfunction()
