#include <cstring>

#include <gtest/gtest.h>

#include "platform/sys/bytes.h"
#include "tests/formats/dv_test_hooks.h"

using dv_test::C;
using lc::FourCC;

namespace {

class DvSetupTest : public dv_test::HooksTest
{
};

TEST_F(DvSetupTest, FrameKindFromPictureAndFrameSize)
{
    struct Row
    {
        int height, width, frameBytes, kind;
    };
    const Row rows[] = {
        {1080, 1920, 480000, Dvhd1080i60}, {1080, 1920, 576000, Dvhd1080i50},
        {1080, 1440, 480000, Dvhd1080i50}, {1080, 1440, 576000, Dvhd1080i50},
        {1080, 1280, 576000, Dvhd1080i60}, {720, 1280, 240000, Dvhd720p60},
        {720, 1280, 288000, Dvhd720p50},   {480, 720, 240000, Dv50Ntsc},
        {480, 720, 120000, Dv25Ntsc},      {576, 720, 288000, Dv50Pal},
        {576, 720, 144000, Dv25Pal},       {486, 720, 120000, DvFormatNone},
        {720, 960, 240000, DvFormatNone},  {0, 0, 0, DvFormatNone},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(DvFrameFormatForSize(r.height, r.width, r.frameBytes), r.kind)
            << r.width << "x" << r.height << " " << r.frameBytes;
    }
}

// What each route needs is in place: frame buffer, pixel buffer of the frame's depth and size,
// the description of the frame's codec, the DVCPRO50 decoder, the output sound defaults.
TEST_F(DvSetupTest, SetUpPreparesTheRouteOfEachKind)
{
    struct Row
    {
        int height, width, frameBytes, kind;
        int depth;
        OSType codec;
        bool dv50;
    };
    const Row rows[] = {
        {480, 720, 120000, Dv25Ntsc, 24, FourCC("dvc "), false},
        {576, 720, 144000, Dv25Pal, 24, FourCC("dvcp"), false},
        {576, 720, 288000, Dv50Pal, 32, 0, true},
        {480, 720, 240000, Dv50Ntsc, 32, 0, true},
        {1080, 1920, 576000, Dvhd1080i50, 24, FourCC("AVd1"), false},
        {720, 1280, 240000, Dvhd720p60, 24, FourCC("AVd1"), false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.kind);
        C() = dv_test::Calls{};
        ASSERT_EQ(SetupDecoderForFrameSize(r.height, r.width, r.frameBytes), 1);
        const DvDecodeSetup &s = gDvDecodeSetup;
        EXPECT_TRUE(C().errors.empty());
        EXPECT_EQ(s.decoderFormat, r.kind);
        ASSERT_NE(s.frameBuffer, nullptr);
        EXPECT_EQ(GetHandleSize(s.frameBufferHandle), kDvFrameBufferBytes);
        ASSERT_NE(s.pixMap, nullptr);
        EXPECT_EQ(GetPixDepth(s.pixMap), r.depth);
        EXPECT_EQ((**s.pixMap).bounds.bottom, r.height);
        EXPECT_EQ((**s.pixMap).bounds.right, r.width);
        EXPECT_EQ(s.pixels, reinterpret_cast<uint8_t *>(GetPixBaseAddr(s.pixMap)));
        if (r.codec != 0) {
            EXPECT_EQ((**s.imageDescription).cType, r.codec);
            EXPECT_EQ((**s.imageDescription).height, r.height);
        }
        EXPECT_EQ(s.dv50Codec != nullptr, r.dv50);
        if (r.dv50) {
            EXPECT_EQ((**s.dv50Codec).dataSize, r.frameBytes);
        }
        ASSERT_NE(s.soundDescription, nullptr);
        const SoundDescription &sd = **s.soundDescription;
        EXPECT_EQ(sd.descSize, 36);
        EXPECT_EQ(sd.dataFormat, FourCC("sowt"));
        EXPECT_EQ(sd.dataRefIndex, 1);
        EXPECT_EQ(sd.numChannels, 2);
        EXPECT_EQ(sd.sampleSize, 16);
        EXPECT_EQ(sd.sampleRate, 0xBB800000u);
        EXPECT_EQ(sd.version, 0);
        EXPECT_EQ(C().soundInUse, s.soundDescription);
        EXPECT_EQ(C().cindrellInits, 1);
    }
    // Teardown releases everything and takes the sound description back from the sound track.
    TeardownDecoder();
    EXPECT_EQ(gDvDecodeSetup.decoderFormat, DvFormatNone);
    EXPECT_EQ(gDvDecodeSetup.frameBuffer, nullptr);
    EXPECT_EQ(gDvDecodeSetup.gworld, nullptr);
    EXPECT_EQ(gDvDecodeSetup.imageDescription, nullptr);
    EXPECT_EQ(gDvDecodeSetup.dv50Codec, nullptr);
    EXPECT_EQ(C().soundInUse, nullptr);
}

// An unsupported size fails instead of opening a movie whose frames are never decoded, and a
// failed set-up leaves nothing behind.
TEST_F(DvSetupTest, UnsupportedSizeFailsWithItsMessage)
{
    ASSERT_EQ(SetupDecoderForFrameSize(576, 720, 144000), 1);
    EXPECT_EQ(SetupDecoderForFrameSize(486, 720, 120000), 0);
    ASSERT_EQ(C().errors.size(), 1u);
    EXPECT_EQ(C().errors[0], "This format/frame size is not supported.");
    EXPECT_EQ(gDvDecodeSetup.decoderFormat, DvFormatNone);
    EXPECT_EQ(gDvDecodeSetup.frameBuffer, nullptr);
    EXPECT_EQ(gDvDecodeSetup.soundDescription, nullptr);
    EXPECT_EQ(C().soundInUse, nullptr);
    EXPECT_EQ(C().cindrellInits, 1);
}

// Builds a description holding extension data, with shown width and height at 156 and 160.
ImageDescriptionHandle DescriptionWithExtension(int32_t size, int width, int height)
{
    auto h = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(size));
    (**h).dataSize = 480000;
    auto *p = reinterpret_cast<uint8_t *>(*h);
    if (size >= 162) {
        lc::StoreU16be(p + 156, uint16_t(width));
        lc::StoreU16be(p + 160, uint16_t(height));
        p[153] = 'a';
    }
    return h;
}

