# mingw-w64-x86_64.cmake -- cross-compiles quombax for 64-bit Windows with
# Debian's mingw-w64 compiler (package g++-mingw-w64-x86-64-posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_AR ${MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The .exe must run on a Windows machine with nothing installed: the C++
# runtime, libgcc and the winpthreads that the posix thread model brings
# are linked in, so only system DLLs remain.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# The test suite of the top folder runs on the build machine (it starts the
# binary from a POSIX shell); the Windows tests are built by
# tests/windows/*.sh with this same file. So a cross build makes the program.
set(QUOMBAX_TESTS OFF CACHE BOOL "Build the tests")

# Tests built for Windows run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
