# Installing and release packages: on Linux `cmake --install` and a Debian package
# (`cpack -G DEB`), on Windows a zip with Quietglass.scr and a read-me (`cpack`, or the `package`
# target). The texts they carry are in packaging/.
if(CMAKE_CROSSCOMPILING AND NOT WIN32)
  return()
endif()

set(QG_PACKAGE_MAINTAINER "Quietglass maintainers <maintainers@quietglass.example>"
  CACHE STRING "Maintainer of the packages: name and e-mail address")

# The copyright file, in Debian's machine-readable format: the licence texts come from the
# files in the tree, indented as a paragraph's continuation lines.
function(qg_paragraph_text text out)
  string(STRIP "${text}" text)
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")  # runs of empty lines
  string(REPLACE "\n" "\n " text " ${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
set(license_files "${PROJECT_SOURCE_DIR}/LICENSE"
  "${PROJECT_SOURCE_DIR}/tools/fontgen/LICENSE-LiberationSans.txt")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license_files})
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" expat)
string(REGEX MATCH "Permission is hereby granted.*DEALINGS IN THE SOFTWARE\\." expat "${expat}")
qg_paragraph_text("${expat}" QG_EXPAT_TEXT)
file(READ "${PROJECT_SOURCE_DIR}/tools/fontgen/LICENSE-LiberationSans.txt" ofl)
qg_paragraph_text("${ofl}" QG_OFL_TEXT)
set(texts "${PROJECT_BINARY_DIR}/packaging")
configure_file(packaging/copyright.in "${texts}/copyright" @ONLY)

set(CPACK_PACKAGE_NAME quietglass)
set(CPACK_PACKAGE_VERSION "${QG_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Quietglass developers")
set(CPACK_PACKAGE_CONTACT "${QG_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen screen saver with a start-up screen and a sliding disk")
set(CPACK_PACKAGE_DESCRIPTION "\
Quietglass covers the screen with a dark purple start-up screen: a rainbow
logo, four lines of text and a disk drive, and a short animation of a disk
sliding into the drive. A key press or a move of the mouse ends it.

It starts by itself after a time without input on X11 desktops, on GNOME,
and on KDE Plasma and wlroots compositors under Wayland, through its own idle
watcher (quietglass --idle, with an autostart entry to enable per user). It
is also one of xscreensaver's and MATE's display modes. It is a screen saver,
not a screen locker.")

if(WIN32)
  # The release archive: the program as users install it, a read-me and the licences, with
  # Windows line ends so that every editor shows them right.
  configure_file(packaging/README-Windows.txt "${texts}/README.txt" @ONLY NEWLINE_STYLE WIN32)
  configure_file(packaging/copyright.in "${texts}/LICENSE.txt" @ONLY NEWLINE_STYLE WIN32)
  install(FILES "$<TARGET_FILE_DIR:quietglass>/Quietglass.scr" "${texts}/README.txt"
    "${texts}/LICENSE.txt" DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "Quietglass-${QG_VERSION}-windows-x64")
  include(CPack)
  return()
endif()

include(GNUInstallDirs)
install(TARGETS quietglass RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# xscreensaver runs its display modes from its own folder: a relative link to the program.
set(hacks "${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver")
file(RELATIVE_PATH to_program "/${hacks}" "/${CMAKE_INSTALL_BINDIR}/quietglass")
file(CREATE_LINK "${to_program}" "${texts}/quietglass" SYMBOLIC)
install(FILES "${texts}/quietglass" DESTINATION "${hacks}")
install(FILES packaging/quietglass.xml DESTINATION "${CMAKE_INSTALL_DATADIR}/xscreensaver/config")
# xscreensaver reads its entries from /usr/share/xscreensaver/config only: said when installing
# under another prefix (the package installs under /usr).
install(CODE "if(NOT CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
  message(NOTICE \"xscreensaver reads its display modes' entries from \"
    \"/usr/share/xscreensaver/config only: to see Quietglass in its settings, copy \"
    \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/xscreensaver/config/quietglass.xml there.\")
endif()")
# MATE's screen saver lists the entries in applications/screensavers.
install(FILES packaging/quietglass-mate.desktop DESTINATION
  "${CMAKE_INSTALL_DATADIR}/applications/screensavers" RENAME quietglass.desktop)
# The idle watcher's autostart entry, for users to enable (the README's one command): every
# user's session would start it from /etc/xdg/autostart, which is also a file dpkg keeps as the
# administrator's.
install(FILES packaging/quietglass-idle.desktop DESTINATION "${CMAKE_INSTALL_DATADIR}/quietglass")

# The manual page and the changelog compressed as Debian wants them: at most, without a name or
# a time stamp, so that the same sources give the same package.
find_program(QG_GZIP gzip REQUIRED)
configure_file(packaging/changelog.in "${texts}/changelog" @ONLY)
configure_file(packaging/quietglass.6.in "${texts}/quietglass.6" @ONLY)
set(compressed)
foreach(text changelog quietglass.6)
  add_custom_command(OUTPUT "${texts}/${text}.gz"
    COMMAND "${QG_GZIP}" -9nkf "${texts}/${text}"
    DEPENDS "${texts}/${text}"
    VERBATIM)
  list(APPEND compressed "${texts}/${text}.gz")
endforeach()
add_custom_target(qg_packaging_texts ALL DEPENDS ${compressed})
install(FILES "${texts}/quietglass.6.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man6")
set(docs "${CMAKE_INSTALL_DATADIR}/doc/quietglass")
install(FILES "${texts}/copyright" "${texts}/changelog.gz" DESTINATION "${docs}")

set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
find_program(QG_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT QG_DPKG_SHLIBDEPS)
  message(WARNING "dpkg-shlibdeps not found (scripts/install-deps installs dpkg-dev): a Debian "
                  "package built now would have no Depends")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | mate-screensaver")
# cpack counts the file a link points to as if the link were a copy: the package's real size.
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/installed-size.cmake")
include(CPack)
