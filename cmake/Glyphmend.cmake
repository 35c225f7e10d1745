# GoogleTest from the sources Debian's googletest package installs, built
# by this configuration's own compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The 64-bit Windows build proves its code at addresses above 4 GiB: every
# test program there reserves the address space below (tests/high_addresses).
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(GLYPH_HIGH_ADDRESSES ON)
else()
  set(GLYPH_HIGH_ADDRESSES OFF)
endif()

# glyph_test(<name> SOURCES ... [LIBS ...] [WIN32_ONLY] [DESKTOP])
# One test executable, registered with CTest as <suite>.<name> and run
# through the build's emulator (Wine, valgrind or qemu) where it has one.
# DESKTOP tests drive real windows, focus and input, so no two of them run at
# once.
function(glyph_test name)
  cmake_parse_arguments(T "WIN32_ONLY;DESKTOP" "" "SOURCES;LIBS" ${ARGN})
  if(NOT GLYPH_TESTS OR (T_WIN32_ONLY AND NOT WIN32))
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  if(GLYPH_HIGH_ADDRESSES)
    target_link_libraries(${name} PRIVATE low_space_reservation)
  endif()
  add_test(NAME ${GLYPH_SUITE}.${name} COMMAND ${name})
  set_tests_properties(${GLYPH_SUITE}.${name} PROPERTIES TIMEOUT 600)
  if(T_DESKTOP)
    set_tests_properties(${GLYPH_SUITE}.${name} PROPERTIES RESOURCE_LOCK desktop)
  endif()
endfunction()

# glyph_fuzz(<name> SOURCES ... [LIBS ...] RUNS <n>)
# One libFuzzer target, built with GLYPH_FUZZ and registered as
# <suite>.<name>: n inputs from a fixed seed, so every run tries the same.
function(glyph_fuzz name)
  cmake_parse_arguments(F "" "RUNS" "SOURCES;LIBS" ${ARGN})
  if(NOT GLYPH_FUZZ)
    return()
  endif()
  # Only the libraries under test are instrumented for coverage: the target's
  # own harness and plain model would only steer the fuzzer towards model
  # variety, and their traced comparisons cost more than the code under test.
  set_source_files_properties(${F_SOURCES} PROPERTIES COMPILE_OPTIONS
    "-fno-sanitize-coverage=inline-8bit-counters,indirect-calls,trace-cmp,pc-table")
  add_executable(${name} ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/fuzz_options.cpp)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_test(NAME ${GLYPH_SUITE}.${name}
           COMMAND ${name} -seed=1 -runs=${F_RUNS} -max_len=8192 -print_final_stats=1)
  set_tests_properties(${GLYPH_SUITE}.${name} PROPERTIES TIMEOUT 600)
endfunction()
