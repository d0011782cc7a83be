# The platform layer: strings, temporary folder and DeleteTree; the file layer; processes. The same
# sources run natively and under Wine; what the system really carries is read back through
# platform_probe_*.cpp rather than through the layer under test.
add_library(host_test_probe STATIC
  ${CMAKE_CURRENT_LIST_DIR}/platform_probe_${SETUP_PLATFORM}.cpp)
target_link_libraries(host_test_probe PUBLIC setup_host PRIVATE setup_warnings)

# The child that the process tests start and hold at a gate.
add_executable(host_test_child
  ${CMAKE_CURRENT_LIST_DIR}/test_child.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_child_${SETUP_PLATFORM}.cpp)
target_include_directories(host_test_child PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(host_test_child PRIVATE setup_warnings)
# A window-subsystem program on Windows: a console one gets a console host of its own under Wine,
# which outlives it for a moment while still holding the current folder, so the test could not
# remove its folder right after the child ended.
set_target_properties(host_test_child PROPERTIES WIN32_EXECUTABLE ON)

setup_add_test(host_helpers_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/helpers_test.cpp
  LIBS host_test_probe)
set(platform_tests)
if(NOT WIN32)
  set(platform_tests ${CMAKE_CURRENT_LIST_DIR}/mapped_file_cut_test_posix.cpp
                     ${CMAKE_CURRENT_LIST_DIR}/native_spelling_test_posix.cpp)
endif()
setup_add_test(host_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/files_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mapped_file_test.cpp
          ${platform_tests}
  LIBS host_test_probe)
setup_add_test(host_process_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp
  LIBS host_test_probe)
add_dependencies(host_process_test host_test_child)
target_compile_definitions(host_process_test PRIVATE
  HOST_TEST_CHILD_FILE_NAME="$<TARGET_FILE_NAME:host_test_child>")
if(CMAKE_CROSSCOMPILING)
  # Under Wine a program that cannot be started gets the shell's error box, which needs a display.
  setup_test_needs(host_process_test display)
endif()
