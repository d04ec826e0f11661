# Builds the two probes of PROBES (core: the core's targets; frei0r: the
# frei0r plug-ins' library): the core header must compile, the host header
# must fail to be found.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${PROBES}_includes_core_probe
    RESULT_VARIABLE control_result OUTPUT_VARIABLE control_output ERROR_VARIABLE control_output)
if(NOT control_result EQUAL 0)
    message(FATAL_ERROR "the control probe (a core header) does not compile:\n${control_output}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${PROBES}_includes_host_probe
    RESULT_VARIABLE probe_result OUTPUT_VARIABLE probe_output ERROR_VARIABLE probe_output)
if(probe_result EQUAL 0)
    message(FATAL_ERROR "a ${PROBES} file can include host/ae_sdk.h: its include path reaches "
                        "the host glue")
endif()
if(NOT probe_output MATCHES "host/ae_sdk.h")
    message(FATAL_ERROR "the probe failed for another reason than the host include:\n"
                        "${probe_output}")
endif()
message(STATUS "a ${PROBES} file cannot include host/ae_sdk.h")
