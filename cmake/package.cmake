# The release of the Windows build: `cmake --build --preset win32 --target
# package` makes build/win32/RykXyLdr-VERSION-win32.zip (the programs made
# with ryk_windows_program and README.txt) and, when Debian's NSIS (makensis)
# is there, the installer build/win32/RykXyLdr-VERSION-win32.exe from
# cmake/release/NSIS.template.in.

# README.txt for Windows users, with Windows line ends so that Notepad shows it.
configure_file(${PROJECT_SOURCE_DIR}/cmake/release/README.txt.in ${CMAKE_BINARY_DIR}/release/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/release/README.txt DESTINATION .)

find_program(RYK_MAKENSIS makensis)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Orvane touchscreens on a multi-monitor desktop")
set(RYK_RELEASE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_FILE_NAME ${RYK_RELEASE_NAME})
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${PROJECT_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_GENERATOR ZIP)
if(RYK_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
endif()
# Our own installer template (NSIS.template.in) comes before CPack's.
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/release)
set(CPACK_NSIS_PACKAGE_NAME "RykXyLdr ${PROJECT_VERSION}")
set(CPACK_NSIS_COMPRESSOR lzma)
set(CPACK_NSIS_EXECUTABLE ${RYK_MAKENSIS})
include(CPack)

# The release's tests, once every program is known (the tools' CMake files
# come after this one):
#   wine_package            makes the package with CPack, and checks that the
#                           zip holds every program and README.txt, no more;
#   wine_installer_imports  the installer's imports against the functions the
#                           first Windows 95 has;
#   wine_installer          the installer under Wine: silent install, files and
#                           Startup shortcut there, RykXyLdr started (with the
#                           test driver), replaced while it runs, silent
#                           uninstall, nothing of ours left.
function(ryk_add_release_tests)
  get_property(programs GLOBAL PROPERTY RYK_WINDOWS_PROGRAMS)
  set(expected README.txt)
  foreach(program ${programs})
    list(APPEND expected ${program}.exe)
  endforeach()
  list(JOIN expected "," expected)
  set(zip ${CMAKE_BINARY_DIR}/${RYK_RELEASE_NAME}.zip)
  set(installer ${CMAKE_BINARY_DIR}/${RYK_RELEASE_NAME}.exe)
  add_test(NAME wine_package
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/wine/check-package
                   --cpack ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
                   --zip ${zip} --expect ${expected})
  set_tests_properties(wine_package PROPERTIES LABELS wine FIXTURES_SETUP ryk_release
                       RESOURCE_LOCK ryk_release TIMEOUT 300)
  if(RYK_MAKENSIS)
    add_test(NAME wine_installer_imports
             COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/wine/check-imports
                     --objdump ${CMAKE_OBJDUMP}
                     --allowlist ${PROJECT_SOURCE_DIR}/tests/wine/installer-imports-allowlist.txt
                     --dlls KERNEL32,USER32,ADVAPI32,GDI32,SHELL32,COMCTL32,OLE32
                     ${installer})
    add_test(NAME wine_installer
             COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/wine/installer-test
                     --build ${CMAKE_BINARY_DIR} --installer ${installer})
    set_tests_properties(wine_installer_imports wine_installer PROPERTIES
      LABELS wine FIXTURES_REQUIRED ryk_release RESOURCE_LOCK ryk_release)
    set_tests_properties(wine_installer PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL ryk_add_release_tests)
