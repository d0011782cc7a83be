# Warning flags shared by every target of the project (not by third-party code).
add_library(setup_warnings INTERFACE)
target_compile_options(setup_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  -Wcast-align -Wmissing-declarations -Wnull-dereference -Wformat=2)
if(SETUP_WARNINGS_AS_ERRORS)
  target_compile_options(setup_warnings INTERFACE -Werror)
endif()

if(SETUP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Fuzzing build (clang): coverage for libFuzzer plus the sanitizers on every target.
option(SETUP_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(SETUP_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
