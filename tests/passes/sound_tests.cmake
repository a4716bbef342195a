# The sound track, sound copying and the retiming rings.
lc_test(sound_tests LABEL sound
    SOURCES sound_ring_test.cpp sound_copy_test.cpp sound_test_support.cpp
    DEPS lc_passes lc_test_support)
