# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads).
# Debian has no Qt or RtMidi for this target: scripts/build-windows builds both
# from Debian's source packages into a cache and passes it as
# TARNWICK_WINDOWS_SDK (or the environment variable of that name). Without
# one, only the parts that need neither build (TARNWICK_BUILD_APP=OFF): the
# protocol, the stream port with its WinMM backend, and the WinMM driver.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT TARNWICK_WINDOWS_SDK AND DEFINED ENV{TARNWICK_WINDOWS_SDK})
    set(TARNWICK_WINDOWS_SDK $ENV{TARNWICK_WINDOWS_SDK})
endif()
# try_compile re-reads this file: hand the SDK on to it.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNWICK_WINDOWS_SDK)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(TARNWICK_WINDOWS_SDK)
    list(APPEND CMAKE_FIND_ROOT_PATH ${TARNWICK_WINDOWS_SDK}/qt ${TARNWICK_WINDOWS_SDK}/rtmidi)
    # pkg-config must see the SDK's rtmidi.pc, never the host's.
    set(ENV{PKG_CONFIG_LIBDIR} ${TARNWICK_WINDOWS_SDK}/rtmidi/lib/pkgconfig)
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
else()
    # The driver alone runs without the compiler's runtime DLLs beside it.
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
