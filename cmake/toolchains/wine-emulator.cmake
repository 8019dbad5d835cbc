# Runs the Windows programs of a cross build under wine: test discovery at build time and CTest,
# through wine-run.sh, which is given the folders of Qt's DLLs and of the mingw runtime (libstdc++,
# libgcc, winpthread).
find_program(ZRV_WINE NAMES wine)
if(NOT ZRV_WINE)
  return()
endif()
set(zrv_dll_dirs "")
if(ZRV_QT_WINDOWS)
  list(APPEND zrv_dll_dirs "${ZRV_QT_WINDOWS}/bin")
endif()
foreach(dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE zrv_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${zrv_dll}")
    get_filename_component(zrv_dll_dir "${zrv_dll}" DIRECTORY)
    get_filename_component(zrv_dll_dir "${zrv_dll_dir}" REALPATH)
    list(APPEND zrv_dll_dirs "${zrv_dll_dir}")
  endif()
endforeach()
list(JOIN zrv_dll_dirs ":" zrv_dll_dirs)
set(CMAKE_CROSSCOMPILING_EMULATOR bash "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh" "${zrv_dll_dirs}")
