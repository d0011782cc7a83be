# The installer program travels with every package, so it is built for size: the code that makes
# it up is compiled -Os, one section a function and a datum, and the link drops every section
# that nothing reaches. The loops that handle every byte of a package (the data transform, the
# archive check, the reader's extraction) keep the speed build: there size buys nothing.
function(setup_build_lean program)
  set(parts setup_format setup_archive setup_host setup_entry_writers setup_jobs setup_window
      ${program})
  foreach(part IN LISTS parts)
    target_compile_options(${part} PRIVATE -Os -ffunction-sections -fdata-sections)
  endforeach()
  set_source_files_properties(
    ${PROJECT_SOURCE_DIR}/archive/transform.cpp
    ${PROJECT_SOURCE_DIR}/archive/package_check.cpp
    ${PROJECT_SOURCE_DIR}/archive/Stacker.cpp
    TARGET_DIRECTORY setup_format setup_archive
    PROPERTIES COMPILE_OPTIONS -O2)
  target_link_options(${program} PRIVATE -Wl,--gc-sections)
endfunction()
