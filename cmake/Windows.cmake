# Windows build trees: win64 runs all its tests under the installed Wine; win32 runs a small group
# through the private 32-bit Wine that scripts/wine32 builds, when the tree is given its sysroot.

# Every Windows program of a tree runs in the tree's own Wine prefix.
set(DORVEX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(DORVEX_RUNS_HERE ON)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run;${DORVEX_WINEPREFIX})
else()
  set(DORVEX_RUNS_HERE OFF)
  set(DORVEX_WINE32 "" CACHE PATH
    "Sysroot of the private 32-bit Wine (the path scripts/wine32 prints); empty: no 32-bit tests")
  if(DORVEX_WINE32)
    if(NOT EXISTS ${DORVEX_WINE32}/usr/lib/wine/wine64)
      message(FATAL_ERROR "DORVEX_WINE32=${DORVEX_WINE32} is not a sysroot built by scripts/wine32")
    endif()
    set(DORVEX_RUNS_WIN32 ON)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine32-run;${DORVEX_WINE32};${DORVEX_WINEPREFIX})
    message(STATUS "32-bit tests run through the Wine in ${DORVEX_WINE32}")
  else()
    message(STATUS "32-bit tests not registered: configure with -DDORVEX_WINE32=$(scripts/wine32)")
  endif()
endif()


add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

# widl: IDL imports come from Wine's headers, stdole2.tlb from Wine's runtime.
set(DORVEX_IDL_INCLUDE /usr/include/wine/wine/windows)
find_file(DORVEX_STDOLE2 stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows /usr/lib64/wine/x86_64-windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(DORVEX_STDOLE2_DIR ${DORVEX_STDOLE2} DIRECTORY)

# dorvex_idl(<name> <idl>): compiles <idl> into <name>.tlb, <name>_h.h and <name>_i.c in the current
# binary dir and defines the interface target <name>_idl that carries the header and the GUID definitions.
# The type library's path is <name>_TLB here and the target's property DORVEX_TLB for other folders.
function(dorvex_idl name idl)
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_command(
    OUTPUT ${out}/${name}.tlb ${out}/${name}_h.h ${out}/${name}_i.c
    COMMAND ${DORVEX_WIDL} ${DORVEX_WIDL_FLAGS} -I ${DORVEX_IDL_INCLUDE} -I ${CMAKE_SOURCE_DIR}/src
            -L ${DORVEX_STDOLE2_DIR} -t -o ${out}/${name}.tlb ${idl_abs}
    COMMAND ${DORVEX_WIDL} ${DORVEX_WIDL_FLAGS} -I ${DORVEX_IDL_INCLUDE} -I ${CMAKE_SOURCE_DIR}/src
            -h -o ${out}/${name}_h.h ${idl_abs}
    COMMAND ${DORVEX_WIDL} ${DORVEX_WIDL_FLAGS} -I ${DORVEX_IDL_INCLUDE} -I ${CMAKE_SOURCE_DIR}/src
            -u -o ${out}/${name}_i.c ${idl_abs}
    DEPENDS ${idl_abs}
    COMMENT "widl ${idl}")
  add_custom_target(${name}_idlgen DEPENDS ${out}/${name}.tlb ${out}/${name}_h.h ${out}/${name}_i.c)
  add_library(${name}_idl STATIC ${out}/${name}_i.c)
  add_dependencies(${name}_idl ${name}_idlgen)
  target_include_directories(${name}_idl PUBLIC ${out})
  set_source_files_properties(${out}/${name}_i.c PROPERTIES GENERATED TRUE)
  set_target_properties(${name}_idl PROPERTIES DORVEX_TLB ${out}/${name}.tlb)
  set(${name}_TLB ${out}/${name}.tlb PARENT_SCOPE)
endfunction()

# GoogleTest from Debian's source package, built with the cross compiler.
if(BUILD_TESTING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Unoptimised: the framework's own speed does not matter, and at -O2 it was the longest file of a build.
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -w -O0 -g0)
  endforeach()
  include(GoogleTest)
endif()

# Precompiled headers. The Windows and library headers are four fifths of each file's compile time (a
# file with shlobj.h parses about 260 MB of declarations), so every C++ target of the Windows side but
# the portable ones takes them from one precompiled header per tree, and the tests from a second one with
# GoogleTest. GCC refuses a header built with other options (-Winvalid-pch, an error here).
set(DORVEX_PCH_HEADERS <windows.h> <ole2.h> <oleauto.h> <olectl.h> <ocidl.h> <commctrl.h> <shlobj.h>
  <shellapi.h> <oleacc.h> <algorithm> <cstdint> <cstdio> <cstring> <deque> <functional> <map> <memory>
  <mutex> <string> <string_view> <utility> <vector>)
file(WRITE ${CMAKE_BINARY_DIR}/pch.cpp "// Compiles the precompiled headers.\n")
add_library(dorvex_pch OBJECT ${CMAKE_BINARY_DIR}/pch.cpp)
target_precompile_headers(dorvex_pch PRIVATE ${DORVEX_PCH_HEADERS})
if(BUILD_TESTING)
  add_library(dorvex_test_pch OBJECT ${CMAKE_BINARY_DIR}/pch.cpp)
  target_link_libraries(dorvex_test_pch PRIVATE GTest::gtest)
  target_precompile_headers(dorvex_test_pch PRIVATE ${DORVEX_PCH_HEADERS} <gtest/gtest.h>)
endif()
# dorvex_precompiled(<pch target> <target>...): the targets take their headers from <pch target>.
function(dorvex_precompiled pch)
  foreach(target ${ARGN})
    target_precompile_headers(${target} REUSE_FROM ${pch})
  endforeach()
endfunction()

# dorvex_wine_test(<target>): registers a GoogleTest program of the tree; its cases are listed
# at test time (so building needs no Wine) and each runs under Wine with the modules registered.
function(dorvex_wine_test target)
  if(DORVEX_RUNS_HERE)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES FIXTURES_REQUIRED registered TIMEOUT 300)
  endif()
endfunction()

# All modules and programs of a tree side by side, as they are installed: the control finds the host
# libraries next to it and CoCreateInstance finds the registered paths.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
