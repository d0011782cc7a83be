# Test programs are linked with LLVM's lld (scripts/install-toolchain.sh installs it). With every
# compilation in the compiler cache, linking is what is left of a Windows build: GNU ld took 2 to
# 6 s for each of the twenty test programs, lld a tenth of that. What we ship (the installer and
# the tool) keeps the toolchain's own linker, as do the image checks that relink the installer.
#
# setup_link_tests_with_lld(): for the targets made after it in this folder and below.
find_program(SETUP_LLD ld.lld)

function(setup_link_tests_with_lld)
  if(NOT SETUP_LLD)
    message(STATUS "ld.lld not found: test programs are linked with the toolchain's linker")
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    add_link_options(-fuse-ld=lld)
  else()
    # mingw-w64's gcc is built with a fixed path to its linker, which -fuse-ld and -B do not
    # change; its link step runs through a wrapper that hands collect2's arguments to lld.
    add_link_options("SHELL:-wrapper ${PROJECT_SOURCE_DIR}/cmake/link-with-lld.sh,${SETUP_LLD}")
  endif()
endfunction()
