# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (its POSIX-thread
# flavour: the C++ library's threads and mutexes need it). Used by
# scripts/build-windows.sh, which also builds the libraries Debian has no
# mingw package of and passes their prefix as QELDA_CROSS_DEPS.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QELDA_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QELDA_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QELDA_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QELDA_MINGW}-windres)

# Headers and libraries only from the mingw tree and the built prefix, never
# from the Linux system.
set(CMAKE_FIND_ROOT_PATH /usr/${QELDA_MINGW} ${QELDA_CROSS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(QELDA_CROSS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${QELDA_CROSS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()

# Programs built here run under wine.
find_program(QELDA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QELDA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QELDA_WINE})
endif()
