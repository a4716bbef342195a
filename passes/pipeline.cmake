# Movie processing and the per-frame passes.
set(LC_PASSES_PIPELINE_SOURCES
    pass_pal_to_ntsc.cpp
    pass_slots.cpp
    pass_to_25p.cpp
    passes_setup.cpp
    process_movie.cpp
    vfw_output.cpp)
set(LC_PASSES_PIPELINE_HEADERS
    pass_slots.h
    passes_setup.h
    process_movie.h
    vfw_output.h)
