# quelvar_add_test(NAME name SOURCES ... LIBRARIES ... [QT] [LABELS ...] [TIMEOUT seconds])
# Adds one test executable linked against the project's libraries (never recompiling their
# sources) and registers it with CTest. GoogleTest executables are registered per test case;
# QT marks a Qt Test executable, which runs on the offscreen platform.
find_package(GTest REQUIRED)
include(GoogleTest)

function(quelvar_add_test)
    cmake_parse_arguments(T "QT" "NAME;TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES})
    if(T_QT)
        target_link_libraries(${T_NAME} PRIVATE Qt6::Test)
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
        set_tests_properties(${T_NAME} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUELVAR_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output"
            TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
    else()
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main GTest::gmock)
        # PROPERTIES is one flat list of names and values: an empty LABELS value would vanish
        # from it and make the next word its value, so LABELS is only named when it has one.
        set(properties TIMEOUT ${T_TIMEOUT}
            ENVIRONMENT "QUELVAR_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output")
        if(T_LABELS)
            list(APPEND properties LABELS "${T_LABELS}")
        endif()
        gtest_discover_tests(${T_NAME}
            DISCOVERY_TIMEOUT 60
            PROPERTIES ${properties})
    endif()
endfunction()
