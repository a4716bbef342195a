# Movie side of the media layer: files, movies, tracks, media, samples, importers, controller.
set(LC_MEDIA_MOVIE_SOURCES
    movie_model.cpp
    mov_reader.cpp
    mov_writer.cpp
    movie_import.cpp
    movies.cpp
    timecode_media.cpp
    movie_controller.cpp
    movie_export.cpp
    played_sound.cpp)
set(LC_MEDIA_MOVIE_HEADERS
    movies.h
    timecode_media.h
    movie_controller.h
    played_sound.h)
