# quelvar_add_test(NAME name SOURCES ... LIBRARIES ... [QT | OWN_MAIN] [LABELS ...]
#                  [TIMEOUT seconds] [ARGS ...] [RUNNER command ...] [OUTPUT_DIRECTORY dir])
# Adds one test executable linked against the project's libraries (never recompiling their
# sources) and registers it with CTest. Every test is named <folder>_<subject>_test.
# GoogleTest executables are registered per test case on Linux; QT marks a Qt Test executable,
# which runs on the offscreen platform; OWN_MAIN one that brings its own main(). ARGS are given
# to the program, RUNNER runs it through another command, OUTPUT_DIRECTORY puts it (and what it
# writes beside itself) in a folder of its own.
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
    cmake_parse_arguments(T "QT;OWN_MAIN" "NAME;TIMEOUT;OUTPUT_DIRECTORY"
                          "SOURCES;LIBRARIES;LABELS;ARGS;RUNNER" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES})
    if(T_OUTPUT_DIRECTORY)
        set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${T_OUTPUT_DIRECTORY})
    endif()
    set(environment "QUELVAR_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output")
    set(labels ${T_LABELS})
    if(T_QT)
        target_link_libraries(${T_NAME} PRIVATE Qt6::Test)
        list(APPEND environment "QT_QPA_PLATFORM=offscreen")
    elseif(NOT T_OWN_MAIN)
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main GTest::gmock)
    endif()
    if(WIN32)
        list(PREPEND labels windows)
    endif()

    if(NOT T_QT AND NOT T_OWN_MAIN AND NOT T_RUNNER AND NOT WIN32)
        # PROPERTIES is one flat list of names and values: an empty LABELS value would vanish
        # from it and make the next word its value, so LABELS is only named when it has one.
        set(properties TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}")
        if(labels)
            list(APPEND properties LABELS "${labels}")
        endif()
        gtest_discover_tests(${T_NAME}
            EXTRA_ARGS ${T_ARGS}
            DISCOVERY_TIMEOUT 60
            PROPERTIES ${properties})
        return()
    endif()

    # One CTest test per executable. Under Wine each start of a program costs about a second,
    # and listing the cases first (gtest_discover_tests) would add one start per case: the
    # executable's output names the failing cases. A RUNNER is a command the program is run
    # through (a display of its own, a Wine prefix of its own).
    if(T_RUNNER)
        add_test(NAME ${T_NAME} COMMAND ${T_RUNNER} $<TARGET_FILE:${T_NAME}> ${T_ARGS})
    else()
        # Named by its target, so that a cross build runs it through the emulator.
        add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
    endif()
    # Each value is given as one quoted argument: the environment is a list of its own.
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}")
    if(labels)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${labels}")
    endif()
    if(WIN32 AND NOT T_RUNNER)
        set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine)
    endif()
endfunction()
