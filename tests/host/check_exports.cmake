# Fails unless the module's dynamic symbol table defines exactly the two
# entry points. Run as: cmake -DNM=<nm> -DMODULE=<file> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
    OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND names ${name})
endforeach()
list(SORT names)
if(NOT names STREQUAL "EffectMain;PluginDataEntryFunction2")
    message(FATAL_ERROR "${MODULE} exports: ${names}")
endif()
message(STATUS "${MODULE} exports exactly EffectMain and PluginDataEntryFunction2")
