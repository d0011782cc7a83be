# The manifest reader, through the archive reader over archives made by the project's writer.
setup_add_test(manifest_test
  SOURCES manifest_test.cpp
  LIBS setup_archive)
