# Install rules and the Debian package. Included at the end of the top CMakeLists.txt, once every
# target exists: what is installed follows what this configuration builds.

include(GNUInstallDirs)

# The installed application keeps its settings in ~/.config/vorlix/INI, since the folder beside
# it (/usr/bin) is not writable. The simulator needs --ini-dir there for the same reason.
if(TARGET vorlix)
  install(TARGETS vorlix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The command line beside the application, with its manual page.
if(TARGET vorlix-cli)
  install(TARGETS vorlix-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(UNIX)
    install(FILES ${PROJECT_SOURCE_DIR}/cli/vorlix-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()
if(TARGET vorlix-sim)
  install(TARGETS vorlix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(UNIX AND NOT APPLE)
  # The menu entry and its icon: scalable, and the two sizes drawn from it for themes that
  # want bitmaps.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/vorlix.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/vorlix.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 48 256)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/vorlix-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME vorlix.png)
  endforeach()
endif()

# The licence and the notices of what the programs are built with: in the package's copyright
# file on Debian; the Windows packages carry them as text (scripts/deploy-windows.sh).
if(UNIX AND NOT APPLE)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorlix)
endif()

set(VORLIX_PACKAGE_MAINTAINER "vorlix developers <developers@vorlix.invalid>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME vorlix)
set(CPACK_PACKAGE_VENDOR "vorlix developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Service utility for the pressure and temperature sensors of a gas volume corrector")
set(CPACK_PACKAGE_DESCRIPTION
  "vorlix talks over a serial port to a gas volume corrector, or straight to one of its \
sensors, to watch the measured pressure or temperature and to calibrate the sensor by two \
points. vorlix-cli offers the same from a terminal, for benches and scripts. It includes vorlix-sim, a simulator of the corrector and its sensors on a \
pseudo-terminal for trying the program without hardware.")
set(CPACK_PACKAGE_CONTACT "${VORLIX_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORLIX_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps works out the libraries (Qt 6, the C++ runtime) from the binaries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt's own dialogs and buttons in Ukrainian (qtbase_uk.qm); no library names it.
  if(TARGET vorlix)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
  endif()
endif()

include(CPack)

# The package test: builds the .deb from this build tree, unpacks it into a scratch root and
# checks what is there.
if(VORLIX_BUILD_TESTS AND NOT WIN32)
  find_program(VORLIX_DPKG_DEB dpkg-deb)
  find_program(VORLIX_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(VORLIX_DPKG_DEB AND VORLIX_DPKG_SHLIBDEPS)
    set(check_args --build-dir ${PROJECT_BINARY_DIR})
    if(TARGET vorlix)
      list(APPEND check_args --expect-gui)
      find_program(XVFB_RUN_FOR_PACKAGE xvfb-run)
      if(XVFB_RUN_FOR_PACKAGE)
        list(APPEND check_args --gui-check ${PROJECT_SOURCE_DIR}/packaging/installed-gui-check.sh)
      endif()
    endif()
    add_test(NAME package_deb
      COMMAND ${PROJECT_SOURCE_DIR}/packaging/check-package.sh ${check_args})
    set_tests_properties(package_deb PROPERTIES LABELS package TIMEOUT 300)
  else()
    message(STATUS "dpkg-deb or dpkg-shlibdeps (dpkg-dev) not found: the package test is skipped")
  endif()
endif()
