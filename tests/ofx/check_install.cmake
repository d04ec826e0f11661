# `cmake --install` puts the bundle where OpenFX hosts look: PREFIX/OFX/Plugins
# for a prefix of its own, /usr/OFX/Plugins for the system prefix (here under
# DESTDIR). Run as:
#   cmake -DBUILD_DIR=<build> -DROOT=<empty folder> -DARCH=<Linux-x86-64> -P check_install.cmake
set(binary Pointillo.ofx.bundle/Contents/${ARCH}/Pointillo.ofx)
file(REMOVE_RECURSE ${ROOT})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${ROOT}/prefix
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS ${ROOT}/prefix/OFX/Plugins/${binary})
    message(FATAL_ERROR "no ${binary} under PREFIX/OFX/Plugins:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${ROOT}/destdir
        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS ${ROOT}/destdir/usr/OFX/Plugins/${binary})
    message(FATAL_ERROR "no ${binary} under /usr/OFX/Plugins:\n${output}")
endif()
file(REMOVE_RECURSE ${ROOT})
message(STATUS "installed: OFX/Plugins/${binary}")
