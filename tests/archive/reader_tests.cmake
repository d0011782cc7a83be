# The package format, the reader and the writer.
add_library(setup_archive_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/reader_fixture.cpp)
target_link_libraries(setup_archive_test_support
  PUBLIC setup_archive setup_test_support gtest PRIVATE setup_warnings)

setup_add_test(archive_transform_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transform_test.cpp
  LIBS setup_archive)
setup_add_test(archive_writer_reader_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/writer_reader_test.cpp
  LIBS setup_archive_test_support)
setup_add_test(archive_stacker_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stacker_test.cpp
  LIBS setup_archive_test_support)
