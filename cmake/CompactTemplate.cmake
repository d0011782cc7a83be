# compact-template: stores a linked installer program compact (tools/compact-template/main.cpp).
# It runs on the build machine after the link, so a cross build compiles it with the build
# machine's own compiler; a native build makes it an ordinary target.
set(SETUP_COMPACT_TEMPLATE_SOURCES
  ${PROJECT_SOURCE_DIR}/tools/compact-template/main.cpp
  ${PROJECT_SOURCE_DIR}/tools/setup-pack/image/block_location.cpp
  ${PROJECT_SOURCE_DIR}/tools/setup-pack/image/image_composer.cpp
  ${PROJECT_SOURCE_DIR}/tools/setup-pack/image/pe_layout.cpp)

if(CMAKE_CROSSCOMPILING)
  find_program(SETUP_HOST_CXX NAMES g++ c++ REQUIRED)
  set(SETUP_COMPACT_TEMPLATE ${CMAKE_BINARY_DIR}/host/compact-template)
  set(launcher)
  if(SETUP_CCACHE)
    set(launcher ${SETUP_CCACHE})
  endif()
  set(headers
    ${PROJECT_SOURCE_DIR}/archive/little_endian.h
    ${PROJECT_SOURCE_DIR}/archive/package_block.h
    ${PROJECT_SOURCE_DIR}/tools/setup-pack/cli/tool_error.h
    ${PROJECT_SOURCE_DIR}/tools/setup-pack/image/block_location.h
    ${PROJECT_SOURCE_DIR}/tools/setup-pack/image/image_composer.h
    ${PROJECT_SOURCE_DIR}/tools/setup-pack/image/pe_layout.h)
  # One compilation per source, so that a compiler cache can keep each (it keeps no command that
  # compiles and links several sources at once), then the link.
  set(objects)
  foreach(source IN LISTS SETUP_COMPACT_TEMPLATE_SOURCES)
    get_filename_component(name ${source} NAME_WE)
    set(object ${CMAKE_BINARY_DIR}/host/compact-template.dir/${name}.o)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host/compact-template.dir
      COMMAND ${launcher} ${SETUP_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -Werror
              -I${PROJECT_SOURCE_DIR} -c ${source} -o ${object}
      DEPENDS ${source} ${headers}
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  add_custom_command(
    OUTPUT ${SETUP_COMPACT_TEMPLATE}
    COMMAND ${SETUP_HOST_CXX} ${objects} -o ${SETUP_COMPACT_TEMPLATE}
    DEPENDS ${objects}
    COMMENT "Building compact-template for the build machine"
    VERBATIM)
  add_custom_target(compact_template DEPENDS ${SETUP_COMPACT_TEMPLATE})
else()
  add_executable(compact-template ${SETUP_COMPACT_TEMPLATE_SOURCES})
  target_include_directories(compact-template PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(compact-template PRIVATE setup_warnings)
  set(SETUP_COMPACT_TEMPLATE $<TARGET_FILE:compact-template>)
endif()

# Stores `target`'s image compact right after each link.
function(setup_store_compact target)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${SETUP_COMPACT_TEMPLATE} $<TARGET_FILE:${target}>
                     VERBATIM)
  if(CMAKE_CROSSCOMPILING)
    add_dependencies(${target} compact_template)
  else()
    add_dependencies(${target} compact-template)
  endif()
endfunction()
