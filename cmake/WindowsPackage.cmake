# The Windows package: quelvar-1.0.0.0-win64.zip with quelvar.exe, quelvar-check.exe, the
# deployment notes in Portuguese and English, and the licences of the libraries linked into
# the programs. Nothing to install: no DLLs, no installer, no registry entries.
#   cmake --build --preset windows --target package
install(TARGETS quelvar quelvar-check RUNTIME DESTINATION .)
install(FILES
    ${PROJECT_SOURCE_DIR}/resources/windows/LEIA-ME.txt
    ${PROJECT_SOURCE_DIR}/resources/windows/README.txt
    DESTINATION .)
# OpenSSL's licence from its static build, zlib's from the Debian package that provides the
# library linked in.
install(FILES ${QUELVAR_OPENSSL_MINGW_ROOT}/LICENSE.txt DESTINATION . RENAME LICENSE-OpenSSL.txt)
install(FILES /usr/share/doc/libz-mingw-w64/copyright DESTINATION . RENAME LICENSE-zlib.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quelvar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quelvar-${PROJECT_VERSION}-win64)
# The files stand at the top of the zip, ready to be copied next to config.js.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The programs ship without their debugging information.
set(CPACK_STRIP_FILES ON)
include(CPack)
