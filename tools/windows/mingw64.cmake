# Cross-building for 64-bit Windows with Debian's MinGW-w64 compilers: the
# -posix ones, whose C++ library has std::thread (the win32-thread ones do not).
# The libraries cross-built by tools/windows/build-deps.sh are found in the
# folder VORNA_WINDOWS_DEPS (a cache setting or the environment), and
# pkg-config looks there and nowhere else: the machine's own .pc files
# describe Linux libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# The setting reaches the compiler checks (try_compile) through the environment.
if(VORNA_WINDOWS_DEPS)
  set(ENV{VORNA_WINDOWS_DEPS} "${VORNA_WINDOWS_DEPS}")
elseif(DEFINED ENV{VORNA_WINDOWS_DEPS})
  set(VORNA_WINDOWS_DEPS "$ENV{VORNA_WINDOWS_DEPS}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} ${VORNA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(VORNA_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${VORNA_WINDOWS_DEPS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# Wine runs the cross-built tests (ctest, gtest_discover_tests).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
