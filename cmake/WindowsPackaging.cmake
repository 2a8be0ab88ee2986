# The Windows program as people get it: kvotomer.exe with its icon and version, the Qt DLLs and
# plugins it loads, and the MinGW runtime those DLLs need, all in one folder; an NSIS installer
# and a portable zip of that folder (cpack, or: cmake --build <dir> --target package).
set(KV_RES ${PROJECT_SOURCE_DIR}/resources)

enable_language(RC)
configure_file(${KV_RES}/windows/kvotomer.rc.in ${PROJECT_BINARY_DIR}/kvotomer.rc @ONLY)
target_sources(kvotomer PRIVATE ${PROJECT_BINARY_DIR}/kvotomer.rc)
# windres reads the icon; CMake does not see that by itself.
set_source_files_properties(${PROJECT_BINARY_DIR}/kvotomer.rc TARGET_DIRECTORY kvotomer
  PROPERTIES OBJECT_DEPENDS ${KV_RES}/kvotomer.ico)

install(TARGETS kvotomer RUNTIME DESTINATION .)
# Qt's DLLs stay separate files, so a user can put in another build of them (LGPL).
foreach(module Core Gui Widgets Network)
  install(IMPORTED_RUNTIME_ARTIFACTS Qt6::${module} DESTINATION .)
endforeach()
install(IMPORTED_RUNTIME_ARTIFACTS Qt6::QWindowsIntegrationPlugin DESTINATION platforms)
install(IMPORTED_RUNTIME_ARTIFACTS Qt6::QWindowsVistaStylePlugin DESTINATION styles)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(NOT IS_ABSOLUTE "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
  endif()
  install(FILES ${path} DESTINATION .)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
# People download this over the very links they pay for by the megabyte: the runtime DLLs come
# with debug sections that are most of their size.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB_RECURSE dlls \"\${CMAKE_INSTALL_PREFIX}/*.dll\")
    execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded \${dlls} COMMAND_ERROR_IS_FATAL ANY)
  endif()")

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME Kvotomer)
set(CPACK_PACKAGE_VENDOR "Kvotomer project")
set(CPACK_PACKAGE_FILE_NAME kvotomer-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Kvotomer)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The Start-menu entry: kvotomer.exe, named in Russian.
set(CPACK_PACKAGE_EXECUTABLES kvotomer "Квотомер")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Квотомер")
set(CPACK_NSIS_PACKAGE_NAME "Квотомер")
set(CPACK_NSIS_INSTALLED_ICON_NAME kvotomer.exe)
set(CPACK_NSIS_MUI_ICON ${KV_RES}/kvotomer.ico)
set(CPACK_NSIS_MUI_UNIICON ${KV_RES}/kvotomer.ico)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_STRIP_FILES ON)
# CMake writes the installer script in UTF-8 without saying so; makensis would read it in the
# ANSI code page and make an ANSI installer.
find_program(KV_MAKENSIS makensis)
if(KV_MAKENSIS)
  file(WRITE ${PROJECT_BINARY_DIR}/makensis-utf8
    "#!/bin/sh\nexec '${KV_MAKENSIS}' -INPUTCHARSET UTF8 '-XTarget amd64-unicode' \"$@\"\n")
  file(CHMOD ${PROJECT_BINARY_DIR}/makensis-utf8 PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_NSIS_EXECUTABLE ${PROJECT_BINARY_DIR}/makensis-utf8)
endif()
include(CPack)
