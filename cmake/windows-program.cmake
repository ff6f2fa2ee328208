# kavrel.exe: a Windows GUI program that needs nothing but what a bare
# Windows has. The C++ and GCC runtimes are linked in; the only DLLs it
# imports are kernel32, advapi32, shell32 and the system C runtime.

# Only mingw-w64 GCC builds these programs (the windows-x86 and windows-x64
# presets), and only for the width its preset names.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR
    "kavrel's Windows programs are built with mingw-w64 GCC through the "
    "windows-x86 or windows-x64 preset; ${CMAKE_CXX_COMPILER} is "
    "${CMAKE_CXX_COMPILER_ID}, not GCC.")
endif()
if(DEFINED KAVREL_MINGW_POINTER_SIZE AND NOT CMAKE_SIZEOF_VOID_P EQUAL KAVREL_MINGW_POINTER_SIZE)
  message(FATAL_ERROR
    "The ${KAVREL_MINGW_PRESET} build needs ${KAVREL_MINGW_POINTER_SIZE}-byte pointers, "
    "but ${CMAKE_CXX_COMPILER} compiles with ${CMAKE_SIZEOF_VOID_P}-byte ones.")
endif()

enable_language(RC)

# Small and reproducible: no exceptions or unwind tables, unused code
# dropped, symbols stripped, and no link timestamp inside.
set(KAVREL_WINDOWS_COMPILE_OPTIONS
    -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -ffunction-sections -fdata-sections -fno-ident
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.)
set(KAVREL_WINDOWS_LINK_OPTIONS
    -municode -mwindows -static -static-libgcc -static-libstdc++ -s
    -Wl,--gc-sections -Wl,--no-insert-timestamp -Wl,--build-id=none
    -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  list(APPEND KAVREL_WINDOWS_LINK_OPTIONS -Wl,--high-entropy-va)
endif()

target_compile_options(kavrel_launcher PRIVATE ${KAVREL_WINDOWS_COMPILE_OPTIONS})

# The version information reads the project's version and description
# through a generated header; Windows wants four numbers of 16 bits each.
set(KAVREL_VERSION_PARTS)
foreach(part MAJOR MINOR PATCH TWEAK)
  set(number "${PROJECT_VERSION_${part}}")
  if(number STREQUAL "")
    set(number 0)
  endif()
  if(number GREATER 65535)
    message(FATAL_ERROR "version ${PROJECT_VERSION}: each part must be at most 65535")
  endif()
  list(APPEND KAVREL_VERSION_PARTS ${number})
endforeach()
list(JOIN KAVREL_VERSION_PARTS ", " KAVREL_VERSION_NUMBERS)
list(JOIN KAVREL_VERSION_PARTS "." KAVREL_VERSION_TEXT)
set(KAVREL_VERSION_HEADER ${PROJECT_BINARY_DIR}/kavrel_version.h)
configure_file(resources/kavrel_version.h.in ${KAVREL_VERSION_HEADER} @ONLY)
# Each program's manifest names it and carries the same version.
foreach(KAVREL_MANIFEST_NAME kavrel kavrel-explain)
  configure_file(resources/kavrel.manifest.in ${PROJECT_BINARY_DIR}/${KAVREL_MANIFEST_NAME}.manifest
                 @ONLY)
endforeach()
# windres names the files it includes in its dependency file, but not the
# manifest it embeds; kavrel-explain's resources say the same in explain/.
set_source_files_properties(resources/kavrel.rc PROPERTIES OBJECT_DEPENDS
                            "${KAVREL_VERSION_HEADER};${PROJECT_BINARY_DIR}/kavrel.manifest")

add_executable(kavrel WIN32 platform/platform_windows.cpp platform/dll_search_windows.cpp
                            resources/kavrel.rc
                            $<TARGET_OBJECTS:kavrel_launcher>)
target_include_directories(kavrel PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
target_compile_options(kavrel PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${KAVREL_WARNINGS} ${KAVREL_WINDOWS_COMPILE_OPTIONS}>)
target_link_options(kavrel PRIVATE ${KAVREL_WINDOWS_LINK_OPTIONS})
target_link_libraries(kavrel PRIVATE advapi32 shell32)

# kavrel-explain.exe, the console companion that tells what kavrel would do.
add_subdirectory(explain)

# The programs the end-to-end tests and the demo start kavrel with, the
# benchmark's programs and the installer template built for the tests: built
# only when asked for (scripts/test, scripts/demo and scripts/bench do), so
# that a plain build of a preset builds the deliverable alone.
option(BUILD_TESTING "Build the end-to-end test and benchmark programs too" OFF)
if(BUILD_TESTING)
  add_subdirectory(tests/e2e)
  add_subdirectory(bench)
  add_subdirectory(examples/installer)
endif()
