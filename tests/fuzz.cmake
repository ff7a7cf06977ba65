# The regression inputs of the hdrlib fuzzer (crafted files, what the fuzzer found,
# and two seeds that take the save paths), replayed through the whole fuzz target on
# every run.
if(TARGET fuzz-hdrlib-replay)
    add_test(NAME fuzz_hdrlib_corpus
             COMMAND fuzz-hdrlib-replay ${CMAKE_SOURCE_DIR}/tests/fuzz-corpus)
    # As scripts/test sets them; an absurd allocation returns null as in a release build.
    set_tests_properties(fuzz_hdrlib_corpus PROPERTIES TIMEOUT 600 ENVIRONMENT
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1")
endif()
