# The host build: the launcher compiled natively against the test double of
# the platform, with its unit tests, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
enable_testing()
find_package(GTest REQUIRED)

set(KAVREL_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
target_compile_options(kavrel_launcher PRIVATE ${KAVREL_SANITIZERS} -g)

add_subdirectory(tests/unit)

# The checks beyond the unit tests, run by the same test runner so that one
# summary covers everything. They read the Windows programs that the
# windows-x86 and windows-x64 presets build, so those must be built first
# (scripts/test does that).
set(KAVREL_WINDOWS_PRESETS windows-x86 windows-x64)
set(KAVREL_BUILD_ROOT ${PROJECT_SOURCE_DIR}/build)
foreach(preset IN LISTS KAVREL_WINDOWS_PRESETS)
  string(REPLACE "windows-" "" arch ${preset})
  add_test(NAME build_check.${preset}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/check_program ${arch}
                   ${KAVREL_BUILD_ROOT}/${preset}/kavrel.exe)
  add_test(NAME build_check.${preset}.reproducible
           COMMAND ${PROJECT_SOURCE_DIR}/tests/build_check/check_reproducible ${preset})
  set_tests_properties(build_check.${preset} build_check.${preset}.reproducible
                       PROPERTIES LABELS windows TIMEOUT 300)
endforeach()

add_test(NAME e2e.wine
         COMMAND ${PROJECT_SOURCE_DIR}/tests/e2e/run ${KAVREL_BUILD_ROOT}/windows-x86
                 ${KAVREL_BUILD_ROOT}/windows-x64)
set_tests_properties(e2e.wine PROPERTIES LABELS "windows;wine" TIMEOUT 900)

add_test(NAME fuzz.short COMMAND ${PROJECT_SOURCE_DIR}/scripts/fuzz 15)
add_test(NAME lint COMMAND ${PROJECT_SOURCE_DIR}/scripts/lint)
set_tests_properties(fuzz.short lint PROPERTIES LABELS static TIMEOUT 900)
set_tests_properties(e2e.wine fuzz.short lint build_check.windows-x86.reproducible
                     build_check.windows-x64.reproducible PROPERTIES RUN_SERIAL TRUE)
