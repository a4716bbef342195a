#include <algorithm>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "movie_test_support.h"
#include "platform/media/movies.h"
#include "platform/sys/bytes.h"
#include "platform/sys/file.h"

// Damaged and hostile movie files: every one gives an error code or a movie whose every sample
// can be read, never a crash or a read outside the file (the sanitizers watch).

namespace {

// Opens bytes as a movie file and, when that works, reads every sample of every track.
OSErr OpenAndWalk(const std::vector<uint8_t> &bytes)
{
    std::string path = MediaFixtureDir() + "../hostile_" + std::to_string(getpid()) + ".mov";
    EXPECT_TRUE(lc::WriteWholeFile(path.c_str(), bytes.data(), bytes.size()).ok());
    Movie movie = nullptr;
    OSErr err = OpenMoviePath(path, &movie);
    if (err != noErr) {
        EXPECT_EQ(movie, nullptr);
        EXPECT_LT(err, 0);
        lc::DeletePath(path.c_str());
        return err;
    }
    Handle data = NewHandle(0);
    Handle desc = NewHandle(4);
    for (long i = 1; i <= GetMovieTrackCount(movie); ++i) {
        Media media = GetTrackMedia(GetMovieIndTrack(movie, i));
        if (!media) {
            continue;
        }
        TimeValue t = 0;
        for (int guard = 0; guard < 20000 && t >= 0; ++guard) {
            long count = 0;
            OSErr r = GetMediaSample(media, data, 0, nullptr, t, nullptr, nullptr,
                                     reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1000,
                                     &count, nullptr);
            if (r != noErr) {
                break;
            }
            TimeValue next = -1;
            GetMediaNextInterestingTime(media, nextTimeMediaSample, t + TimeValue(count) - 1,
                                        FixedOne, &next, nullptr);
            t = next >= 1 ? next : -1;
        }
        Track track = GetMovieIndTrack(movie, i);
        TrackTimeToMediaTime(GetTrackDuration(track) / 2, track);
    }
    OSType eyes = VisualMediaCharacteristic;
    TimeValue t = 0;
    GetMovieNextInterestingTime(movie, nextTimeMediaSample | nextTimeEdgeOK, 1, &eyes, 0, -FixedOne,
                                &t, nullptr);
    DisposeHandle(data);
    DisposeHandle(desc);
    DisposeMovie(movie);
    lc::DeletePath(path.c_str());
    return noErr;
}

struct AtomAt
{
    size_t offset; // of the size field
    uint32_t type;
};

// Every atom of the file, descending into the containers of the movie atom.
void FindAtoms(const std::vector<uint8_t> &b, size_t from, size_t to, std::vector<AtomAt> *out)
{
    static const uint32_t containers[] = {lc::FourCC("moov"), lc::FourCC("trak"),
                                          lc::FourCC("mdia"), lc::FourCC("minf"),
                                          lc::FourCC("stbl"), lc::FourCC("edts")};
    size_t p = from;
    while (p + 8 <= to) {
        uint32_t size = lc::LoadU32be(&b[p]);
        uint32_t type = lc::LoadU32be(&b[p + 4]);
        if (size < 8 || p + size > to) {
            return;
        }
        out->push_back({p, type});
        for (uint32_t c : containers) {
            if (type == c) {
                FindAtoms(b, p + 8, p + size, out);
            }
        }
        p += size;
    }
}

class HostileMovie : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        good_ = FileBytes(Fixture(GetParam()));
        ASSERT_FALSE(good_.empty());
        ASSERT_EQ(OpenAndWalk(good_), noErr);
        FindAtoms(good_, 0, good_.size(), &atoms_);
    }
    std::vector<uint8_t> good_;
    std::vector<AtomAt> atoms_;
};

TEST_P(HostileMovie, TruncatedAnywhere)
{
    // A file cut short loses its movie atom or an atom's tail: refused as damaged, never opened
    // with samples that are not there. Only a cut between top-level atoms after the movie atom
    // leaves a whole movie.
    size_t moovEnd = 0;
    for (const AtomAt &a : atoms_) {
        if (a.type == lc::FourCC("moov")) {
            moovEnd = a.offset + lc::LoadU32be(&good_[a.offset]);
        }
    }
    ASSERT_GT(moovEnd, 0u);
    std::vector<size_t> wholeAt;
    for (size_t p = 0; p + 8 <= good_.size(); p += lc::LoadU32be(&good_[p])) {
        if (p >= moovEnd) {
            wholeAt.push_back(p);
        }
    }
    auto expected = [&](size_t cut) {
        return std::find(wholeAt.begin(), wholeAt.end(), cut) != wholeAt.end() ? noErr : badFormat;
    };
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut < good_.size(); cut += std::max<size_t>(1, good_.size() / 300)) {
        cuts.push_back(cut);
    }
    for (const AtomAt &a : atoms_) {
        cuts.push_back(a.offset + 12); // inside every atom's header or first field
    }
    for (size_t cut : cuts) {
        std::vector<uint8_t> b(good_.begin(), good_.begin() + long(cut));
        EXPECT_EQ(OpenAndWalk(b), expected(cut)) << "cut at " << cut;
    }
}

