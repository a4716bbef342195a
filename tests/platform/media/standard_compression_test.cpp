#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codec_test_support.h"
#include "platform/media/standard_compression.h"

namespace {

std::vector<OSType> gShown;

bool RecordingChooser(const CodecNameSpec *encoders, int count, const ScImageSettings &current,
                      ScImageSettings *chosen)
{
    gShown.clear();
    for (int i = 0; i < count; i++) {
        gShown.push_back(encoders[i].cType);
    }
    *chosen = current;
    chosen->codecType = Code("raw ");
    return true;
}

struct StandardCompression : testing::Test
{
    ComponentInstance ci = nullptr;
    void SetUp() override
    {
        ClearScriptedImageSettings();
        ci = OpenDefaultComponent(StandardCompressionType, StandardCompressionSubType);
        ASSERT_NE(ci, nullptr);
    }
    void TearDown() override
    {
        CloseComponent(ci);
        ClearScriptedImageSettings();
        SetImageSettingsChooser(nullptr);
    }
};

} // namespace

TEST_F(StandardCompression, ScriptedChoiceCompressesIntoNewHandles)
{
    QueueScriptedImageSettings({Code("jpeg"), codecHighQuality});
    EXPECT_EQ(SCRequestImageSettings(ci), 0);
    EXPECT_EQ(ScriptedImageSettingsRequests(), 1);
    ScImageSettings s;
    ASSERT_EQ(SCGetImageSettings(ci, &s), 0);
    EXPECT_EQ(s.codecType, Code("jpeg"));
    EXPECT_EQ(s.spatialQuality, codecHighQuality);

    TestGWorld g(24, 64, 48);
    g.Load(ReadBytes(CodecFixture("src_64x48.rgb")), 3);
    ImageDescriptionHandle desc = nullptr;
    Handle data = nullptr;
    ASSERT_EQ(SCCompressImage(ci, g.pm(), nullptr, &desc, &data), 0);
    ASSERT_NE(desc, nullptr);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ((**desc).cType, Code("jpeg"));
    EXPECT_EQ((**desc).width, 64);
    EXPECT_EQ(GetHandleSize(data), (**desc).dataSize);
    EXPECT_EQ(uint8_t((*data)[0]), 0xff); // a JPEG start marker
    EXPECT_EQ(uint8_t((*data)[1]), 0xd8);
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST_F(StandardCompression, CancelKeepsSettings)
{
    QueueScriptedImageSettings({Code("raw "), codecMaxQuality}, true);
    EXPECT_EQ(SCRequestImageSettings(ci), userCanceledErr);
    EXPECT_EQ(SCRequestImageSettings(ci), userCanceledErr); // nothing queued: cancelled too
    ScImageSettings s;
    ASSERT_EQ(SCGetImageSettings(ci, &s), 0);
    EXPECT_EQ(s.codecType, Code("dvc "));
    QueueScriptedImageSettings({Code("apcn"), codecMaxQuality}); // a decoder only
    EXPECT_EQ(SCRequestImageSettings(ci), noCodecErr);
    ASSERT_EQ(SCGetImageSettings(ci, &s), 0);
    EXPECT_EQ(s.codecType, Code("dvc "));
}

TEST_F(StandardCompression, InstalledChooserSeesTheEncoders)
{
    SetImageSettingsChooser(&RecordingChooser);
    EXPECT_EQ(SCRequestImageSettings(ci), 0);
    EXPECT_EQ(ScriptedImageSettingsRequests(), 0);
    for (const char *code : {"raw ", "2vuy", "yuvs", "dvc ", "dvcp", "dv5p", "dvh6", "AVd1", "jpeg"}) {
        EXPECT_NE(std::find(gShown.begin(), gShown.end(), Code(code)), gShown.end()) << code;
    }
    EXPECT_EQ(std::find(gShown.begin(), gShown.end(), Code("apcn")), gShown.end());
    EXPECT_EQ(int(gShown.size()), ListImageEncoders(nullptr, 0));

    // The chosen 'raw ' makes exactly the frame's bytes.
    TestGWorld g(24, 35, 12);
    ImageDescriptionHandle desc = nullptr;
    Handle data = nullptr;
    ASSERT_EQ(SCCompressImage(ci, g.pm(), nullptr, &desc, &data), 0);
    EXPECT_EQ(GetHandleSize(data), 35 * 12 * 3);
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));
}

TEST_F(StandardCompression, FailuresLeaveNoHandles)
{
    // The default 'dvc ' does not take a 35 x 12 picture.
    TestGWorld g(24, 35, 12);
    ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(1);
    Handle data = reinterpret_cast<Handle>(1);
    EXPECT_EQ(SCCompressImage(ci, g.pm(), nullptr, &desc, &data), codecSizeErr);
    EXPECT_EQ(desc, nullptr);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(SCCompressImage(nullptr, g.pm(), nullptr, &desc, &data), paramErr);
    EXPECT_EQ(SCRequestImageSettings(nullptr), paramErr);
    EXPECT_EQ(OpenDefaultComponent(Code("scdi"), Code("soun")), nullptr);
    EXPECT_EQ(CloseComponent(nullptr), noErr);
}
