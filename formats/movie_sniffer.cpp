#include "formats/movie_sniffer.h"

#include <cstdint>
#include <cstdio>

#include "platform/sys/bytes.h"
#include "platform/sys/file.h"

namespace {

// Top-level atom types of QuickTime files, in the order they are tried.
constexpr uint32_t kQuickTimeAtoms[] = {
    lc::FourCC("free"), lc::FourCC("skip"), lc::FourCC("wide"), lc::FourCC("pnot"),
    lc::FourCC("moov"), lc::FourCC("mdat"), lc::FourCC("ftyp"),
};

bool ReadWordAt(lc::File &f, int64_t pos, uint32_t &word)
{
    uint8_t b[4];
    if (f.seek(pos, SEEK_SET) != pos || f.read(b, 4) != 4) {
        return false;
    }
    word = lc::LoadU32be(b);
    return true;
}

} // namespace

int SniffMovieFile(const char *path)
{
    lc::File f;
    if (!path || !f.open(path, lc::FileMode::Read)) {
        return kSniffUnreadable;
    }
    uint32_t word = 0;
    if (!ReadWordAt(f, 4, word)) {
        return kSniffUnreadable;
    }
    for (uint32_t atom : kQuickTimeAtoms) {
        if (word == atom) {
            return kSniffQuickTime;
        }
    }
    if (!ReadWordAt(f, 6, word)) {
        return kSniffUnreadable;
    }
    return word == lc::FourCC("JFIF") ? kSniffQuickTime : kSniffOther;
}
