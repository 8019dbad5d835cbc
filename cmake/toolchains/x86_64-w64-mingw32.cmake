# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model: std::thread,
# std::mutex and std::condition_variable need it). Programs built here run under wine, which is the
# emulator for test discovery and CTest. scripts/build-qt-windows.sh builds Qt with this file too,
# and its cache is keyed by it.
#
# Qt for Windows is not packaged by Debian; scripts/build-qt-windows.sh builds it from Debian's
# qt6-base source into a cache folder. That folder comes from ZRV_QT_WINDOWS in the environment, or
# else the script is asked for it. moc, uic and rcc are the build machine's own (qt6-base-dev-tools,
# the same Qt version).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(DEFINED ENV{ZRV_QT_WINDOWS})
  set(ZRV_QT_WINDOWS "$ENV{ZRV_QT_WINDOWS}")
else()
  execute_process(
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../../scripts/build-qt-windows.sh" --print-prefix
    OUTPUT_VARIABLE ZRV_QT_WINDOWS OUTPUT_STRIP_TRAILING_WHITESPACE)
  # try_compile projects load this file again; the environment carries the answer to them.
  set(ENV{ZRV_QT_WINDOWS} "${ZRV_QT_WINDOWS}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${ZRV_QT_WINDOWS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(QT_HOST_PATH /usr CACHE PATH "Qt host tools (moc, uic, rcc) of the build machine")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "CMake files of the host Qt")

# How programs built here are run on this machine: wine. Kept apart so that changing it does not
# change the Qt cache's key (building Qt runs nothing it builds).
include(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.cmake)
