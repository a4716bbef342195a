# AVI output through a chosen compressor; the round trip of every compressor through ffmpeg is slow.
set(LC_VFW_OUTPUT_TEST_SUPPORT ${CMAKE_SOURCE_DIR}/tests/platform/vfw/vfw_test_support.cpp)
lc_test(vfw_output_tests LABEL vfw
    SOURCES vfw_output_test.cpp ${LC_VFW_OUTPUT_TEST_SUPPORT}
    DEPS lc_passes)
lc_test(vfw_output_slow_tests LABEL vfw EXTRA_LABELS slow
    SOURCES vfw_output_roundtrip_test.cpp ${LC_VFW_OUTPUT_TEST_SUPPORT}
    DEPS lc_passes)
