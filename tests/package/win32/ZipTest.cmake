cmake_minimum_required(VERSION 3.25)
# cmake -DCPACK=... -DCONFIG=CPackConfig.cmake -DOUTPUT=dir -DOBJDUMP=... -DCHECK_IMPORTS=...
#       -P ZipTest.cmake
# Builds the Windows zip with CPack, lists it and fails unless it holds exactly the two
# programs, the example quelvar.ini, the two notes and the three licences at its top, no DLL, and programs that import
# only DLLs that ship with Windows.
file(REMOVE_RECURSE "${OUTPUT}")
file(MAKE_DIRECTORY "${OUTPUT}")
execute_process(COMMAND "${CPACK}" --config "${CONFIG}" -B "${OUTPUT}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed (${result}):\n${output}")
endif()
set(zip "${OUTPUT}/quelvar-1.0.0.0-win64.zip")
if(NOT EXISTS "${zip}")
    message(FATAL_ERROR "no ${zip}; cpack said:\n${output}")
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${zip}"
                RESULT_VARIABLE result OUTPUT_VARIABLE listing)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot list ${zip}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "^$")
list(SORT entries)
set(expected LEIA-ME.txt LICENSE-OpenSSL.txt LICENSE-winpthreads.txt LICENSE-zlib.txt README.txt
    quelvar-check.exe quelvar.exe quelvar.ini.example)
if(NOT entries STREQUAL expected)
    message(FATAL_ERROR "the zip holds\n  ${entries}\nnot\n  ${expected}")
endif()

# The programs as they are in the zip: stripped, and importing only system DLLs.
set(unpacked "${OUTPUT}/unpacked")
file(MAKE_DIRECTORY "${unpacked}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${zip}" WORKING_DIRECTORY "${unpacked}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${zip}")
endif()
file(WRITE "${OUTPUT}/programs.txt" "${unpacked}/quelvar.exe\n${unpacked}/quelvar-check.exe\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -DOBJDUMP=${OBJDUMP}
                        -DPROGRAMS=${OUTPUT}/programs.txt -P "${CHECK_IMPORTS}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "imports:\n${output}")
endif()
message(STATUS "${output}")
execute_process(COMMAND "${OBJDUMP}" -h "${unpacked}/quelvar.exe" OUTPUT_VARIABLE sections)
if(sections MATCHES "\\.debug_info")
    message(FATAL_ERROR "quelvar.exe in the zip still carries its debugging information")
endif()
foreach(note LEIA-ME.txt README.txt)
    file(READ "${unpacked}/${note}" text)
    foreach(word config.js quelvar-check.exe --status-url QUELVAR_STATUS_URL quelvar.ini
            quelvar.ini.example "[status]" "host = " /v1/status "Testar Portas" quelvar-status
            LICENSE-winpthreads.txt)
        string(FIND "${text}" "${word}" at)
        if(at LESS 0)
            message(FATAL_ERROR "${note} does not mention ${word}")
        endif()
    endforeach()
endforeach()
# The example names the fixed scheme and path, and its one setting is the host alone.
file(READ "${unpacked}/quelvar.ini.example" example)
foreach(word https /v1/status "[status]" "\nhost = status.example.org:8443\n")
    string(FIND "${example}" "${word}" at)
    if(at LESS 0)
        message(FATAL_ERROR "quelvar.ini.example does not hold ${word}")
    endif()
endforeach()
file(READ "${unpacked}/LICENSE-winpthreads.txt" licence)
string(FIND "${licence}" "winpthreads" at)
if(at LESS 0)
    message(FATAL_ERROR "LICENSE-winpthreads.txt does not cover winpthreads")
endif()
message(STATUS "${zip}: ${entries}")
