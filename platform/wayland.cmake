# The Wayland host, where libwayland-client and -cursor, libxkbcommon, wayland-scanner and
# wayland-protocols are installed (libwayland-dev libxkbcommon-dev wayland-protocols):
# qg_host_wayland, an object library the Linux executable links beside the X11 host. The protocol
# code is generated from the system's XML at build time.
find_package(PkgConfig QUIET)
if(NOT PKG_CONFIG_FOUND)
  return()
endif()
pkg_check_modules(WAYLAND_CLIENT QUIET IMPORTED_TARGET wayland-client)
pkg_check_modules(WAYLAND_CURSOR QUIET IMPORTED_TARGET wayland-cursor)
pkg_check_modules(XKBCOMMON QUIET IMPORTED_TARGET xkbcommon)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
if(NOT WAYLAND_CLIENT_FOUND OR NOT WAYLAND_CURSOR_FOUND OR NOT XKBCOMMON_FOUND OR NOT WAYLAND_PROTOCOLS_DIR
    OR NOT WAYLAND_SCANNER)
  message(STATUS "libwayland-dev, libxkbcommon-dev or wayland-protocols not found: no Wayland host")
  return()
endif()

# The generated protocol code is C.
enable_language(C)

set(qg_wayland_generated ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${qg_wayland_generated})
set(qg_wayland_sources)
foreach(protocol
    stable/xdg-shell/xdg-shell
    stable/viewporter/viewporter
    unstable/xdg-decoration/xdg-decoration-unstable-v1
    unstable/keyboard-shortcuts-inhibit/keyboard-shortcuts-inhibit-unstable-v1
    unstable/xdg-output/xdg-output-unstable-v1)
  get_filename_component(name ${protocol} NAME)
  set(xml ${WAYLAND_PROTOCOLS_DIR}/${protocol}.xml)
  add_custom_command(
    OUTPUT ${qg_wayland_generated}/${name}-client-protocol.h
      ${qg_wayland_generated}/${name}-protocol.c
    COMMAND ${WAYLAND_SCANNER} client-header ${xml}
      ${qg_wayland_generated}/${name}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${qg_wayland_generated}/${name}-protocol.c
    DEPENDS ${xml}
    VERBATIM)
  list(APPEND qg_wayland_sources ${qg_wayland_generated}/${name}-client-protocol.h
    ${qg_wayland_generated}/${name}-protocol.c)
endforeach()

set(qg_wayland_dir ${CMAKE_CURRENT_LIST_DIR}/wayland)
add_library(qg_host_wayland OBJECT ${qg_wayland_dir}/connection.cpp ${qg_wayland_dir}/outputs.cpp
  ${qg_wayland_dir}/toplevels.cpp ${qg_wayland_dir}/input.cpp ${qg_wayland_dir}/buffers.cpp
  ${qg_wayland_sources})
target_include_directories(qg_host_wayland PRIVATE ${qg_wayland_generated})
target_link_libraries(qg_host_wayland PUBLIC qg_runtime qg_posix PkgConfig::WAYLAND_CLIENT
  PkgConfig::WAYLAND_CURSOR PkgConfig::XKBCOMMON)
set_target_properties(qg_host_wayland PROPERTIES QG_HOST_TABLE kWaylandHost)
