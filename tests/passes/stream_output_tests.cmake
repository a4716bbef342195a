lc_test(stream_output_tests LABEL passes
    SOURCES stream_output_test.cpp
    DEPS lc_passes)
