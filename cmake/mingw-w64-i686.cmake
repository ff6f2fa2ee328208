# Toolchain for the 32-bit x86 Windows program, the deliverable.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KAVREL_MINGW_TRIPLE i686-w64-mingw32)
set(KAVREL_MINGW_ARCH "i[3-6]86")
set(KAVREL_MINGW_POINTER_SIZE 4)
set(KAVREL_MINGW_RC_TARGET pe-i386)
set(KAVREL_MINGW_PRESET windows-x86)
set(KAVREL_MINGW_SHELL "an MSYS2 MINGW32 shell")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
