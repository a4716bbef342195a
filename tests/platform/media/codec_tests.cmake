lc_test(media_codec_tests LABEL media
    SOURCES codec_test_support.cpp gworld_test.cpp image_compression_test.cpp
            standard_compression_test.cpp
    DEPS lc_media)
lc_test(media_yuv_convert_tests LABEL media SOURCES yuv_convert_test.cpp DEPS lc_media)
