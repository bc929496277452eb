# Run by cpack after it has built the Debian package (CPACK_POST_BUILD_SCRIPTS): sets the
# package's Installed-Size to what its files take, counted as dpkg-gencontrol counts them (each
# file's size in KiB, rounded up; a link or a folder 1 KiB), instead of cpack's sum that counts a
# link's target once more.
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/installed-size")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND "${DPKG_DEB}" -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true "${tree}/*")
  set(kib 0)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^${tree}/DEBIAN(/|$)")
      continue()
    endif()
    if(IS_SYMLINK "${entry}" OR IS_DIRECTORY "${entry}")
      math(EXPR kib "${kib} + 1")
    else()
      file(SIZE "${entry}" bytes)
      math(EXPR kib "${kib} + (${bytes} + 1023) / 1024")
    endif()
  endforeach()
  file(READ "${tree}/DEBIAN/control" control)
  string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n" control "${control}")
  file(WRITE "${tree}/DEBIAN/control" "${control}")
  # Owned by root as cpack made it, and compressed as cpack did.
  execute_process(COMMAND "${DPKG_DEB}" --root-owner-group -Zgzip -b "${tree}" "${deb}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
