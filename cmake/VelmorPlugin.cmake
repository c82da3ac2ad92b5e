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

# velmor_format_module(<target> <output dir> <file name> <exports map>
#                      <sources>...): a plug-in library of another format
# (LV2, CLAP, VST 3) carrying every effect, named <file name> in <output
# dir>, exporting only what <exports map> names (on Windows, only what the
# sources mark dllexport). Self-contained on Windows.
function(velmor_format_module target output_dir file_name exports_map)
  velmor_effect_objects(effect_objects)
  add_library(${target} MODULE ${ARGN} ${effect_objects})
  target_link_libraries(${target} PRIVATE velmor_framework)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${file_name} PREFIX "" SUFFIX ""
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${output_dir} RUNTIME_OUTPUT_DIRECTORY ${output_dir})
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--exclude-all-symbols
                        $<$<CONFIG:Release>:-s>)
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${exports_map})
    if(NOT VELMOR_SANITIZE)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
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

# velmor_effect_objects(<var>): the object files of every effect, for a
# library or program that carries them all.
function(velmor_effect_objects var)
  get_property(folders GLOBAL PROPERTY VELMOR_EFFECT_FOLDERS)
  set(objects "")
  foreach(folder IN LISTS folders)
    list(APPEND objects $<TARGET_OBJECTS:velmor_effect_${folder}>)
  endforeach()
  set(${var} ${objects} PARENT_SCOPE)
endfunction()

# velmor_generate_effect_lists(): from the effect list (the global
# properties VELMOR_PLUGIN_NAMES and VELMOR_EFFECT_FOLDERS, in the same
# order), the files that name every effect:
#   generated/effect_handlers.h    every effect's handler (the bindings)
#   generated/plugin_list.h        the plug-in names and slugs (tests, benchmarks)
#   generated/reference_registry.h every effect's plain definition (tests)
#   effects.txt                    "Name slug" per line (scripts)
function(velmor_generate_effect_lists)
  get_property(names GLOBAL PROPERTY VELMOR_PLUGIN_NAMES)
  get_property(folders GLOBAL PROPERTY VELMOR_EFFECT_FOLDERS)
  set(handler_declarations "")
  set(handler_array "")
  set(plugin_array "")
  set(slug_array "")
  set(definition_includes "")
  set(definition_entries "")
  set(effect_lines "")
  foreach(name folder IN ZIP_LISTS names folders)
    string(APPEND handler_declarations "namespace velmor::${folder} { extern const EffectHandler kHandler; }\n")
    string(APPEND handler_array "    &${folder}::kHandler,\n")
    string(APPEND plugin_array "    \"${name}\",\n")
    string(APPEND slug_array "    \"${folder}\",\n")
    string(REGEX REPLACE "^Velmor" "" definition ${name})
    string(APPEND definition_includes "#include \"effects/${folder}/definition.h\"\n")
    string(APPEND definition_entries "    {\"${name}\", [] { return MakeFrame<definition::${definition}>(); }},\n")
    string(APPEND effect_lines "${name} ${folder}\n")
  endforeach()
  if(VELMOR_BUILD_LV2)
    if(WIN32)
      set(lv2_library ${CMAKE_BINARY_DIR}/lv2/velmor.lv2/velmor.dll)
    else()
      set(lv2_library ${CMAKE_BINARY_DIR}/lv2/velmor.lv2/velmor.so)
    endif()
  else()
    set(lv2_library "")
  endif()
  if(WIN32)
    set(vst3_module_path ${CMAKE_BINARY_DIR}/vst3/velmor.vst3/Contents/x86_64-win/velmor.vst3)
  else()
    set(vst3_module_path ${CMAKE_BINARY_DIR}/vst3/velmor.vst3/Contents/${CMAKE_SYSTEM_PROCESSOR}-linux/velmor.so)
  endif()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/effect_handlers.h CONTENT
"// Generated by CMake from effects/effects.txt: the handler of every effect.
#pragma once
#include \"framework/effect_handler.h\"
${handler_declarations}namespace velmor {
inline const EffectHandler* const kAllEffects[] = {
${handler_array}};
}  // namespace velmor
" @ONLY)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/plugin_list.h CONTENT
"// Generated by CMake from effects/effects.txt: the plug-ins this build makes.
#pragma once
namespace velmor::test {
inline constexpr const char* kPluginDir = \"${VELMOR_PLUGIN_DIR}\";
inline constexpr const char* kPluginNames[] = {
${plugin_array}};
// The effect folder of each plug-in, in the same order; also its LV2 slug.
inline constexpr const char* kPluginSlugs[] = {
${slug_array}};
inline constexpr const char* kLv2Library = \"${lv2_library}\";
inline constexpr const char* kClapLibrary = \"${CMAKE_BINARY_DIR}/clap/velmor.clap\";
inline constexpr const char* kVst3Module = \"${vst3_module_path}\";
}  // namespace velmor::test
" @ONLY)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/reference_registry.h CONTENT
"// Generated by CMake from effects/effects.txt: every effect's plain
// definition by plug-in name. Included by tests/reference/reference.cpp.
#pragma once
${definition_includes}" @ONLY)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/reference_entries.inc CONTENT "${definition_entries}" @ONLY)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/effects.txt CONTENT "${effect_lines}" @ONLY)
endfunction()
