# The system's own code: every source below these folders, the OS files from the OS's own folder
# (platform/linux/ everywhere but Windows, platform/win32/ on Windows), without the Qt backend, the
# program's entry point and the stand-in for a window backend (linked into the program only when it
# is built without one). Shared by the main build and the fuzz build (tests/fuzz), which compiles
# the same core with clang and the fuzzer's instrumentation. Sets TARVO_CORE_SOURCES from
# TARVO_TOP, the repository's top folder.
set(TARVO_CORE_DIRS app config link upload wizard production drivers resources platform)
set(TARVO_CORE_SOURCES)
foreach(dir ${TARVO_CORE_DIRS})
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${TARVO_TOP}/${dir}/*.cpp)
  list(APPEND TARVO_CORE_SOURCES ${found})
endforeach()
list(FILTER TARVO_CORE_SOURCES EXCLUDE REGEX "/platform/(linux|win32|qt)/")
if(WIN32)
  file(GLOB TARVO_OS_SOURCES CONFIGURE_DEPENDS ${TARVO_TOP}/platform/win32/*.cpp)
else()
  file(GLOB TARVO_OS_SOURCES CONFIGURE_DEPENDS ${TARVO_TOP}/platform/linux/*.cpp)
endif()
list(APPEND TARVO_CORE_SOURCES ${TARVO_OS_SOURCES})
list(FILTER TARVO_CORE_SOURCES EXCLUDE REGEX "/app/main\\.cpp$")
list(FILTER TARVO_CORE_SOURCES EXCLUDE REGEX "/platform/ui/without_windows\\.cpp$")

# The device tree on Linux comes from udev where libudev is found (pkg-config) and
# TARVO_WITH_UDEV is not OFF; without it the station still hears the driver's datagram socket and
# `Tarvo32 ports` says udev is not there. Sets TARVO_CORE_LIBRARIES, what the core links besides
# the threads.
set(TARVO_CORE_LIBRARIES)
if(NOT WIN32)
  option(TARVO_WITH_UDEV "Hear USB modems plugged in through udev (needs libudev)" ON)
  if(TARVO_WITH_UDEV)
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(TARVO_LIBUDEV QUIET IMPORTED_TARGET libudev)
    endif()
  endif()
  if(TARVO_WITH_UDEV AND TARVO_LIBUDEV_FOUND)
    list(FILTER TARVO_CORE_SOURCES EXCLUDE REGEX "/platform/linux/udev_absent\\.cpp$")
    list(APPEND TARVO_CORE_LIBRARIES PkgConfig::TARVO_LIBUDEV)
  else()
    if(TARVO_WITH_UDEV)
      message(STATUS "libudev not found (Debian: libudev-dev): USB modems plugged in are not heard")
    endif()
    list(FILTER TARVO_CORE_SOURCES EXCLUDE REGEX "/platform/linux/udev_devices\\.cpp$")
  endif()
endif()
