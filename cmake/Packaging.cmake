# Desktop integration and the Debian package (cpack, or: cmake --build <dir> --target package).
include(GNUInstallDirs)

set(KV_APP_ID org.example.kvotomer)
set(KV_RES ${PROJECT_SOURCE_DIR}/resources)

install(FILES ${KV_RES}/${KV_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KV_RES}/${KV_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 72 96 128 256)
  install(FILES ${KV_RES}/icon-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME ${KV_APP_ID}.png)
endforeach()

# Debian wants these compressed with -9 and without a timestamp, so the package is reproducible.
set(KV_GZ_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KV_GZ_DIR})
foreach(pair "debian/changelog:changelog.Debian.gz" "kvotomer.1:kvotomer.1.gz")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 target)
  execute_process(COMMAND gzip -9nc ${KV_RES}/${source}
    OUTPUT_FILE ${KV_GZ_DIR}/${target} COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KV_RES}/${source})
endforeach()
install(FILES ${KV_GZ_DIR}/kvotomer.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KV_RES}/debian/copyright ${KV_GZ_DIR}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvotomer)
set(CPACK_PACKAGE_VENDOR "Kvotomer project")
set(CPACK_PACKAGE_CONTACT "Kvotomer project <kvotomer@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "traffic and money meter for per-megabyte connections")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision makes this a non-native package, which is what changelog.Debian.gz implies.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kvotomer project <kvotomer@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://example.org/kvotomer)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kvotomer watches a prepaid mobile modem, PPPoE or dial-up connection. Once a
second it reads the chosen interface's byte counters and shows the bytes sent
and received, the speed, the megabytes used and the megabytes and money left at
the given tariff, with a speed graph, a tray icon and a floating indicator.

The user interface is in Russian.")
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
