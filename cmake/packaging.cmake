# What `cmake --install` puts in place and what CPack makes of it: a .deb of the Linux program
# (with its desktop entry and icon), or a .zip per Windows architecture (the programs and the
# README). tools/make-packages.sh makes them all.

# The programs that go into the packages.
set(VARNOTH_PACKAGED_PROGRAMS varnoth-terminal varnoth-upload)

set(CPACK_PACKAGE_NAME varnoth-terminal)
set(CPACK_PACKAGE_VENDOR "Varnoth")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial terminal that uploads programs to TELK7 devices")
set(VARNOTH_MAINTAINER "Varnoth maintainers <maintainers@varnoth.invalid>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${VARNOTH_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Each .exe carries its runtime, so the folder is complete as it is.
  install(TARGETS ${VARNOTH_PACKAGED_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  # The toolchain names the processor by its triplet (i686-w64-mingw32).
  string(REGEX REPLACE "-.*" "" varnoth_architecture "${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_SYSTEM_NAME windows-${varnoth_architecture})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(GNUInstallDirs)
  install(TARGETS ${VARNOTH_PACKAGED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/shell/qt/varnoth-terminal.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon the Windows program shows, drawn by tools/draw-icon.py in the theme's sizes.
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/shell/qt/icons/varnoth-terminal-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME varnoth-terminal.png)
  endforeach()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_PACKAGE_DESCRIPTION
      "A small terminal for one kind of device on a serial line at 9600 baud, 8N1: a pane
showing what the device sends and a line to type into. It loads programs into the device
line by line, paced by the device's answers.")
  # dpkg-shlibdeps (dpkg-dev) finds the libraries the programs link. Qt loads its platform
  # plugins at run time, unseen by it, and without one (xcb) no window can open; Wayland-only
  # desktops want Qt's wayland plugin.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()

include(CPack)
