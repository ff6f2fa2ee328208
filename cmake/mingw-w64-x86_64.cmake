# Toolchain for the x86-64 Windows program.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KAVREL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
