# Dependencies of the Windows cross-build (see cmake/toolchains/x86_64-w64-mingw32.cmake).

# OpenSSL 3 for Windows is not packaged by Debian: scripts/build-openssl-mingw builds it static
# from Debian's source package and caches it outside the checkout. The prefix comes from
# QUELVAR_OPENSSL_MINGW_ROOT (the windows preset passes the environment variable of that name);
# when it is empty, the script is run here, which returns at once once the cache holds a build.
set(QUELVAR_OPENSSL_MINGW_ROOT "${QUELVAR_OPENSSL_MINGW_ROOT}" CACHE PATH
    "Prefix of the static MinGW-w64 OpenSSL build (empty: run scripts/build-openssl-mingw)")
if(NOT QUELVAR_OPENSSL_MINGW_ROOT)
    message(STATUS "Building or finding OpenSSL for Windows with scripts/build-openssl-mingw")
    execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/build-openssl-mingw
                    OUTPUT_VARIABLE openssl_output RESULT_VARIABLE openssl_result)
    string(STRIP "${openssl_output}" openssl_output)
    string(REGEX MATCH "[^\n]*$" openssl_prefix "${openssl_output}")
    if(NOT openssl_result EQUAL 0 OR NOT EXISTS "${openssl_prefix}/include/openssl/ssl.h")
        message(FATAL_ERROR "scripts/build-openssl-mingw failed (${openssl_result})")
    endif()
    set(QUELVAR_OPENSSL_MINGW_ROOT "${openssl_prefix}" CACHE PATH
        "Prefix of the static MinGW-w64 OpenSSL build (empty: run scripts/build-openssl-mingw)"
        FORCE)
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${QUELVAR_OPENSSL_MINGW_ROOT}")
set(OPENSSL_ROOT_DIR "${QUELVAR_OPENSSL_MINGW_ROOT}")
# Linked statically, never loaded by name from the search path. FindOpenSSL adds ws2_32 and
# crypt32 for a static Windows build; the random generator needs bcrypt and the certificate
# store advapi32 and user32.
set(OPENSSL_USE_STATIC_LIBS TRUE)
find_package(OpenSSL 3 REQUIRED)
set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES
             bcrypt advapi32 user32)

# zlib from libz-mingw-w64-dev, its static library rather than the import library of
# zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# RapidJSON is header-only and the same as on Linux, but /usr/include cannot become an include
# directory of the cross-compiler (its C library headers would shadow MinGW's). A directory of
# the build holds a link to /usr/include/rapidjson alone, and a package configuration that
# names it answers find_package(RapidJSON).
find_path(QUELVAR_RAPIDJSON_HEADERS rapidjson/reader.h PATHS /usr/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(rapidjson_root "${CMAKE_BINARY_DIR}/rapidjson")
file(MAKE_DIRECTORY "${rapidjson_root}/include")
file(CREATE_LINK "${QUELVAR_RAPIDJSON_HEADERS}/rapidjson" "${rapidjson_root}/include/rapidjson"
     SYMBOLIC)
file(WRITE "${rapidjson_root}/RapidJSONConfig.cmake"
     "set(RAPIDJSON_INCLUDE_DIRS \"${rapidjson_root}/include\")\n"
     "set(RapidJSON_INCLUDE_DIRS \"${rapidjson_root}/include\")\n")
set(RapidJSON_DIR "${rapidjson_root}" CACHE PATH "RapidJSON for the Windows build" FORCE)

# The programs run under Wine, through scripts/wine-run with a Wine prefix of this build (never
# the user's ~/.wine). CTest starts one wineserver for a run and stops it at the end (see
# cmake/QuelvarTesting.cmake).
set(QUELVAR_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/scripts/wine-run;${QUELVAR_WINEPREFIX}")

# Adds the test that every program of the build imports only DLLs that ship with Windows, and a
# test of that test: a probe linked against zlib's import library (zlib1.dll) must fail it.
# Called once every target exists.
function(quelvar_add_import_table_test)
    set(programs "")
    set(directories "${PROJECT_SOURCE_DIR}")
    while(directories)
        list(POP_FRONT directories directory)
        get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
        foreach(target IN LISTS targets)
            get_target_property(type ${target} TYPE)
            if(type STREQUAL "EXECUTABLE" AND NOT target STREQUAL "import_table_probe")
                string(APPEND programs "$<TARGET_FILE:${target}>\n")
            endif()
        endforeach()
        get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
        list(APPEND directories ${subdirectories})
    endwhile()
    find_program(QUELVAR_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/windows-programs.txt" CONTENT "${programs}")
    add_test(NAME windows_import_table_test
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${QUELVAR_OBJDUMP}
                     -DPROGRAMS=${CMAKE_BINARY_DIR}/windows-programs.txt
                     -P ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake)
    set_tests_properties(windows_import_table_test PROPERTIES LABELS windows TIMEOUT 60)

    add_executable(import_table_probe ${PROJECT_SOURCE_DIR}/cmake/ImportProbe.c)
    find_library(QUELVAR_ZLIB_IMPORT_LIBRARY NAMES libz.dll.a REQUIRED)
    target_link_libraries(import_table_probe PRIVATE ${QUELVAR_ZLIB_IMPORT_LIBRARY})
    # The probe lies deep down, as a checkout in a long path would put it: the finding must
    # still be one line that names the program and the DLL.
    string(REPEAT "deep-folder-of-a-long-checkout-path/" 4 deep_folder)
    set_target_properties(import_table_probe PROPERTIES
                          RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/import-probe/${deep_folder}")
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/import-probe.txt"
         CONTENT "$<TARGET_FILE:import_table_probe>\n")
    add_test(NAME windows_import_table_probe_test
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${QUELVAR_OBJDUMP}
                     -DPROGRAMS=${CMAKE_BINARY_DIR}/import-probe.txt
                     -P ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake)
    set_tests_properties(windows_import_table_probe_test PROPERTIES LABELS windows TIMEOUT 60
                         PASS_REGULAR_EXPRESSION "import_table_probe.exe: imports zlib1\\.dll")
endfunction()
