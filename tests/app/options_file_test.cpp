#include <cstdlib>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/guide_pages.h"
#include "app/options_file.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"
#include "platform/sys/text.h"

namespace {

class OptionsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/lc_options_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        gOptionsFile = {};
    }
    void TearDown() override
    {
        lc::DeletePath((dir_ + "/noguide").c_str());
        rmdir(dir_.c_str());
        gOptionsFile = {};
    }
    std::string Path() const { return dir_ + "/noguide"; }
    std::string Read() const
    {
        auto r = lc::ReadWholeFile(Path().c_str());
        return r ? *r : std::string("<missing>");
    }
    void Write(const std::string &text) const
    {
        ASSERT_TRUE(lc::WriteWholeFile(Path().c_str(), text.data(), text.size()));
    }

    std::string dir_;
};

TEST(OptionLines, DefaultsWriteAll33Values)
{
    // Twelve zeros between use23976Timing and blurAmount: the record has 33 fields.
    ConversionOptions o;
    EXPECT_EQ(FormatOptionLines(o),
              "0 0 0 0 0 0 50 0 0 3 0 7 0 4 0 1 0 0 0 0 0 0 0 0 0 0 0 0 1 0 0 1440 1080 \n\n");
}

TEST(OptionLines, ParseCases)
{
    struct Case
    {
        const char *text;
        int taken;
        int32_t sensitivity, flicker, blur, delay;
        const char *folder;
    };
    const Case cases[] = {
        // Every field and a folder.
        {"1 0 1 0 0 1 300 1 1 3 1 9 1 5 0 1 0 0 2 1 -4 0 1 0 0 1 1 0 3 1 0 720 576 \n/out/x\n", 33,
         300, 2, 3, -4, "/out/x"},
        // Out-of-range values get the dialogs' clamps; the delay is taken as written.
        {"0 0 0 0 0 0 5000 0 0 3 0 7 0 4 0 1 0 0 9 0 -99999 0 0 0 0 0 0 0 0 0 0 1 1 \n\n", 33, 1000,
         4, 1, -99999, ""},
        // A number beyond 32 bits saturates before the clamp.
        {"0 0 0 0 0 0 99999999999999 \n", 7, 1000, 0, 1, 0, ""},
        // A damaged field stops the scan; the folder is read from there.
        {"1 0 1 x 7 7\n/f\n", 3, 50, 0, 1, 0, "x 7 7"},
        // Blanks before the folder go with the last number's white space.
        {"0 0 0 0 0 0 50 0 0 3 0 7 0 4 0 1 0 0 0 0 0 0 0 0 0 0 0 0 1 0 0 1440 1080 \n   /sp\n", 33,
         50, 0, 1, 0, "/sp"},
        // Lines from a file with "\r\n" line ends.
        {"0 0 0 0 0 0 60 0 0 3 0 7 0 4 0 1 0 0 0 0 0 0 0 0 0 0 0 0 2 0 0 1440 1080 \r\n/w\r\n", 33,
         60, 0, 2, 0, "/w"},
        // Nothing at all.
        {"", 0, 50, 0, 1, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ConversionOptions o;
        lc::CopyText(o.outputFolder, "/old");
        EXPECT_EQ(ParseOptionLines(c.text, o), c.taken);
        EXPECT_EQ(o.motionSensitivity, c.sensitivity);
        EXPECT_EQ(o.flickerRemoval, c.flicker);
        EXPECT_EQ(o.blurAmount, c.blur);
        EXPECT_EQ(o.delayAudioFrames, c.delay);
        EXPECT_STREQ(o.outputFolder, c.folder);
    }
}

TEST(OptionLines, FolderLengths)
{
    ConversionOptions o;
    std::string full(255, 'a');
    full[0] = '/';
    lc::CopyText(o.outputFolder, full.c_str());
    ConversionOptions back;
    ParseOptionLines(FormatOptionLines(o), back);
    EXPECT_EQ(std::string(back.outputFolder), full); // the longest folder keeps every character

    std::string tooLong = "0 \n/" + std::string(400, 'b') + "\n";
    ParseOptionLines(tooLong, back);
    EXPECT_EQ(std::string(back.outputFolder), "/" + std::string(254, 'b'));
}

TEST_F(OptionsFileTest, RoundTripThroughTheFile)
{
    ConversionOptions o;
    o.deinterlace = 1;
    o.grainAmount = 9;
    o.resizeHeight = 720;
    lc::CopyText(o.outputFolder, "/media/out put");
    ASSERT_TRUE(WriteOptionsFile(Path().c_str(), o));
    EXPECT_EQ(Read(), std::string(kOptionsFileFirstLine) + FormatOptionLines(o));

    gOptionsFile = {};
    ConversionOptions back;
    ASSERT_TRUE(LoadOptionsFile(Path().c_str(), back));
    EXPECT_EQ(FormatOptionLines(back), FormatOptionLines(o));
    EXPECT_EQ(gOptionsFile.open, 1);
    EXPECT_EQ(gOptionsFile.path, Path());
}

TEST_F(OptionsFileTest, ShorterFolderLeavesNoTail)
{
    ConversionOptions o;
    lc::CopyText(o.outputFolder, "/a/very/long/folder/name/that/is/longer");
    ASSERT_TRUE(WriteOptionsFile(Path().c_str(), o));
    lc::CopyText(o.outputFolder, "/b");
    gConversionOptions = o;
    SaveOptionsIfNoguide();
    EXPECT_EQ(Read(), std::string(kOptionsFileFirstLine) + FormatOptionLines(o));

    ConversionOptions back;
    ASSERT_TRUE(LoadOptionsFile(Path().c_str(), back));
    EXPECT_STREQ(back.outputFolder, "/b");
    gConversionOptions = ConversionOptions{};
}

TEST_F(OptionsFileTest, RelativeNameIsTakenInTheCurrentFolder)
{
    Write(std::string(kOptionsFileFirstLine) + "1 1 \n/cur\n");
    std::string old = lc::CurrentFolder();
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ConversionOptions o;
    bool found = LoadOptionsFile(kOptionsFileName, o);
    ASSERT_EQ(chdir(old.c_str()), 0);
    ASSERT_TRUE(found);
    EXPECT_EQ(o.cropLetterbox, 1);
    EXPECT_EQ(o.unsqueezeLetterbox, 1);
    EXPECT_EQ(o.deinterlace, 0);
    EXPECT_STREQ(o.outputFolder, "/cur");
    EXPECT_EQ(gOptionsFile.path, Path());
}

TEST_F(OptionsFileTest, MissingFileLeavesOptionsAndSavesNothing)
{
    ConversionOptions o;
    o.redBoost = 1;
    EXPECT_FALSE(LoadOptionsFile(Path().c_str(), o));
    EXPECT_EQ(o.redBoost, 1);
    EXPECT_EQ(gOptionsFile.open, 0);
    SaveOptionsIfNoguide();
    EXPECT_FALSE(lc::PathExists(Path().c_str()));
}

TEST_F(OptionsFileTest, UnwritableFolderFails)
{
    std::string missing = dir_ + "/no/such/noguide";
    EXPECT_FALSE(WriteOptionsFile(missing.c_str(), ConversionOptions{}));
    EXPECT_EQ(gOptionsFile.open, 0);
}

TEST(GuidePages, TableAndAfterProcessingVariant)
{
    for (int i = 0; i < kGuidePageCount; ++i) {
        ASSERT_NE(kGuidePages[i], nullptr);
        EXPECT_EQ(std::string(kGuidePages[i]).find("http"), std::string::npos) << i;
    }
    EXPECT_EQ(std::string(GuidePageText(0, 0)).rfind("Drop a Movie File into the Window.", 0), 0u);
    EXPECT_EQ(std::string(GuidePageText(8, 0)).rfind("No Lettterbox - ", 0), 0u);
    EXPECT_EQ(std::string(GuidePageText(26, 0)).rfind("Output 486 Lines - ", 0), 0u);
    EXPECT_EQ(std::string(GuidePageText(33, 0)).rfind("Flicker Removal, range 0-4", 0), 0u);
    EXPECT_STREQ(GuidePageText(3, 1), kGuidePages[34]);
    EXPECT_STREQ(GuidePageText(3, 0), kGuidePages[3]);
    EXPECT_STREQ(GuidePageText(4, 1), kGuidePages[4]);
    EXPECT_STREQ(GuidePageText(35, 0), kGuidePages[0]);
    EXPECT_STREQ(GuidePageText(-1, 0), kGuidePages[0]);
}

} // namespace
