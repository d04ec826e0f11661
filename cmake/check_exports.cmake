# Fails unless a shared library's dynamic symbol table defines exactly the
# names given, comma-separated. Run as:
#   cmake -DNM=<nm> -DLIBRARY=<file> -DEXPECTED=<name,name,...> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND names ${name})
endforeach()
list(SORT names)
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "${LIBRARY} exports: ${names}\nexpected: ${expected}")
endif()
message(STATUS "${LIBRARY} exports exactly ${expected}")
