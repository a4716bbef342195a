# Codec side of the media layer: pixel buffers, the codec registry, image and standard compression.
set(LC_MEDIA_CODEC_SOURCES
    gworld.cpp)
set(LC_MEDIA_CODEC_HEADERS
    gworld.h
    codec_registry.h
    image_compression.h
    standard_compression.h)
