# The Windows build: RykXyLdr.exe and its tools for 32-bit Windows 95/98 and
# NT, cross compiled with MinGW-w64 (cmake/mingw-i686.cmake), plus the Windows
# test programs that run under Wine, the release package and the installer.
#
# Programs users get are made with
#
#   ryk_windows_program(NAME GUI|CONSOLE DESCRIPTION "text" SOURCES file...)
#
# which gives NAME.exe
#   - no C runtime at all: it imports only from KERNEL32, USER32 and ADVAPI32,
#     so it starts on every Windows 95. The program's entry point is WinMain
#     (GUI) or main(argc, argv) (CONSOLE), started by our own small runtime in
#     src/platform/crt (operator new/delete over the process heap, static
#     constructors, atexit, memcpy/memset/memmove/memcmp/strlen/strcmp/
#     strncmp). Text is formatted with FormatText (src/platform/text.h), not
#     printf. Compiled without exceptions and RTTI. Anything else of the C or
#     C++ runtime (printf, std::string, function-local statics with
#     constructors, ...) is a link error, on purpose;
#   - a version resource (version from project(), product name, DESCRIPTION);
#   - the import audit, ctest `wine_imports_NAME` (label wine, no Wine needed),
#     and a check of the version resource, `wine_version_NAME`;
#   - its size in bytes printed after each link (cmake/print-size.cmake);
#   - a place in the release package and the installer (install(TARGETS)).
# Program code the simulated build also compiles can be shared through the
# `rykxyldr` library below, which is compiled the same way.

# Every program of this build must start on Windows 95/98 as a single file: no
# MinGW runtime DLLs beside it, and image subsystem and OS versions of 4.0
# (Windows 95 and NT 4 will not start an image that asks for a newer subsystem).
add_link_options(
  -static -static-libgcc -static-libstdc++
  -Wl,--major-subsystem-version,4,--minor-subsystem-version,0
  -Wl,--major-os-version,4,--minor-os-version,0)

enable_language(RC)

# Runs a Windows program under Wine: scripts/wine-exec PROGRAM.exe [ARGS...].
set(RYK_WINE_EXEC "${PROJECT_SOURCE_DIR}/scripts/wine-exec")

# ryk_add_wine_test(NAME TARGET [ARGS...]): a ctest test, labelled `wine`, that
# runs the Windows program TARGET under Wine; it passes when the program exits 0,
# and is skipped where this machine cannot run Wine.
function(ryk_add_wine_test name target)
  add_test(NAME ${name} COMMAND "${RYK_WINE_EXEC}" "$<TARGET_FILE:${target}>" ${ARGN})
  # wine-exec exits 77 on a machine that cannot run Wine at all.
  set_tests_properties(${name} PROPERTIES LABELS wine SKIP_RETURN_CODE 77)
endfunction()

# How code of the programs users get is compiled: nothing that needs the C++
# runtime's exception or type-information support, and no unwind tables that
# nothing reads.
set(RYK_RUNTIME_FREE_COMPILE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)

