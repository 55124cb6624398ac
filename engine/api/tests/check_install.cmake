# Run as: cmake -DBUILD_DIR=... -DPREFIX=... -DSOURCE=... -DCC=... "-DCFLAGS=..." -P check_install.cmake
# `cmake --install` puts the library, its header and qgtarn.pc under PREFIX, and a C program
# built with nothing but what pkg-config says of them runs.
file(REMOVE_RECURSE ${PREFIX})
# The two components of the library's packages, and nothing else.
foreach(component library dev)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
    --component ${component} RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "cmake --install --component ${component} failed")
  endif()
endforeach()
file(GLOB_RECURSE pc_files ${PREFIX}/qgtarn.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1 OR NOT EXISTS ${PREFIX}/include/quillgate/tarn.h)
  message(FATAL_ERROR "the install lacks qgtarn.pc or the header: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs qgtarn
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "pkg-config does not know qgtarn")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(cflags UNIX_COMMAND "${CFLAGS}")
string(REGEX MATCH "-L([^ ;]+)" libdir_flag "${flags}")
set(program ${PREFIX}/install_check)
execute_process(COMMAND ${CC} ${cflags} ${SOURCE} ${flags} -Wl,-rpath,${CMAKE_MATCH_1}
  -o ${program} RESULT_VARIABLE failed ERROR_VARIABLE errors)
if(failed)
  message(FATAL_ERROR "the C program does not build against the install:\n${errors}")
endif()
execute_process(COMMAND ${program} OUTPUT_VARIABLE output RESULT_VARIABLE failed)
if(failed OR NOT output STREQUAL "ok\n")
  message(FATAL_ERROR "the C program failed (${failed}): ${output}")
endif()
