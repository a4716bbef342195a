lc_test(output_stage_tests LABEL mpeg2
    SOURCES output_stage_test.cpp output_stage_test_support.cpp
    DEPS lc_mpeg2)
