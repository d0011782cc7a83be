# Cross-compiling for Windows with mingw-w64. The -posix compilers carry std::thread; the -win32
# ones do not.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SETUP_MINGW_TRIPLE})
set(CMAKE_C_COMPILER ${SETUP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SETUP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SETUP_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SETUP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static images: nothing but system DLLs is needed next to the installer.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine, in the project's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
