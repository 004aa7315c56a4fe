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