TEST_P(HostileMovie, AtomSizesPastTheEndOrTooSmall)
{
    for (const AtomAt &a : atoms_) {
        for (uint32_t size : {0u, 1u, 7u, 0x7fffffffu, 0xfffffff0u}) {
            std::vector<uint8_t> b = good_;
            lc::StoreU32be(&b[a.offset], size);
            OSErr err = OpenAndWalk(b);
            if (a.type == lc::FourCC("moov") && size > 8) {
                EXPECT_NE(err, noErr);
            }
        }
    }
}

TEST_P(HostileMovie, ZeroAndHugeCounts)
{
    // The count field of each table (after version and flags; stsz has its sample size first).
    for (const AtomAt &a : atoms_) {
        size_t field = 0;
        switch (a.type) {
        case lc::FourCC("stsd"):
        case lc::FourCC("stts"):
        case lc::FourCC("stsc"):
        case lc::FourCC("stco"):
        case lc::FourCC("co64"):
        case lc::FourCC("stss"):
        case lc::FourCC("elst"):
            field = a.offset + 12;
            break;
        case lc::FourCC("stsz"):
            field = a.offset + 16;
            break;
        default:
            continue;
        }
        for (uint32_t count : {0u, 1u, 0x10000u, 0x7fffffffu, 0xffffffffu}) {
            std::vector<uint8_t> b = good_;
            lc::StoreU32be(&b[field], count);
            OpenAndWalk(b);
        }
        if (a.type == lc::FourCC("stsz")) {
            // A constant sample size with a huge count, and a huge constant size.
            std::vector<uint8_t> b = good_;
            lc::StoreU32be(&b[a.offset + 12], 0x7fffffffu);
            EXPECT_NE(OpenAndWalk(b), noErr);
        }
        if (a.type == lc::FourCC("stco")) {
            std::vector<uint8_t> b = good_;
            lc::StoreU32be(&b[a.offset + 16],
                           uint32_t(good_.size()) - 2); // first chunk past the end
            EXPECT_NE(OpenAndWalk(b), noErr);
        }
    }
}

TEST_P(HostileMovie, RandomBytesInTheMovieAtom)
{
    size_t moov = 0, moovSize = 0;
    for (const AtomAt &a : atoms_) {
        if (a.type == lc::FourCC("moov")) {
            moov = a.offset;
            moovSize = lc::LoadU32be(&good_[a.offset]);
        }
    }
    ASSERT_GT(moovSize, 8u);
    uint32_t state = 12345;
    auto next = [&] {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7fff;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> b = good_;
        for (int k = 0; k < 4; ++k) {
            size_t at = moov + 8 + (size_t(next()) << 15 | next()) % (moovSize - 8);
            b[at] = uint8_t(next());
        }
        OpenAndWalk(b);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HostileMovie,
                         ::testing::Values("media_small.mov", "media_small_fast.mov",
                                           "media_edit.mov", "media_tc.mov"),
                         [](const auto &param) {
                             std::string n = param.param;
                             return n.substr(0, n.find('.'));
                         });

// Movie atoms that must be refused by kind.
std::vector<uint8_t> WithMovieChild(const std::vector<uint8_t> &good, const char (&type)[5])
{
    std::vector<AtomAt> atoms;
    FindAtoms(good, 0, good.size(), &atoms);
    std::vector<uint8_t> b = good;
    for (const AtomAt &a : atoms) {
        if (a.type == lc::FourCC("moov")) {
            // Put the child first, inside the movie atom, and grow the movie atom's size.
            uint8_t child[16] = {};
            lc::StoreU32be(child, 16);
            lc::StoreU32be(child + 4, lc::FourCC(type));
            b.insert(b.begin() + long(a.offset + 8), child, child + 16);
            lc::StoreU32be(&b[a.offset], lc::LoadU32be(&good[a.offset]) + 16);
            break;
        }
    }
    return b;
}

TEST(HostileMovieKinds, CompressedAndFragmentedMovieAtomsAreRefused)
{
    std::vector<uint8_t> good = FileBytes(Fixture("media_small.mov")); // movie atom last
    EXPECT_EQ(OpenAndWalk(WithMovieChild(good, "cmov")), invalidMovie);
    EXPECT_EQ(OpenAndWalk(WithMovieChild(good, "mvex")), invalidMovie);
    EXPECT_EQ(OpenAndWalk(WithMovieChild(good, "free")), noErr);
    std::vector<uint8_t> moof = good;
    const uint8_t atom[8] = {0, 0, 0, 8, 'm', 'o', 'o', 'f'};
    moof.insert(moof.end(), atom, atom + 8);
    EXPECT_EQ(OpenAndWalk(moof), invalidMovie);
    EXPECT_EQ(OpenAndWalk({}), badFormat);
    EXPECT_EQ(OpenAndWalk({0, 0, 0, 8, 'f', 'r', 'e', 'e'}), badFormat); // no movie atom
}

} // namespace
