# Shared helpers for the library, test, benchmark and fuzzer folders.

# vantrel_add_test(NAME SOURCES ... [LIBRARIES ...] [LABELS ...])
# One GoogleTest executable; each test case becomes a CTest test. Label "threaded" marks tests that
# also run under ThreadSanitizer in CI.
function(vantrel_add_test name)
    cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${arg_LABELS}")
endfunction()

# vantrel_add_benchmark(NAME SOURCES ... [LIBRARIES ...])
function(vantrel_add_benchmark name)
    cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} benchmark::benchmark)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()

# vantrel_add_fuzzer(NAME SOURCES ... [LIBRARIES ...])
# A libFuzzer entry point, built only with -DVANTREL_FUZZ=ON and clang; `cmake --build . --target fuzz`
# builds them all into bin/ as fuzz_*.
function(vantrel_add_fuzzer name)
    if(NOT VANTREL_FUZZ)
        return()
    endif()
    cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(fuzz_${name} ${arg_SOURCES})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE ${arg_LIBRARIES})
    add_dependencies(fuzz fuzz_${name})
endfunction()
