# Codec side of the media layer: pixel buffers, the codec registry, image and standard compression.
set(LC_MEDIA_CODEC_SOURCES
    gworld.cpp
    codec_registry.cpp
    codec_controller_hook.cpp
    codec_uncompressed.cpp
    codec_libav.cpp
    yuv_convert.cpp
    x86/yuv_convert_sse2.cpp
    x86/yuv_convert_avx2.cpp
    image_compression.cpp
    standard_compression.cpp)
set(LC_MEDIA_CODEC_HEADERS
    gworld.h
    codec_registry.h
    image_compression.h
    standard_compression.h)
set_source_files_properties(x86/yuv_convert_sse2.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
set_source_files_properties(x86/yuv_convert_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
