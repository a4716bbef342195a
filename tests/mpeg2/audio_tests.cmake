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

