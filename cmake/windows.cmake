# The Windows build: RykXyLdr.exe for 32-bit Windows 95/98 and NT, cross
# compiled with MinGW-w64 (cmake/mingw-i686.cmake), plus the Windows test
# programs that run under Wine.

# Every program of this build must start on Windows 95/98 as a single file: no
# MinGW runtime DLLs beside it, and image subsystem and OS versions of 4.0
# (Windows 95 and NT 4 will not start an image that asks for a newer subsystem).
add_link_options(
  -static -static-libgcc -static-libstdc++
  -Wl,--major-subsystem-version,4,--minor-subsystem-version,0
  -Wl,--major-os-version,4,--minor-os-version,0)

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

# The program's subsystems as one library, so that Windows test programs can
# link them exactly as the product does. Named like the simulated build's.
if(RYK_PROGRAM_SOURCES)
  add_library(rykxyldr STATIC ${RYK_PROGRAM_SOURCES})
  target_include_directories(rykxyldr PUBLIC src)
  target_compile_options(rykxyldr PRIVATE ${RYK_WARNINGS})
endif()

if(TARGET rykxyldr)
  # The program itself: every subsystem, WinMain among them, linked whole.
  add_executable(RykXyLdr ${RYK_PROGRAM_SOURCES})
  target_include_directories(RykXyLdr PRIVATE src)
  target_compile_options(RykXyLdr PRIVATE ${RYK_WARNINGS})
  # A GUI-subsystem program: no console window when Windows starts it.
  target_link_options(RykXyLdr PRIVATE -mwindows)
endif()

if(EXISTS "${PROJECT_SOURCE_DIR}/tests/conformance/CMakeLists.txt")
  add_subdirectory(tests/conformance)
endif()

if(EXISTS "${PROJECT_SOURCE_DIR}/sim/wine/CMakeLists.txt")
  add_subdirectory(sim/wine)
endif()

if(EXISTS "${PROJECT_SOURCE_DIR}/tests/wine/CMakeLists.txt")
  add_subdirectory(tests/wine)
endif()
