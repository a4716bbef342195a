# The sound track, sound copying, the sound buffers and the retiming rings.
set(LC_PASSES_SOUND_SOURCES
    audio_ring.cpp
    copy_sound.cpp
    sound_buffer.cpp
    sound_track.cpp)
set(LC_PASSES_SOUND_HEADERS
    audio_ring.h
    copy_sound.h
    sound_buffer.h
    sound_track.h)
