lc_test(stream_output_tests LABEL passes
    SOURCES stream_output_test.cpp stream_output_stage_test.cpp
            stream_output_test_support.cpp ../mpeg2/output_stage_test_support.cpp
    DEPS lc_passes)
