# The installer window and Setup.exe (Windows builds only; included by app/CMakeLists.txt).
enable_language(RC)

# The window, its InstallerUi, the one-installer lock and the title rule: a library so that tests can link them too.
add_library(setup_window STATIC
  installer_form_win32.cpp
  window_ui_win32.cpp
  single_instance_win32.cpp
  application_title.cpp)
target_include_directories(setup_window PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(setup_window PUBLIC setup_jobs gdi32 comctl32 user32
                      PRIVATE setup_warnings)

# The template image: the package block and the settings record in initialized data, for the
# packing tool to fill. The resources (manifest: common controls 6 and DPI awareness; pictures)
# are linked into the image itself.
add_executable(Setup WIN32 main_win32.cpp installer_integrity_win32.cpp package_data.cpp
               terminate_win32.cpp resources/setup.rc)
set_target_properties(Setup PROPERTIES OUTPUT_NAME Setup)
target_include_directories(Setup PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/resources)
target_link_libraries(Setup PRIVATE setup_window setup_warnings)
target_link_options(Setup PRIVATE -static)
# A hardened, reproducible image: relocatable and loaded at a random address, data not
# executable, no link time stamp, so that the same objects always link to the same bytes, and no
# symbols or debugging sections (the static runtime libraries bring theirs along otherwise).
target_link_options(Setup PRIVATE
  -s -Wl,--dynamicbase -Wl,--nxcompat -Wl,--enable-reloc-section -Wl,--no-insert-timestamp)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_link_options(Setup PRIVATE -Wl,--high-entropy-va)
endif()
setup_build_lean(Setup)
# The linker stores the package block's section whole; the template keeps only its head.
setup_store_compact(Setup)
set(SETUP_WINDOW_RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/resources/setup.rc CACHE INTERNAL
    "Resource script of Setup.exe, for test programs that create the installer window")
