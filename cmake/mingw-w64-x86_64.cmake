# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain.
#
# The posix thread model of the compiler is chosen because the core runs a
# std::thread; the programs are linked statically, so they need no DLL of
# the toolchain beside them.  Libraries that Debian does not package for
# MinGW come from OVIX_WINDOWS_DEPS (see scripts/windows/build-deps.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OVIX_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${OVIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OVIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${OVIX_MINGW}-windres)

if(NOT OVIX_WINDOWS_DEPS AND DEFINED ENV{OVIX_WINDOWS_DEPS})
  set(OVIX_WINDOWS_DEPS $ENV{OVIX_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${OVIX_MINGW} ${OVIX_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs are started through Wine (scripts/windows/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh)
