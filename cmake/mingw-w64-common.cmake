# Cross-compiling for Windows with mingw-w64. The including toolchain file
# sets KAVREL_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# On Linux the compilers carry the target triple in their names; Debian ships
# a win32-threads and a posix-threads flavour and kavrel needs no threads.
# On Windows (an MSYS2 MinGW shell, say) the plain names are found on PATH.
find_program(KAVREL_MINGW_CXX NAMES ${KAVREL_MINGW_TRIPLE}-g++-win32
                                    ${KAVREL_MINGW_TRIPLE}-g++ g++ REQUIRED)
find_program(KAVREL_MINGW_RC NAMES ${KAVREL_MINGW_TRIPLE}-windres windres REQUIRED)
set(CMAKE_CXX_COMPILER ${KAVREL_MINGW_CXX})
set(CMAKE_RC_COMPILER ${KAVREL_MINGW_RC})

if(NOT CMAKE_HOST_WIN32)
  set(CMAKE_FIND_ROOT_PATH /usr/${KAVREL_MINGW_TRIPLE})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
endif()

# Where the build check finds the matching objdump.
find_program(KAVREL_OBJDUMP NAMES ${KAVREL_MINGW_TRIPLE}-objdump objdump)
