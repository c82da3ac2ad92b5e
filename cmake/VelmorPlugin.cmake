# Flags for all effect and framework code. Results are compared bit for bit,
# so no multiply-add may be contracted and no fast-math rewrite is allowed.
add_library(velmor_flags INTERFACE)
target_compile_options(velmor_flags INTERFACE
  -ffp-contract=off -fno-fast-math -fno-unsafe-math-optimizations
  -Wall -Wextra)
# The eight-lane vectors of the wavefronts are always inlined into functions
# compiled for AVX, so none is ever passed by value across a call: GCC's note
# that such a call would change the ABI does not apply.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(velmor_flags INTERFACE -Wno-psabi)
endif()
# A wavefront's sections in four-lane vectors per channel take 320 bytes; GCC
# keeps a local that large in registers only with a higher limit than its
# default, and otherwise reloads it after every store to the channels.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(velmor_flags INTERFACE --param=sra-max-scalarization-size-Ospeed=1024)
endif()
# x86-64 evaluates float arithmetic in SSE registers at its own precision.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86|AMD64|amd64" OR WIN32)
  target_compile_options(velmor_flags INTERFACE -mfpmath=sse -msse2)
endif()

if(PROJECT_VERSION_PATCH STREQUAL "")
  set(VELMOR_VERSION_PATCH_NUMBER 0)
else()
  set(VELMOR_VERSION_PATCH_NUMBER ${PROJECT_VERSION_PATCH})
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${CMAKE_BINARY_DIR}/generated/framework/version.h @ONLY)

add_library(velmor_framework INTERFACE)
target_include_directories(velmor_framework INTERFACE
  ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(velmor_framework INTERFACE velmor_flags)

set(VELMOR_PLUGIN_DIR ${CMAKE_BINARY_DIR}/plugins)
set_property(GLOBAL PROPERTY VELMOR_PLUGIN_NAMES "")
set_property(GLOBAL PROPERTY VELMOR_EFFECT_FOLDERS "")

# velmor_plugin_library(<Name> <output dir> <sources>...): the AviUtl2 plug-in
# <Name>.auf2 from the given sources and the binding's exports, exporting
# exactly the three entry points.
function(velmor_plugin_library name output_dir)
  add_library(${name} MODULE ${ARGN} ${PROJECT_SOURCE_DIR}/bindings/aviutl2/exports.cpp)
  target_link_libraries(${name} PRIVATE velmor_framework)
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".auf2"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${output_dir}
    RUNTIME_OUTPUT_DIRECTORY ${output_dir})
  if(WIN32)
    # Self-contained DLL: only system DLLs may be imported.
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
                        -Wl,--exclude-all-symbols $<$<CONFIG:Release>:-s>)
  else()
    target_link_options(${name} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)
    if(NOT VELMOR_SANITIZE)
      target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()
  endif()
endfunction()

# velmor_effect(<folder>): effects/<folder> compiled once, as the object
# library velmor_effect_<folder>, for every binding that carries it.
function(velmor_effect folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/effects/${folder}/*.cpp)
  add_library(velmor_effect_${folder} OBJECT ${sources})
  target_link_libraries(velmor_effect_${folder} PUBLIC velmor_framework)
  set_target_properties(velmor_effect_${folder} PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# velmor_version_resource(<Name> <effect folder>): the Windows version
# resource of <Name>.auf2. Its description is the effect's information line,
# taken from the effect's source, where it is written once as
# u"..." VELMOR_VERSION_TEXT; the copyright line is LICENSE's.
function(velmor_version_resource name folder)
  file(READ ${PROJECT_SOURCE_DIR}/effects/${folder}/${folder}.cpp source)
  if(NOT source MATCHES "u\"(Velmor [^\"]*)\" VELMOR_VERSION_TEXT")
    message(FATAL_ERROR "effects/${folder}/${folder}.cpp: no information line u\"Velmor ...\" VELMOR_VERSION_TEXT")
  endif()
  set(VELMOR_RC_DESCRIPTION "${CMAKE_MATCH_1}v${VELMOR_VERSION}${VELMOR_STAGE}")
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE VELMOR_RC_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
  set(VELMOR_RC_VERSION "${VELMOR_VERSION}${VELMOR_STAGE}")
  set(VELMOR_RC_NAME ${name})
  set(VELMOR_RC_FILE ${name}.auf2)
  if(VELMOR_STAGE STREQUAL "")
    set(VELMOR_RC_FLAGS 0)
  else()
    set(VELMOR_RC_FLAGS VS_FF_PRERELEASE)
  endif()
  set(rc ${CMAKE_BINARY_DIR}/generated/version/${name}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/effects/${folder}/${folder}.cpp ${PROJECT_SOURCE_DIR}/LICENSE)
  target_sources(${name} PRIVATE ${rc})
endfunction()

# velmor_add_plugin(<Name> <effect folder>): the AviUtl2 deliverable of
# effects/<folder>, through the AviUtl2 binding.
function(velmor_add_plugin name folder)
  velmor_effect(${folder})
  velmor_plugin_library(${name} ${VELMOR_PLUGIN_DIR} ${PROJECT_SOURCE_DIR}/bindings/aviutl2/plugin.cpp
                        $<TARGET_OBJECTS:velmor_effect_${folder}>)
  target_compile_definitions(${name} PRIVATE VELMOR_EFFECT=${folder})
  if(WIN32)
    velmor_version_resource(${name} ${folder})
  endif()
  set_property(GLOBAL APPEND PROPERTY VELMOR_PLUGIN_NAMES ${name})
  set_property(GLOBAL APPEND PROPERTY VELMOR_EFFECT_FOLDERS ${folder})
endfunction()