TEST_F(DvSetupTest, Patch720pRewritesOnly1080LineExtensions)
{
    struct Row
    {
        int32_t size;
        int extWidth, extHeight, width;
        bool patched;
    };
    const Row rows[] = {
        {200, 1920, 1080, 1280, true},  {162, 1920, 1080, 1280, true},
        {200, 1920, 1080, 1920, false}, // not a 720p picture
        {200, 1440, 1080, 1280, false}, {200, 1920, 720, 1280, false},
        {86, 0, 0, 1280, false}, // no extension data: nothing is read past the handle
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.size);
        ImageDescriptionHandle h = DescriptionWithExtension(r.size, r.extWidth, r.extHeight);
        std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(*h),
                                    reinterpret_cast<uint8_t *>(*h) + r.size);
        PatchImageDescription720p(h, 720, r.width);
        const auto *p = reinterpret_cast<const uint8_t *>(*h);
        if (r.patched) {
            EXPECT_EQ(lc::LoadU16be(p + 156), 1280);
            EXPECT_EQ(lc::LoadU16be(p + 160), 720);
            EXPECT_EQ(p[153], 'b');
            EXPECT_EQ((**h).dataSize, 240000);
        } else {
            EXPECT_EQ(std::memcmp(p, before.data(), before.size()), 0);
        }
        DisposeHandle(reinterpret_cast<Handle>(h));
    }
    PatchImageDescription720p(nullptr, 720, 1280);
}

} // namespace
