# The host build: the launcher compiled natively against the test double of
# the platform, with its unit tests, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
enable_testing()
find_package(GTest REQUIRED)

set(KAVREL_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
target_compile_options(kavrel_launcher PRIVATE ${KAVREL_SANITIZERS} -g)

add_subdirectory(tests/unit)

# CTest's summary names a skipped test, not why: after it, ctest-skips gives
# each test's own "skipped ..." line.
file(WRITE ${CMAKE_BINARY_DIR}/CTestCustom.cmake
     "set(CTEST_CUSTOM_POST_TEST \"\\\"${PROJECT_SOURCE_DIR}/scripts/lib/ctest-skips\\\" \\\"${CMAKE_BINARY_DIR}\\\"\")\n")

# How the scripts decide what this host runs under Wine.
add_test(NAME scripts.host_choice COMMAND ${PROJECT_SOURCE_DIR}/tests/scripts/check_host_choice)

# The checks beyond the unit tests, run by the same test runner so that one
# summary covers everything. They read the Windows programs that the
# windows-x86 and windows-x64 presets build, with their test programs, so
# those must be built first (scripts/test does that); windows_builds says so
# plainly when they are not, and the checks then do not run.
set(KAVREL_WINDOWS_PRESETS windows-x86 windows-x64)
set(KAVREL_BUILD_ROOT ${PROJECT_SOURCE_DIR}/build)
add_test(NAME windows_builds
         COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/check_built ${KAVREL_BUILD_ROOT}
                 ${KAVREL_WINDOWS_PRESETS})
set_tests_properties(windows_builds PROPERTIES LABELS windows FIXTURES_SETUP windows_builds)

# The one further build of both Windows presets in a test run: an unsigned
# release from scratch into build/rebuilt/, whose programs the
# reproducibility checks compare and whose build folders the release test
# signs from.
add_test(NAME rebuild COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/rebuild ${KAVREL_BUILD_ROOT})
set_tests_properties(rebuild PROPERTIES LABELS windows TIMEOUT 600 RUN_SERIAL TRUE
                                        FIXTURES_SETUP rebuilt)

foreach(preset IN LISTS KAVREL_WINDOWS_PRESETS)
  string(REPLACE "windows-" "" arch ${preset})
  add_test(NAME build_check.${preset}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/check_program ${arch}
                   ${KAVREL_BUILD_ROOT}/${preset}/kavrel.exe)
  add_test(NAME build_check.${preset}.explain
           COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/check_program ${arch}
                   ${KAVREL_BUILD_ROOT}/${preset}/kavrel-explain.exe)
  add_test(NAME build_check.${preset}.reproducible
           COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/check_reproducible ${preset})
  # Skipped (status 77) where this host cannot run the preset's programs.
  add_test(NAME e2e.wine.${preset}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/e2e/run ${KAVREL_BUILD_ROOT}/${preset})
  set_tests_properties(build_check.${preset} build_check.${preset}.explain
                       build_check.${preset}.reproducible
                       PROPERTIES LABELS windows TIMEOUT 300 FIXTURES_REQUIRED windows_builds)
  set_tests_properties(build_check.${preset}.reproducible PROPERTIES FIXTURES_REQUIRED
                                                                     "windows_builds;rebuilt")
  set_tests_properties(e2e.wine.${preset} PROPERTIES LABELS "windows;wine" TIMEOUT 900
                       SKIP_RETURN_CODE 77 FIXTURES_REQUIRED windows_builds RUN_SERIAL TRUE)
endforeach()

# kavrel with the installer template, through the installer's pages as a
# user meets them, under Wine on an X server of its own: on windows-x86
# where this host runs 32-bit programs, otherwise on windows-x64. Skipped
# (status 77) where it cannot run here.
add_test(NAME e2e.installer
         COMMAND ${PROJECT_SOURCE_DIR}/tests/e2e/installer_scenes ${KAVREL_BUILD_ROOT})
set_tests_properties(e2e.installer PROPERTIES LABELS "windows;wine" TIMEOUT 600
                     SKIP_RETURN_CODE 77 FIXTURES_REQUIRED windows_builds RUN_SERIAL TRUE)

add_test(NAME fuzz.short COMMAND ${PROJECT_SOURCE_DIR}/scripts/fuzz 15)
add_test(NAME lint COMMAND ${PROJECT_SOURCE_DIR}/scripts/lint)
set_tests_properties(fuzz.short lint PROPERTIES LABELS static TIMEOUT 900 RUN_SERIAL TRUE)

# Releases signed with a throwaway certificate, into a temporary folder:
# scripts/release signs the programs of the rebuild above (up to date, so
# nothing is compiled again), and the check compares them, signatures
# removed, with the Windows builds of the presets.
add_test(NAME release
         COMMAND ${PROJECT_SOURCE_DIR}/tests/release/check_release ${KAVREL_BUILD_ROOT})
set_tests_properties(release PROPERTIES LABELS windows TIMEOUT 300 RUN_SERIAL TRUE
                                        FIXTURES_REQUIRED "windows_builds;rebuilt"
                                        FIXTURES_SETUP release_kit)

# The check kit of that release, unpacked and run with its own command under
# Wine, for each width this host runs.
add_test(NAME e2e.wine.kit
         COMMAND ${PROJECT_SOURCE_DIR}/tests/release/check_kit ${KAVREL_BUILD_ROOT})
set_tests_properties(e2e.wine.kit PROPERTIES LABELS "windows;wine" TIMEOUT 600
                     SKIP_RETURN_CODE 77 FIXTURES_REQUIRED release_kit RUN_SERIAL TRUE)

# Configuring a Windows preset with only the other width's compiler must stop.
add_test(NAME build_check.wrong_compiler
         COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/check_wrong_compiler)
set_tests_properties(build_check.wrong_compiler PROPERTIES LABELS windows TIMEOUT 120)
