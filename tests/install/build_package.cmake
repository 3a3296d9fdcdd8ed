# Builds the Debian package of BUILD_DIR into OUT_DIR (emptied first), once
# for all the package tests.
file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR})
execute_process(COMMAND ${CPACK} -G DEB -B ${OUT_DIR} WORKING_DIRECTORY ${BUILD_DIR}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed: ${result}")
endif()
