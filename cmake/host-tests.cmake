# The host build: the launcher compiled natively against the test double of
# the platform, with its unit tests, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
enable_testing()
find_package(GTest REQUIRED)

set(KAVREL_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
target_compile_options(kavrel_launcher PRIVATE ${KAVREL_SANITIZERS} -g)

add_subdirectory(tests/unit)
