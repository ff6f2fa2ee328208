# Cross-compiling for Windows with mingw-w64. The including toolchain file
# sets KAVREL_MINGW_TRIPLE, KAVREL_MINGW_ARCH (the first part of the target
# triple the compiler must report, as a regular expression),
# KAVREL_MINGW_POINTER_SIZE, KAVREL_MINGW_RC_TARGET, KAVREL_MINGW_PRESET,
# KAVREL_MINGW_SHELL and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# On Linux the compilers carry the target triple in their names; Debian ships
# a win32-threads and a posix-threads flavour and kavrel needs no threads.
# On Windows (an MSYS2 MinGW shell, say) the plain names are found on PATH.
find_program(KAVREL_MINGW_CXX NAMES ${KAVREL_MINGW_TRIPLE}-g++-win32
                                    ${KAVREL_MINGW_TRIPLE}-g++ g++)
find_program(KAVREL_MINGW_RC NAMES ${KAVREL_MINGW_TRIPLE}-windres windres)
if(NOT KAVREL_MINGW_CXX OR NOT KAVREL_MINGW_RC)
  message(FATAL_ERROR
    "The ${KAVREL_MINGW_PRESET} build needs mingw-w64 GCC and windres for "
    "${KAVREL_MINGW_TRIPLE}: none found as ${KAVREL_MINGW_TRIPLE}-g++ or g++ "
    "(compiler: ${KAVREL_MINGW_CXX}, windres: ${KAVREL_MINGW_RC}). On Windows, "
    "configure from ${KAVREL_MINGW_SHELL}.")
endif()

# A plain g++ may be any MinGW on PATH. A 64-bit one for windows-x86 (or the
# reverse) would build a program of the other width without a word, and a
# compiler that is not GCC fails later on GCC's flags: stop here instead.
execute_process(COMMAND ${KAVREL_MINGW_CXX} -dumpmachine
                OUTPUT_VARIABLE kavrel_compiler_target
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                RESULT_VARIABLE kavrel_dumpmachine_result)
if(NOT kavrel_dumpmachine_result EQUAL 0
   OR NOT kavrel_compiler_target MATCHES "^${KAVREL_MINGW_ARCH}-.*mingw32$")
  if(NOT kavrel_dumpmachine_result EQUAL 0)
    set(kavrel_compiler_target "no target (it is not GCC)")
  endif()
  message(FATAL_ERROR
    "The ${KAVREL_MINGW_PRESET} build needs a mingw-w64 GCC for "
    "${KAVREL_MINGW_TRIPLE} (${KAVREL_MINGW_POINTER_SIZE}-byte pointers), but "
    "${KAVREL_MINGW_CXX} reports ${kavrel_compiler_target}. Put the right "
    "compiler first on PATH (on Windows: configure from ${KAVREL_MINGW_SHELL}) "
    "and remove the build folder, or choose the preset that matches the compiler.")
endif()

set(CMAKE_CXX_COMPILER ${KAVREL_MINGW_CXX})
set(CMAKE_RC_COMPILER ${KAVREL_MINGW_RC})
# A windres that can write both widths writes the one of this build.
set(CMAKE_RC_FLAGS_INIT "--target=${KAVREL_MINGW_RC_TARGET}")

if(NOT CMAKE_HOST_WIN32)
  set(CMAKE_FIND_ROOT_PATH /usr/${KAVREL_MINGW_TRIPLE})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
endif()
