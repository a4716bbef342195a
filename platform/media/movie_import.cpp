#include "platform/media/internal/movie_model.h"

namespace lc::media {

OSErr ImportMovie(const std::shared_ptr<DataFile> &, Movie *, std::string *) { return badFormat; }

} // namespace lc::media
