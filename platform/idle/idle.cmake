# The idle watcher's services (platform/idle.h): qg_idle, linked into the Linux quietglass, with
# the X server's idle time (libxss-dev) as the source every X11 desktop has.
find_package(X11 REQUIRED COMPONENTS Xss)
add_library(qg_idle STATIC ${CMAKE_CURRENT_LIST_DIR}/watch.cpp ${CMAKE_CURRENT_LIST_DIR}/x11_idle.cpp)
target_include_directories(qg_idle PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qg_idle PUBLIC qg_posix X11::X11 X11::Xss)
