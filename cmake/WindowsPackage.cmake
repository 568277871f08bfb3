# The Windows package: quelvar-1.0.0.0-win64.zip with quelvar.exe, quelvar-check.exe, an
# example quelvar.ini, the deployment notes in Portuguese and English, and the licences of the
# libraries linked into the programs. Nothing to install: no DLLs, no installer, no registry entries.
#   cmake --build --preset windows --target package
install(TARGETS quelvar quelvar-check RUNTIME DESTINATION .)
install(FILES
    ${PROJECT_SOURCE_DIR}/resources/windows/LEIA-ME.txt
    ${PROJECT_SOURCE_DIR}/resources/windows/README.txt
    ${PROJECT_SOURCE_DIR}/resources/quelvar.ini.example
    DESTINATION .)
# OpenSSL's licence from its static build, zlib's from the Debian package that provides the
# library linked in.
install(FILES ${QUELVAR_OPENSSL_MINGW_ROOT}/LICENSE.txt DESTINATION . RENAME LICENSE-OpenSSL.txt)
install(FILES /usr/share/doc/libz-mingw-w64/copyright DESTINATION . RENAME LICENSE-zlib.txt)
# winpthreads (the posix threads of the MinGW-w64 toolchain, linked in statically) is licensed
# in the copyright file of the Debian package that provides libwinpthread.a, among the other
# parts of the MinGW-w64 runtime that are linked in too.
install(FILES /usr/share/doc/mingw-w64-x86-64-dev/copyright DESTINATION .
        RENAME LICENSE-winpthreads.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quelvar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quelvar-${PROJECT_VERSION}-win64)
# The files stand at the top of the zip, ready to be copied next to config.js.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The programs ship without their debugging information.
set(CPACK_STRIP_FILES ON)
include(CPack)
