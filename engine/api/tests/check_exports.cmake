# Run as: cmake -DNM=... -DLIBRARY=... -DHEADER=... -P check_exports.cmake
# The library's defined dynamic symbols must be exactly the functions its header declares
# (TARN_API): no symbol of the engine or the platform layer beneath may leak out, where a
# program's own copy could interpose on it, and no function of the header may be missing.
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not list ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
  # "NAME TYPE VALUE SIZE"; a version's name, if any, comes as an absolute symbol (A).
  if(line MATCHES "^([^ ]+) ([A-Za-z])")
    if(NOT CMAKE_MATCH_2 STREQUAL "A")
      list(APPEND exported "${CMAKE_MATCH_1}")
    endif()
  endif()
endforeach()

# Declarations begin a line with TARN_API; the name is the word before the first "(".
file(STRINGS ${HEADER} declarations REGEX "^TARN_API ")
set(declared "")
foreach(d IN LISTS declarations)
  if(d MATCHES "^TARN_API [^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(")
    list(APPEND declared "${CMAKE_MATCH_1}")
  endif()
endforeach()

list(SORT exported)
list(SORT declared)
list(LENGTH declared declared_count)
if(declared_count LESS 20)
  message(FATAL_ERROR "only ${declared_count} functions found in ${HEADER}: ${declared}")
endif()
set(extra ${exported})
list(REMOVE_ITEM extra ${declared})
set(missing ${declared})
list(REMOVE_ITEM missing ${exported})
if(extra OR missing)
  message(FATAL_ERROR "exports of ${LIBRARY} differ from ${HEADER}\n"
    "exported but not declared: ${extra}\ndeclared but not exported: ${missing}")
endif()
message(STATUS "${declared_count} functions exported, nothing else")
