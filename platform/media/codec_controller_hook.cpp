#include "platform/media/codec_registry.h"
#include "platform/media/movie_controller.h"

void InstallMovieFrameDecoder() { SetMovieFrameDecoder(&DecodeSampleToRgb24); }
