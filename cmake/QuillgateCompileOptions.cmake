# Warnings for every target of ours; the debug preset turns them into errors.
add_library(qg_compile_options INTERFACE)
target_compile_options(qg_compile_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(QG_WERROR)
  target_compile_options(qg_compile_options INTERFACE -Werror)
endif()

# The tests of threads, message passing and the thread pool, which the tsan preset builds
# and runs alone (its test preset selects the label `threads`).
add_custom_target(qg_thread_tests)

# Adds a GoogleTest executable whose cases ctest lists one by one.
function(qg_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qg_compile_options GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set(labels ${ARG_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  # One label per test binary: the discovery script of this CMake splits a list given in
  # PROPERTIES, so "unit;threads" became LABELS unit plus a stray property, and the
  # ThreadSanitizer run (label threads) silently skipped those tests.
  list(LENGTH labels label_count)
  if(NOT label_count EQUAL 1)
    message(FATAL_ERROR "qg_add_gtest(${name}): give exactly one label, not '${labels}'")
  endif()
  # The window tests share one display and move its pointer: one at a time.
  set(serial FALSE)
  if(labels STREQUAL "gui")
    set(serial TRUE)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${labels}" RUN_SERIAL ${serial}
    DISCOVERY_TIMEOUT 60)
  if("threads" IN_LIST labels)
    add_dependencies(qg_thread_tests ${name})
  endif()
endfunction()
