# AC-3 decoding, downmix and the WAV track writers.
lc_test(mpeg2_audio_tests LABEL mpeg2
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/ac3_decoder_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ac3_downmix_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ac3_synthetic_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ac3_transform_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ac3_test_support.cpp
        ${CMAKE_CURRENT_LIST_DIR}/wav_writer_test.cpp
    DEPS lc_mpeg2 lc_formats)

# Fuzz target of the AC-3 decoder, replayed over its committed corpus.
add_executable(fuzz_ac3 ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_ac3.cpp)
target_link_libraries(fuzz_ac3 PRIVATE lc_options lc_mpeg2 lc_test_support)
add_test(NAME fuzz_ac3_replay COMMAND fuzz_ac3 ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_ac3_corpus)
set_tests_properties(fuzz_ac3_replay PROPERTIES LABELS "mpeg2;fuzz")
