# Fuzz targets for the readers of outside input. Each target is one source file defining
# LLVMFuzzerTestOneInput and a folder DATA holding seeds/ (small valid inputs) and
# crashes/ (inputs that once broke the reader; crashes/open/ holds those still unfixed,
# which are not replayed).
#   QG_FUZZ=ON (clang, scripts/fuzz): linked with libFuzzer.
#   otherwise, with the tests: linked with a main() that replays seeds/ and crashes/, and
#   registered as the ctest test fuzz_replay.NAME, so the targets keep compiling and the
#   golden inputs keep passing in every preset.
option(QG_FUZZ_REPLAY "Build the fuzz targets as replay tests of their seeds" ON)

add_custom_target(qg_fuzz_targets)

function(qg_add_fuzz_target name)
  cmake_parse_arguments(ARG "" "DATA" "SOURCES;LIBS" ${ARGN})
  if(QG_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  elseif(QG_BUILD_TESTS AND QG_FUZZ_REPLAY)
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/testing/fuzz_replay_main.cpp)
    set(inputs ${ARG_DATA}/seeds)
    if(IS_DIRECTORY ${ARG_DATA}/crashes)
      list(APPEND inputs ${ARG_DATA}/crashes)
    endif()
    add_test(NAME fuzz_replay.${name} COMMAND ${name} ${inputs})
    set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS unit TIMEOUT 120)
  else()
    return()
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qg_compile_options)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  add_dependencies(qg_fuzz_targets ${name})
endfunction()
