# Movie side of the media layer: files, movies, tracks, media, samples, importers, controller.
set(LC_MEDIA_MOVIE_SOURCES)
set(LC_MEDIA_MOVIE_HEADERS
    movies.h
    timecode_media.h
    movie_controller.h)