# The small runtime of those programs. Its string functions must not be turned
# into calls to themselves.
file(GLOB RYK_CRT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/crt/*.cpp)
add_library(ryk_windows_crt STATIC ${RYK_CRT_SOURCES} ${PROJECT_SOURCE_DIR}/src/platform/text.cpp)
target_include_directories(ryk_windows_crt PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(ryk_windows_crt PRIVATE ${RYK_WARNINGS} ${RYK_RUNTIME_FREE_COMPILE})
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/platform/crt/string.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
# What it and the programs need: the three system DLLs and libgcc (64-bit
# arithmetic, stack probes). Whatever links it gets them after it.
target_link_libraries(ryk_windows_crt PUBLIC kernel32 user32 advapi32 gcc)

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# ryk_link_runtime_free(TARGET GUI|CONSOLE): compiles and links the
# executable TARGET without any C runtime, as ryk_windows_program does (for
# test programs that are not part of the release).
function(ryk_link_runtime_free name kind)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${RYK_WARNINGS}>
    $<$<COMPILE_LANGUAGE:CXX>:${RYK_RUNTIME_FREE_COMPILE}>)
  if(kind STREQUAL "GUI")
    set(entry _RykGuiStartup)
    set(subsystem windows)
  else()
    set(entry _RykConsoleStartup)
    set(subsystem console)
  endif()
  # No start files and no default libraries: our runtime, the three system
  # DLLs and libgcc only. Symbols stripped.
  target_link_options(${name} PRIVATE
    -nostdlib -nostartfiles -s
    -Wl,--entry,${entry} -Wl,--subsystem,${subsystem}:4.0
    -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc)
  target_link_libraries(${name} PRIVATE ryk_windows_crt)
endfunction()

# ryk_windows_program(NAME GUI|CONSOLE DESCRIPTION "text" SOURCES file...):
# see the top of this file.
function(ryk_windows_program name)
  # EXTRA_DLLS: system DLLs it may import from besides the three (GDI32 for
  # the one program that draws).
  cmake_parse_arguments(PARSE_ARGV 1 arg "GUI;CONSOLE" "DESCRIPTION" "SOURCES;EXTRA_DLLS")
  if(arg_GUI STREQUAL arg_CONSOLE)
    message(FATAL_ERROR "ryk_windows_program(${name}): say GUI or CONSOLE")
  endif()
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "ryk_windows_program(${name}): DESCRIPTION is missing")
  endif()

  # The version resource, from the version in project().
  set(RYK_RC_NAME ${name})
  set(RYK_RC_DESCRIPTION "${arg_DESCRIPTION}")
  set(RYK_RC_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)

  add_executable(${name} ${arg_SOURCES} ${arg_UNPARSED_ARGUMENTS} ${rc})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  if(arg_GUI)
    ryk_link_runtime_free(${name} GUI)
  else()
    ryk_link_runtime_free(${name} CONSOLE)
  endif()

  set(dlls_arg)
  if(arg_EXTRA_DLLS)
    string(REPLACE ";" "," extra "${arg_EXTRA_DLLS}")
    set(dlls_arg --dlls KERNEL32,USER32,ADVAPI32,${extra})
    foreach(dll IN LISTS arg_EXTRA_DLLS)
      string(TOLOWER "${dll}" lower)
      list(APPEND dlls_arg --extra-allowlist ${PROJECT_SOURCE_DIR}/tests/wine/imports-allowlist-${lower}.txt)
    endforeach()
    string(TOLOWER "${arg_EXTRA_DLLS}" libs)
    target_link_libraries(${name} PRIVATE ${libs})
  endif()

  # What it imports, and its version resource.
  add_test(NAME wine_imports_${name}
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/wine/check-imports
                   --objdump ${CMAKE_OBJDUMP}
                   --allowlist ${PROJECT_SOURCE_DIR}/tests/wine/imports-allowlist.txt
                   ${dlls_arg}
                   $<TARGET_FILE:${name}>)
  add_test(NAME wine_version_${name}
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/wine/check-version
                   --windres ${CMAKE_RC_COMPILER}
                   --version ${PROJECT_VERSION} --product ${PROJECT_NAME}
                   --description "${arg_DESCRIPTION}"
                   $<TARGET_FILE:${name}>)
  set_tests_properties(wine_imports_${name} wine_version_${name} PROPERTIES LABELS wine)

  # What it weighs, printed after each link (the figure in the README).
  add_custom_command(TARGET ${name} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${name}> -P ${PROJECT_SOURCE_DIR}/cmake/print-size.cmake
                     VERBATIM)

  install(TARGETS ${name} RUNTIME DESTINATION .)
  set_property(GLOBAL APPEND PROPERTY RYK_WINDOWS_PROGRAMS ${name})
endfunction()

# The program's subsystems as one library, so that Windows test programs and
# the tools can link them exactly as the product does. Named like the
# simulated build's.
add_library(rykxyldr STATIC ${RYK_PROGRAM_SOURCES})
target_include_directories(rykxyldr PUBLIC src)
target_compile_options(rykxyldr PRIVATE ${RYK_WARNINGS} ${RYK_RUNTIME_FREE_COMPILE})
# Its operator new and string functions come from our runtime, which must
# follow it on the link line of whatever links it.
target_link_libraries(rykxyldr PUBLIC ryk_windows_crt)

# The program itself: every subsystem, WinMain among them, linked whole. A
# GUI-subsystem program: no console window when Windows starts it.
ryk_windows_program(RykXyLdr GUI
  DESCRIPTION "RykXyLdr: Orvane touchscreens on a multi-monitor desktop"
  SOURCES ${RYK_PROGRAM_SOURCES})

add_subdirectory(tests/conformance)
add_subdirectory(sim/wine)
add_subdirectory(bench/wine)
add_subdirectory(tests/wine)

include(${PROJECT_SOURCE_DIR}/cmake/package.cmake)
