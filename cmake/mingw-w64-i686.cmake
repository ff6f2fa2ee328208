# Toolchain for the 32-bit x86 Windows program, the deliverable.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KAVREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
