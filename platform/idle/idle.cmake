# The idle watcher's services (platform/idle.h): qg_idle, linked into the Linux quietglass. Its
# sources: the X server's idle time (libxss-dev) on every X11 desktop; a Wayland compositor's idle
# notifications where the Wayland host is built (ext-idle-notify-v1 from wayland-protocols, KDE's
# from plasma-wayland-protocols); GNOME's idle monitor through sd-bus (libsystemd-dev).
find_package(X11 REQUIRED COMPONENTS Xss)
set(idle_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(qg_idle STATIC ${idle_dir}/watch.cpp ${idle_dir}/x11_idle.cpp)
target_include_directories(qg_idle PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qg_idle PUBLIC qg_posix qg_x11 X11::X11 X11::Xss)

find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(LIBSYSTEMD QUIET IMPORTED_TARGET libsystemd)
endif()
if(LIBSYSTEMD_FOUND)
  target_sources(qg_idle PRIVATE ${idle_dir}/gnome_idle.cpp)
  target_link_libraries(qg_idle PUBLIC PkgConfig::LIBSYSTEMD)
  target_compile_definitions(qg_idle PRIVATE QG_IDLE_GNOME)
else()
  message(STATUS "libsystemd-dev not found: the idle watcher does not know GNOME's idle monitor")
endif()

find_package(PlasmaWaylandProtocols QUIET)
if(TARGET qg_host_wayland AND PlasmaWaylandProtocols_FOUND)
  # The protocol code is generated beside the Wayland host's, from the system's XML.
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/idle-protocols)
  file(MAKE_DIRECTORY ${generated})
  foreach(xml ${WAYLAND_PROTOCOLS_DIR}/staging/ext-idle-notify/ext-idle-notify-v1.xml
      ${PLASMA_WAYLAND_PROTOCOLS_DIR}/idle.xml)
    get_filename_component(name ${xml} NAME_WE)
    add_custom_command(
      OUTPUT ${generated}/${name}-client-protocol.h ${generated}/${name}-protocol.c
      COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${generated}/${name}-client-protocol.h
      COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${generated}/${name}-protocol.c
      DEPENDS ${xml}
      VERBATIM)
    target_sources(qg_idle PRIVATE ${generated}/${name}-client-protocol.h
      ${generated}/${name}-protocol.c)
  endforeach()
  target_sources(qg_idle PRIVATE ${idle_dir}/wayland_idle.cpp)
  target_include_directories(qg_idle PRIVATE ${generated})
  target_link_libraries(qg_idle PUBLIC PkgConfig::WAYLAND_CLIENT)
  target_compile_definitions(qg_idle PRIVATE QG_IDLE_WAYLAND)
else()
  message(STATUS "no Wayland host or no plasma-wayland-protocols: the idle watcher does not know "
                 "Wayland compositors")
endif()
