# Compiled resources for the Linux build: compiles a resource script to a .res with windres and embeds its
# bytes in a target, installed as the program's resources before main runs. Leaves out the Windows build,
# which links the script through CMake's RC language instead.
#
# Included by win32/resources/CMakeLists.txt (defines pelomi_embed_resources), and run with -P by the build
# to turn a .res into a C++ source (RES_FILE, OUTPUT_FILE, SCRIPT_NAME).

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${RES_FILE}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR byteCount "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 line)  # CMake's regular expressions have no {n}
  string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
  string(STRIP "${bytes}" bytes)
  file(WRITE "${OUTPUT_FILE}" "\
// The program's compiled resources (${SCRIPT_NAME}, ${byteCount} bytes), written by the build from the .res.
// Installs them as the resources of the program's module before main runs.
#include <cstddef>
#include <cstdint>

#include \"base/module.h\"

namespace {

const uint8_t kCompiledResources[] = {
    ${bytes}
};

struct ResourceInstaller {
    ResourceInstaller() { w32::SetProgramResources(kCompiledResources, sizeof kCompiledResources); }
} resourceInstaller;

}  // namespace
")
  return()
endif()

find_program(PELOMI_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres windres
             DOC "windres, the resource compiler for the program's resource script")
if(NOT PELOMI_WINDRES)
  message(FATAL_ERROR "windres not found: install binutils-mingw-w64-i686")
endif()
# Cached so that the functions see them when called from other directories.
set(PELOMI_EMBED_RESOURCES_SCRIPT ${CMAKE_CURRENT_LIST_FILE} CACHE INTERNAL "")
set(PELOMI_RC_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/rc CACHE INTERNAL "")
get_filename_component(PELOMI_WIN32_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(PELOMI_WIN32_DIR ${PELOMI_WIN32_DIR} CACHE INTERNAL "")

# pelomi_compile_rc(RES_VAR rcfile [DEPENDS files...]): a custom command compiling `rcfile` to a .res in the
# current binary directory; its path is returned in RES_VAR. The script is UTF-8 with #pragma code_page(65001);
# it is preprocessed with the host C compiler against the layer's winresrc.h. windres, the compiler of the
# Windows build too, rather than llvm-rc: llvm-rc 14 refuses ALT on character accelerators, which the
# program's Alt+? and Alt+/ are.
function(pelomi_compile_rc resVar rcFile)
  cmake_parse_arguments(RC "" "" "DEPENDS" ${ARGN})
  get_filename_component(rcDir ${rcFile} DIRECTORY)
  get_filename_component(rcName ${rcFile} NAME_WE)
  set(resFile ${CMAKE_CURRENT_BINARY_DIR}/${rcName}.res)
  add_custom_command(
    OUTPUT ${resFile}
    COMMAND ${PELOMI_WINDRES}
            --preprocessor=${CMAKE_C_COMPILER} --preprocessor-arg=-E --preprocessor-arg=-xc
            --preprocessor-arg=-DRC_INVOKED
            -I ${rcDir} -I ${PELOMI_RC_INCLUDE_DIR} -O res -o ${resFile} ${rcFile}
    WORKING_DIRECTORY ${rcDir}
    DEPENDS ${rcFile} ${RC_DEPENDS} ${PELOMI_RC_INCLUDE_DIR}/winresrc.h
    COMMENT "Compiling resources ${rcName}.rc"
    VERBATIM)
  set(${resVar} ${resFile} PARENT_SCOPE)
endfunction()

# pelomi_embed_resources(target rcfile [DEPENDS files...]): compiles `rcfile` and adds to `target` a source
# holding the .res bytes that installs them as the program's resources (w32::SetProgramResources) during
# static initialisation. `target` must link `win32`. DEPENDS lists what the script includes (headers, icons).
function(pelomi_embed_resources target rcFile)
  pelomi_compile_rc(resFile ${rcFile} ${ARGN})
  get_filename_component(rcName ${rcFile} NAME)
  get_filename_component(resBase ${resFile} NAME_WE)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_${resBase}_res.cpp)
  add_custom_command(
    OUTPUT ${source}
    COMMAND ${CMAKE_COMMAND} -DRES_FILE=${resFile} -DOUTPUT_FILE=${source} -DSCRIPT_NAME=${rcName}
            -P ${PELOMI_EMBED_RESOURCES_SCRIPT}
    DEPENDS ${resFile} ${PELOMI_EMBED_RESOURCES_SCRIPT}
    COMMENT "Embedding ${resBase}.res in ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${source})
  set_source_files_properties(${source} PROPERTIES INCLUDE_DIRECTORIES ${PELOMI_WIN32_DIR})
endfunction()
