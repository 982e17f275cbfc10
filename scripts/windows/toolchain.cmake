# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the -posix
# variant: std::thread and std::mutex need its winpthreads threading model).
# Used for the SDK's CMake packages and for Velmora itself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMORA_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORA_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW}-windres)
set(CMAKE_AR ${VELMORA_MINGW}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VELMORA_MINGW}-ranlib CACHE FILEPATH "")

# Libraries, headers and CMake packages come from the MinGW sysroot and the
# SDK only, never from the Linux system; programs (moc, rcc) from the host.
set(VELMORA_WINDOWS_SDK "$ENV{VELMORA_WINDOWS_SDK}" CACHE PATH "The Windows SDK built by scripts/windows.sh")
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW} ${VELMORA_WINDOWS_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers for the SDK's .pc files alone.
if(VELMORA_WINDOWS_SDK)
    set(ENV{PKG_CONFIG_LIBDIR} "${VELMORA_WINDOWS_SDK}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
endif()
