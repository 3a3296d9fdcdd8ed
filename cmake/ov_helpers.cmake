# ov_add_test_suite(NAME DIR LIBS...): one gtest program from every *_test.cpp in DIR.
# A folder of tests gets one program, so new tests need no CMake edit.
function(ov_add_test_suite name dir)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*_test.cpp ${dir}/*_support.cpp)
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE OV_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                               OV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # OV_TEST_LOCK_<name>: a resource the suite's tests hold one at a time.
    set(properties TIMEOUT 300)
    if(DEFINED OV_TEST_LOCK_${name})
        list(APPEND properties RESOURCE_LOCK ${OV_TEST_LOCK_${name}})
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
