# Fails unless the plug-in's dynamic symbol table defines exactly the frei0r
# entry points of its kind. Run as:
#   cmake -DNM=<nm> -DKIND=filter|transition -DPLUGIN=<file> -P check_plugin_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${PLUGIN}
    OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${PLUGIN}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value
    f0r_get_plugin_info f0r_init f0r_set_param_value)
if(KIND STREQUAL "transition")
    list(APPEND expected f0r_update2)
else()
    list(APPEND expected f0r_update)
endif()
list(SORT expected)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "${PLUGIN} exports: ${names}\nexpected: ${expected}")
endif()
message(STATUS "${PLUGIN} exports exactly the frei0r entry points of a ${KIND}")
