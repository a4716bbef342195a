lc_test(movie_tests LABEL media
    SOURCES movie_test_support.cpp movie_reader_test.cpp movie_writer_test.cpp movie_hostile_test.cpp movie_import_test.cpp movie_controller_test.cpp movie_export_test.cpp timecode_media_test.cpp played_sound_test.cpp
    DEPS lc_media lc_test_support)
