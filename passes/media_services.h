#pragma once

// The movie services and image compression together. Both media headers define MatrixRecord;
// the movie services' copy is renamed here (no matrix call is made through it) until the media
// layer keeps one.
#include "platform/media/image_compression.h"
#include "platform/media/standard_compression.h"
#define MatrixRecord MovieMatrixRecord
#include "platform/media/movies.h"
#undef MatrixRecord
