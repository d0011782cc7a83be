# GoogleTest. Natively, the libraries Debian's libgtest-dev ships, built by the same compiler: the
# native builds then compile only the test files. The Windows builds compile Debian's GoogleTest
# sources with mingw-w64, without optimisation, as the test code is (tests/CMakeLists.txt): its
# speed does not matter, the time to compile it does. The targets are called gtest, gtest_main,
# gmock and gmock_main either way.
if(SETUP_BUILD_TESTS AND NOT TARGET gtest)
  if(CMAKE_CROSSCOMPILING)
    set(SETUP_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory("${SETUP_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
    foreach(target gtest gtest_main gmock gmock_main)
      target_compile_options(${target} PRIVATE -O0)
    endforeach()
  else()
    find_package(GTest 1.11 CONFIG REQUIRED)
    foreach(target gtest gtest_main gmock gmock_main)
      add_library(${target} ALIAS GTest::${target})
    endforeach()
  endif()
endif()

include(GoogleTest)

# setup_add_test(NAME SOURCES ... LIBS ... [SHARDS N]): one test program. In the plain native build
# every test case is a CTest test of its own (listed when CTest runs), so that the cases of a long
# program run side by side. Where starting a process costs much, the program is one CTest test
# and a long one is split into N tests (NAME.1 ... NAME.N) by GoogleTest's own sharding instead:
# under the Windows builds (run through CMAKE_CROSSCOMPILING_EMULATOR, Wine) and under the
# sanitizers, whose start and leak check at exit took about 80 ms per process, more than most
# test cases.
function(setup_add_test name)
  cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;LIBS" ${ARGN})
  setup_compiled_together(sources ${name} ${ARG_SOURCES})
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} setup_test_support gmock gtest_main setup_warnings)
  if(CMAKE_CROSSCOMPILING OR SETUP_SANITIZE)
    if(NOT ARG_SHARDS)
      set(ARG_SHARDS 1)
    endif()
    setup_add_shards(${name} ${ARG_SHARDS} ${name})
    foreach(test IN LISTS SETUP_SHARD_TESTS)
      set_tests_properties(${test} PROPERTIES TIMEOUT 300)
      # A program split into shards is a long one: its shards start first, before CTest has
      # times of its own from an earlier run.
      if(ARG_SHARDS GREATER 1)
        set_tests_properties(${test} PROPERTIES COST 1000)
      endif()
      if(CMAKE_CROSSCOMPILING)
        setup_test_needs(${test} wine)
      endif()
    endforeach()
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}." PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# setup_compiled_together(OUT NAME SOURCE...): sets OUT to the files to compile for the sources of
# test program or test library NAME: one file that includes them all. Every test file includes
# GoogleTest and much of the standard library; reading those headers again for each file took
# most of the time of compiling a program of several. The file names its sources by their paths
# below the project root (not absolute paths, as CMake's own unity builds do), so that the
# compiler cache finds it again from another clone. Files that need compile definitions of their
# own are added to the program apart (setup_test_starts_program).
function(setup_compiled_together out name)
  list(LENGTH ARGN count)
  if(count LESS 2)
    set(${out} ${ARGN} PARENT_SCOPE)
    return()
  endif()
  set(includes "")
  foreach(source IN LISTS ARGN)
    get_filename_component(path "${source}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${path}")
    string(APPEND includes "#include \"${relative}\"\n")
  endforeach()
  set(together "${CMAKE_CURRENT_BINARY_DIR}/${name}_together.cpp")
  # Written only when it changes, so that configuring again compiles nothing again.
  file(CONFIGURE OUTPUT "${together}" CONTENT "${includes}" @ONLY)
  set(${out} "${together}" PARENT_SCOPE)
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

# Wine sessions for the suites that start installers. An installer runs alone in its session
# (a second one ends at once), and these suites change the session's registry for a moment, so
# each of their tests takes one whole session: a Wine prefix of its own, with its own wineserver
# and X display (scripts/wine-env.sh). CTest hands out the sessions as resources
# (`wine_session`, listed in wine-sessions.json, which the test presets name); with more than one
# session the suites are split into shards (GoogleTest's own sharding) that run side by side.
set(SETUP_WINE_SESSIONS 1 CACHE STRING "Wine sessions that installer suites may run in at once")
if(CMAKE_CROSSCOMPILING)
  set(sessions)
  math(EXPR last "${SETUP_WINE_SESSIONS} - 1")
  foreach(session RANGE ${last})
    list(APPEND sessions "{ \"id\": \"${session}\", \"slots\": 1 }")
  endforeach()
  list(JOIN sessions ", " sessions)
  file(WRITE ${CMAKE_BINARY_DIR}/wine-sessions.json
       "{ \"version\": { \"major\": 1, \"minor\": 0 },\n"
       "  \"local\": [ { \"wine_session\": [ ${sessions} ] } ] }\n")
endif()

# setup_add_installer_suite(NAME SHARDS N COMMAND ...): a suite that starts installers, as N
# CTest tests (NAME.1 ... NAME.N when N > 1) of one session each. N is kept to the sessions there
# are: a shard more than sessions only waits.
function(setup_add_installer_suite name)
  cmake_parse_arguments(ARG "" "SHARDS" "COMMAND" ${ARGN})
  set(shards ${ARG_SHARDS})
  if(shards GREATER SETUP_WINE_SESSIONS)
    set(shards ${SETUP_WINE_SESSIONS})
  endif()
  setup_add_shards(${name} ${shards} ${ARG_COMMAND})
  foreach(test IN LISTS SETUP_SHARD_TESTS)
    set_tests_properties(${test} PROPERTIES TIMEOUT 900 RESOURCE_GROUPS wine_session:1)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT SETUP_WINE_NEEDS_SESSION=1)
    setup_test_needs(${test} wine display)
  endforeach()
endfunction()

# setup_add_shards(NAME N COMMAND...): the program as N CTest tests (NAME when N is 1, else
# NAME.1 ... NAME.N), each running its share of the cases by GoogleTest's own sharding. Sets
# SETUP_SHARD_TESTS in the caller to the tests' names.
function(setup_add_shards name shards)
  set(tests)
  foreach(shard RANGE 1 ${shards})
    set(test ${name})
    if(shards GREATER 1)
      set(test ${name}.${shard})
    endif()
    math(EXPR index "${shard} - 1")
    add_test(NAME ${test} COMMAND ${ARGN})
    set_tests_properties(${test} PROPERTIES
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${index}")
    list(APPEND tests ${test})
  endforeach()
  set(SETUP_SHARD_TESTS ${tests} PARENT_SCOPE)
endfunction()

# setup_test_starts_program(TARGET NAME PATH): TARGET calls the function of
# tests/support/NAME_program.cpp (declared in tests/support/built_programs.h), which returns PATH.
# Only that one small file is given the path, which names this build folder.
function(setup_test_starts_program target name path)
  set(source ${PROJECT_SOURCE_DIR}/tests/support/${name}_program.cpp)
  target_sources(${target} PRIVATE ${source})
  set_property(SOURCE ${source} PROPERTY COMPILE_DEFINITIONS "SETUP_TEST_PROGRAM_PATH=\"${path}\"")
endfunction()
