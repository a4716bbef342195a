# AVI output through a chosen compressor.
lc_test(vfw_output_tests LABEL vfw
    SOURCES vfw_output_test.cpp ${CMAKE_SOURCE_DIR}/tests/platform/vfw/vfw_test_support.cpp
    DEPS lc_passes)
