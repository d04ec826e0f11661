# Builds the probes of PROBES (core: the core's targets; frei0r: the frei0r
# plug-ins' library; cli: the renderer's library): the control header must
# compile, the host header must fail to be found.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${PROBES}_includes_core_probe
    RESULT_VARIABLE control_result OUTPUT_VARIABLE control_output ERROR_VARIABLE control_output)
if(NOT control_result EQUAL 0)
    message(FATAL_ERROR "the control probe (a core header) does not compile:\n${control_output}")
endif()

# FROM_ROOT: also the spelling from the repository root (src/host/ae_sdk.h).
set(host_probes ${PROBES}_includes_host_probe)
if(FROM_ROOT)
    list(APPEND host_probes ${PROBES}_includes_root_host_probe)
endif()
foreach(probe IN LISTS host_probes)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${probe}
        RESULT_VARIABLE probe_result OUTPUT_VARIABLE probe_output ERROR_VARIABLE probe_output)
    if(probe_result EQUAL 0)
        message(FATAL_ERROR "a ${PROBES} file can include host/ae_sdk.h (${probe}): its include "
                            "path reaches the host glue")
    endif()
    if(NOT probe_output MATCHES "host/ae_sdk.h")
        message(FATAL_ERROR "the probe ${probe} failed for another reason than the host "
                            "include:\n${probe_output}")
    endif()
endforeach()
message(STATUS "a ${PROBES} file cannot include host/ae_sdk.h")
