lc_test(frame_feed_tests LABEL engine
    SOURCES engine_test_util.cpp frame_feed_test.cpp
    DEPS lc_engine)
