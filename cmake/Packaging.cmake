# setup-pack as a Debian package, the way vendors get their tools: `cmake --install` of the native
# build puts the tool, its manual page and both installer templates (built by the win32 and win64
# presets) below the prefix, and `cpack -G DEB` makes the same into a package. The version is the
# project's (top-level project() call). The package's time stamps are SOURCE_DATE_EPOCH, by default
# the time of the commit (CPackProjectConfig.cmake.in): the same commit gives the same bytes.
include(GNUInstallDirs)

set(SETUP_TEMPLATE_WIN32 "${PROJECT_SOURCE_DIR}/build/win32/app/Setup.exe" CACHE FILEPATH
    "The installer template of the win32 preset, installed as share/setup-pack/Setup-win32.exe")
set(SETUP_TEMPLATE_WIN64 "${PROJECT_SOURCE_DIR}/build/win64/app/Setup.exe" CACHE FILEPATH
    "The installer template of the win64 preset, installed as share/setup-pack/Setup-win64.exe")
set(SETUP_PACKAGE_MAINTAINER "The Setup authors <setup@example.com>" CACHE STRING
    "Maintainer field of the Debian package: name and e-mail address")

# The manual page and the changelog, compressed as Debian wants them: -n leaves out the name and
# time stamp that would make each run's bytes differ.
set(packaging_dir ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/tools/setup-pack/debian/changelog.in
               ${packaging_dir}/changelog @ONLY)
foreach(source IN ITEMS ${PROJECT_SOURCE_DIR}/docs/setup-pack.1 ${packaging_dir}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(
    OUTPUT ${packaging_dir}/${name}.gz
    COMMAND gzip -9 -n -c ${source} > ${packaging_dir}/${name}.gz
    DEPENDS ${source})
  list(APPEND compressed ${packaging_dir}/${name}.gz)
endforeach()
add_custom_target(setup_pack_package_files ALL DEPENDS ${compressed})

install(TARGETS setup-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging_dir}/setup-pack.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${SETUP_TEMPLATE_WIN32} DESTINATION ${CMAKE_INSTALL_DATADIR}/setup-pack
        RENAME Setup-win32.exe)
install(FILES ${SETUP_TEMPLATE_WIN64} DESTINATION ${CMAKE_INSTALL_DATADIR}/setup-pack
        RENAME Setup-win64.exe)
# The version has no Debian revision: a native package, whose changelog is changelog.gz.
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/setup-pack)
install(FILES ${PROJECT_SOURCE_DIR}/tools/setup-pack/debian/copyright DESTINATION ${doc_dir})
install(FILES ${packaging_dir}/changelog.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME setup-pack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SETUP_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes self-contained Windows installers")
set(CPACK_PACKAGE_DESCRIPTION
    "setup-pack turns a folder of product files into a self-contained Windows
installer: a copy of an installer program that carries a scrambled package of
the files, a window caption and the job it runs (install a Delphi or C++Builder
component library, or unpack an application's setup and start it). It also
lists, verifies and extracts such packages. The installer programs for 32-bit
and 64-bit Windows come with it.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake.in
               ${packaging_dir}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${packaging_dir}/CPackProjectConfig.cmake)
include(CPack)
