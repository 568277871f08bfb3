# Cross-builds the Windows programs on Debian with MinGW-w64 (posix thread model, so that
# std::thread and std::mutex work), for 64-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_SYSTEM_VERSION 10.0)

set(QUELVAR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELVAR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELVAR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELVAR_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW-w64 sysroot and from the OpenSSL build that
# scripts/build-openssl-mingw caches (passed in as QUELVAR_OPENSSL_MINGW_ROOT); programs of
# the build machine are found as usual.
set(CMAKE_FIND_ROOT_PATH /usr/${QUELVAR_MINGW_TRIPLET} ${QUELVAR_OPENSSL_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUELVAR_OPENSSL_MINGW_ROOT)

# Every executable is one self-contained file: the C and C++ runtimes and winpthread are
# linked in, so that it imports only DLLs that ship with Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
