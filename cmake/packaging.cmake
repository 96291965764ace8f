# What `cmake --install` puts in place and what CPack makes of it: a .deb of the Linux programs
# (with their manual pages, the desktop entry, icon and software-centre entry), or for each
# Windows architecture an installer and a .zip (the programs, the README and docs/).
# tools/make-packages.sh makes them all.

# The programs that go into the packages.
set(VARNOTH_PACKAGED_PROGRAMS varnoth-terminal varnoth-upload)

set(CPACK_PACKAGE_NAME varnoth-terminal)
set(CPACK_PACKAGE_VENDOR "Varnoth")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial terminal that uploads programs to TELK7 devices")
set(VARNOTH_MAINTAINER "Varnoth maintainers <maintainers@varnoth.invalid>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${VARNOTH_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

# The package's changelog and the software-centre entry each name the version they describe;
# a version without its entry would ship a package that says it is older than it is.
foreach(described cmake/debian/changelog shell/qt/invalid.varnoth.terminal.metainfo.xml)
  file(READ ${PROJECT_SOURCE_DIR}/${described} text)
  if(NOT text MATCHES "\\(${PROJECT_VERSION}\\)|version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "${described} has no entry for version ${PROJECT_VERSION}: add one")
  endif()
endforeach()

# The README's pages for users, and the picture it shows.
set(varnoth_pages ${PROJECT_SOURCE_DIR}/docs/using.md ${PROJECT_SOURCE_DIR}/docs/upload.md
                  ${PROJECT_SOURCE_DIR}/docs/installing.md ${PROJECT_SOURCE_DIR}/docs/windows.md
                  ${PROJECT_SOURCE_DIR}/docs/screenshot.png)

if(WIN32)
  # Each .exe carries its runtime, so the folder is complete as it is.
  install(TARGETS ${VARNOTH_PACKAGED_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${varnoth_pages} DESTINATION docs)
  # The toolchain names the processor by its triplet (i686-w64-mingw32).
  string(REGEX REPLACE "-.*" "" varnoth_architecture "${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_SYSTEM_NAME windows-${varnoth_architecture})
  # An installer (NSIS, Debian's nsis package) for those who install programs the Windows way,
  # the .zip for those who want one file. The installer is made from cmake/nsis.
  set(CPACK_GENERATOR ZIP NSIS)
  list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "Varnoth serial terminal")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY varnoth-terminal)
  set(CPACK_NSIS_PACKAGE_NAME "Varnoth serial terminal")
  set(CPACK_NSIS_DISPLAY_NAME "Varnoth serial terminal")
  set(CPACK_VARNOTH_NSIS_ICON ${PROJECT_SOURCE_DIR}/shell/win32/terminal.ico)
  if(varnoth_architecture STREQUAL "x86_64")
    set(CPACK_VARNOTH_NSIS_TARGET amd64-unicode)
  else()
    set(CPACK_VARNOTH_NSIS_TARGET x86-unicode)
  endif()
else()
  include(GNUInstallDirs)
  install(TARGETS ${VARNOTH_PACKAGED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/shell/qt/varnoth-terminal.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # What software centres show (GNOME Software, KDE Discover).
  install(FILES ${PROJECT_SOURCE_DIR}/shell/qt/invalid.varnoth.terminal.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # Debian's documentation folder: the copyright and the changelog (gzip -9n, as Debian's
  # tools compress them, so that the same sources make the same package), and the README and
  # the pages the manual pages point to, laid out as in the sources so that their links hold.
  set(varnoth_doc ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
  set(varnoth_changelog ${PROJECT_BINARY_DIR}/changelog.gz)
  add_custom_command(
    OUTPUT ${varnoth_changelog}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
            ${PROJECT_BINARY_DIR}/changelog
    COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
    VERBATIM)
  add_custom_target(varnoth_changelog ALL DEPENDS ${varnoth_changelog})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${varnoth_changelog}
                ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${varnoth_doc})
  install(FILES ${varnoth_pages} DESTINATION ${varnoth_doc}/docs)

  # The manual pages, made by help2man from each program's --help and --version when the
  # programs are built, so that they follow the options; docs/man adds what --help leaves
  # out (port numbers, files, examples). Only the release build makes them: a sanitizer build
  # has no business running its programs to build.
  option(VARNOTH_MANUAL_PAGES "Make the manual pages (needs help2man)" OFF)
  if(VARNOTH_MANUAL_PAGES)
    find_program(VARNOTH_HELP2MAN help2man)
    if(NOT VARNOTH_HELP2MAN)
      message(FATAL_ERROR "help2man makes the manual pages: install Debian's help2man, or "
                          "configure with -DVARNOTH_MANUAL_PAGES=OFF")
    endif()
    set(varnoth_pages)
    foreach(program ${VARNOTH_PACKAGED_PROGRAMS})
      set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
      set(include ${PROJECT_SOURCE_DIR}/docs/man/${program}.h2m)
      # No display: the window program answers its options without one. help2man takes a
      # heading of --help as a subsection; exit statuses make a section of their own in a
      # manual page.
      add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                ${VARNOTH_HELP2MAN} --no-info --no-discard-stderr --include=${include}
                --output=${page} $<TARGET_FILE:${program}>
        COMMAND sed -i "s/^\\.SS \"Exit status:\"$/.SH \"EXIT STATUS\"/" ${page}
        COMMAND gzip -9nf ${page}
        DEPENDS ${program} ${include}
        VERBATIM)
      list(APPEND varnoth_pages ${page}.gz)
    endforeach()
    add_custom_target(varnoth_manual_pages ALL DEPENDS ${varnoth_pages})
    install(FILES ${varnoth_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
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
  # Lines of at most 80 characters, as Debian's tools show them.
  set(CPACK_PACKAGE_DESCRIPTION
      "A small terminal for one kind of device on a serial line at 9600 baud, 8N1:
a pane showing what the device sends and a line to type into, in a window or
in a text console (over ssh, say). It loads programs into the device line by
line, paced by the device's answers; varnoth-upload does the same from
scripts.")
  # dpkg-shlibdeps (dpkg-dev) finds the libraries the programs link. Qt loads its platform
  # plugins at run time, unseen by it, and without one (xcb) no window can open; Wayland-only
  # desktops want Qt's wayland plugin.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()

include(CPack)
