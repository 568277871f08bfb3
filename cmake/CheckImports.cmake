cmake_minimum_required(VERSION 3.25)
# cmake -DOBJDUMP=... -DPROGRAMS=list-file -P CheckImports.cmake
# Fails unless every program named in the list file (one path a line) imports only DLLs that
# ship with Windows. Everything else (the C++ runtime, winpthread, zlib, OpenSSL) is linked
# into the program itself, so that it runs from its own folder with nothing installed.

# DLLs of Windows itself, compared without regard to case, and why a program may name them.
set(allowed
    kernel32.dll    # files, processes, threads, the console: every program
    msvcrt.dll      # the C runtime MinGW-w64 builds against, part of every Windows
    user32.dll      # the window and message boxes; OpenSSL asks it for the window station
    gdi32.dll       # drawing of the window
    comctl32.dll    # the common controls (tabs, tool tips) of the window
    comdlg32.dll    # common dialogs
    shell32.dll     # the command line in wide characters, icons
    advapi32.dll    # OpenSSL's random seed and event log, the registry
    ws2_32.dll      # Windows Sockets: the direct profile and the tests' scripted server
    winhttp.dll     # WinHTTP: the service profile
    crypt32.dll     # OpenSSL's access to the Windows certificate store
    bcrypt.dll      # OpenSSL's random generator on newer Windows
    ole32.dll       # COM, for the shell and the common controls
    oleaut32.dll    # COM automation types
    uxtheme.dll     # visual styles of the controls the window draws itself
    dwmapi.dll      # the window frame's colours
    version.dll     # reading a program's version record
)
# The Universal C Runtime's API sets (a UCRT build of MinGW-w64) ship with Windows 10.
set(allowed_pattern "^api-ms-win-crt-[a-z0-9-]+\\.dll$")

file(STRINGS "${PROGRAMS}" programs)
if(NOT programs)
    message(FATAL_ERROR "no programs listed in ${PROGRAMS}")
endif()
# Each finding is printed as a status line of its own, which CMake never wraps, so that the
# program's path, however long, stays on the line of the DLL it names.
set(failures 0)
foreach(program IN LISTS programs)
    execute_process(COMMAND "${OBJDUMP}" -p "${program}" OUTPUT_VARIABLE dump
                    RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
        string(STRIP "${error}" error)
        message(STATUS "${program}: objdump failed: ${error}")
        math(EXPR failures "${failures} + 1")
        continue()
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
    if(NOT names)
        message(STATUS "${program}: no imports found (not a Windows program?)")
        math(EXPR failures "${failures} + 1")
    endif()
    set(imports "")
    foreach(entry IN LISTS names)
        string(REGEX REPLACE "^DLL Name: " "" dll "${entry}")
        string(STRIP "${dll}" dll)
        string(TOLOWER "${dll}" lower)
        list(APPEND imports "${dll}")
        if(NOT lower IN_LIST allowed AND NOT lower MATCHES "${allowed_pattern}")
            message(STATUS "${program}: imports ${dll}, which Windows does not ship")
            math(EXPR failures "${failures} + 1")
        endif()
    endforeach()
    list(JOIN imports " " imports)
    message(STATUS "${program}: ${imports}")
endforeach()
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} finding(s) above")
endif()
