# GoogleTest for both builds, and restore_add_test() for one test executable
# per subsystem. Each executable writes its results as XML so scripts/test can
# count test cases; under Wine the executable runs through the emulator.

if(CMAKE_CROSSCOMPILING)
  # No packaged MinGW GoogleTest: build it from the packaged sources.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources missing: run scripts/setup (Debian package googletest)")
  endif()
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own code is not ours to keep warning-free.
  foreach(t gtest gtest_main)
    target_compile_options(${t} PRIVATE -w)
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

set(RESTORE_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${RESTORE_TEST_RESULTS})

# restore_add_test(NAME SOURCES... [LIBS ...] [NO_MAIN] [TIMEOUT s])
function(restore_add_test name)
  cmake_parse_arguments(T "NO_MAIN" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  if(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  set(results ${RESTORE_TEST_RESULTS}/${name}.xml)
  if(CMAKE_CROSSCOMPILING)
    # Under Wine the Unix root is drive Z:.
    set(results Z:${results})
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${results}
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()

# The target's file calls go through the counting wrapper of the seam
# (tests/support/counted_seam.h); it links the platform library.
function(restore_count_seam target)
  target_link_libraries(${target} PRIVATE counted_seam platform)
endfunction()
