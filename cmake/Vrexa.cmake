# vrexa_library(NAME SOURCES ... [DEPS ...])
# One static library per subsystem; the repository root is the include root, so
# headers are included as "work/Work.h", "file/SharedFile.h".
function(vrexa_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# vrexa_test_code(TARGET): compile a test or test-support target for build
# time. Test sources are half of the build's compile time; they need line
# tables, not the optimiser. What they test stays at the build's own level.
# Under the sanitizers the optimiser costs the most (clang's address
# sanitizer compiles a test file twice as fast at -O0), and a test's own
# code is rarely where its time goes.
function(vrexa_test_code target)
  if(VREXA_SANITIZE STREQUAL "" AND NOT VREXA_FUZZ)
    target_compile_options(${target} PRIVATE -O1 -g1)
  else()
    target_compile_options(${target} PRIVATE -O0 -g1)
  endif()
endfunction()

# vrexa_test(NAME SOURCES ... [DEPS ...])
# A GoogleTest executable whose cases are registered with CTest one by one.
function(vrexa_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE VREXA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  vrexa_test_code(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()

# vrexa_display_test_environment(TEST): what a test on the virtual display
# needs under the sanitizers. GTK and GLib are not built with them: the
# thread sanitizer cannot see their own locking and reports races inside
# them, so such tests are skipped there; the leak checker is told about the
# caches they keep for the process's life.
function(vrexa_display_test_environment test)
  set(_environment "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/support/gtk-leaks.supp")
  if(VREXA_SANITIZE STREQUAL "thread")
    list(APPEND _environment "VREXA_SKIP_DISPLAY=GTK is not built with the thread sanitizer")
  endif()
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${_environment})
endfunction()
