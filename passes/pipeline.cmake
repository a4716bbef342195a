# Movie processing and the per-frame passes.
set(LC_PASSES_PIPELINE_SOURCES
    mpeg_processing.cpp
    pass_pal_to_ntsc.cpp
    pass_slots.cpp
    pass_to_25p.cpp
    passes_setup.cpp
    process_movie.cpp
    vfw_output.cpp)
set(LC_PASSES_PIPELINE_HEADERS
    mpeg_processing.h
    pass_slots.h
    passes_setup.h
    process_movie.h
    vfw_output.h)
# MPEG-2 sources are decoded by the decoder thread; transport-stream sound by mp2decode.
cmake_language(DEFER CALL target_link_libraries lc_passes PUBLIC lc_mpeg2 lc_mp2decode)
