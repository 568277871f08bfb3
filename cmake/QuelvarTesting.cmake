# quelvar_add_test(NAME name SOURCES ... LIBRARIES ... [QT] [LABELS ...] [TIMEOUT seconds])
# Adds one test executable linked against the project's libraries (never recompiling their
# sources) and registers it with CTest. GoogleTest executables are registered per test case on
# Linux; QT marks a Qt Test executable, which runs on the offscreen platform.
if(WIN32)
    # GoogleTest built from Debian's sources (package googletest) with the cross-compiler, as
    # targets of this build.
    set(QUELVAR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${QUELVAR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(target gtest gtest_main gmock gmock_main)
        # Not our code: its warnings are not ours to fix.
        target_compile_options(${target} PRIVATE -w)
        if(NOT TARGET GTest::${target})
            add_library(GTest::${target} ALIAS ${target})
        endif()
    endforeach()

    # One wineserver for the whole run: started by a setup test, stopped by a cleanup test,
    # which every Windows test requires.
    add_test(NAME wine_start COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --start)
    add_test(NAME wine_stop COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --stop)
    set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
else()
    find_package(GTest REQUIRED)
endif()
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
    elseif(WIN32)
        # Under Wine each start of a program costs about a second, and listing the cases
        # first (gtest_discover_tests) would add one start per case: each executable is one
        # CTest test, run through the emulator, and its output names the failing cases.
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main GTest::gmock)
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
        set_tests_properties(${T_NAME} PROPERTIES
            TIMEOUT ${T_TIMEOUT} LABELS "windows;${T_LABELS}" FIXTURES_REQUIRED wine
            ENVIRONMENT "QUELVAR_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output")
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
