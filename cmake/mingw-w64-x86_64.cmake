# Cross build for 64-bit Windows with Debian's mingw-w64 (GCC 12, posix threads).
#
# The product .exe and the test .exe are built here; the tests run under Wine through
# CMAKE_CROSSCOMPILING_EMULATOR, so `ctest --preset windows` works on the Linux host.
# Wine uses the prefix named by WINEPREFIX in the environment (default ~/.wine); the
# scripts point it into the build tree.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FWUPDATE_MINGW_TRIPLE x86_64-w64-mingw32)

# The posix flavour: its libstdc++ has std::thread and friends, which GoogleTest uses.
set(CMAKE_C_COMPILER ${FWUPDATE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FWUPDATE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_ASM_COMPILER ${FWUPDATE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_RC_COMPILER ${FWUPDATE_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${FWUPDATE_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${FWUPDATE_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJCOPY ${FWUPDATE_MINGW_TRIPLE}-objcopy CACHE FILEPATH "")

# Headers and libraries come from the mingw-w64 sysroot only; programs (the host
# compiler for the placeholder image generator, wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${FWUPDATE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine package puts the `wine` front end on PATH; wine64 alone ships only the
# loader, /usr/lib/wine/wine64. Either runs a 64-bit .exe.
find_program(FWUPDATE_WINE NAMES wine wine64 PATHS /usr/lib/wine)
# Without Mono and Gecko (mscoree, mshtml): a console test needs neither, and a new
# prefix would otherwise try to install them.
if(FWUPDATE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" ${FWUPDATE_WINE})
endif()
