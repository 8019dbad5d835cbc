# Warnings are errors in our own targets only (third-party headers come in as SYSTEM), and only
# where we ask for it: the presets and CI turn ZRV_WARNINGS_AS_ERRORS on. A plain configure, with
# other flags or another compiler, must not be stopped by a warning we have not seen yet.
option(ZRV_WARNINGS_AS_ERRORS "Treat compiler warnings in our own targets as errors" OFF)

function(zrv_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic $<$<BOOL:${ZRV_WARNINGS_AS_ERRORS}>:-Werror>
    -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor -Wold-style-cast
    -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
endfunction()

# Adds a GoogleTest executable and registers its cases with CTest. LOCK names a resource the cases
# share with other suites (one port, say): CTest never runs two cases holding it at once.
function(zrv_test name)
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS" ${ARGN})
  set(lock "")
  if(T_LOCK)
    set(lock RESOURCE_LOCK ${T_LOCK})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  zrv_warnings(${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${lock})
endfunction()
