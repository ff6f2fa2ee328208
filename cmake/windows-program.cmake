# kavrel.exe: a Windows GUI program that needs nothing but what a bare
# Windows has. The C++ and GCC runtimes are linked in; the only DLLs it
# imports are kernel32, advapi32, shell32 and the system C runtime.
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

add_executable(kavrel WIN32 platform/platform_windows.cpp resources/kavrel.rc
                            $<TARGET_OBJECTS:kavrel_launcher>)
target_include_directories(kavrel PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(kavrel PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${KAVREL_WARNINGS} ${KAVREL_WINDOWS_COMPILE_OPTIONS}>)
target_link_options(kavrel PRIVATE ${KAVREL_WINDOWS_LINK_OPTIONS})
target_link_libraries(kavrel PRIVATE advapi32 shell32)

# kavrel-explain.exe, the console companion that tells what kavrel would do.
add_subdirectory(explain)

# The programs the end-to-end tests and the demo start kavrel with, and the
# benchmark's programs.
add_subdirectory(tests/e2e)
add_subdirectory(bench)
