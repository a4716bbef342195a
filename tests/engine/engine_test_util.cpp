#include "tests/engine/engine_test_util.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/conversion_options.h"
#include "engine/engine_hooks.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/pulldown.h"

namespace {

std::vector<EngineMessage> &Recorded()
{
    static std::vector<EngineMessage> messages;
    return messages;
}

void RecordWarning(const char *text)
{
    Recorded().push_back({false, text});
}
void RecordError(const char *text)
{
    Recorded().push_back({true, text});
}

} // namespace

std::string RunCommand(const std::string &command)
{
    std::string out;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p) {
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    pclose(p);
    return out;
}

std::string EngineFixtures()
{
    static std::string dir;
    static bool tried = false;
    if (tried) {
        return dir;
    }
    tried = true;
    if (std::system("command -v ffmpeg > /dev/null 2>&1") != 0) {
        return dir;
    }
    const std::string out = std::string(LC_BINARY_DIR) + "/tests/fixtures/engine";
    const std::string cmd =
        "python3 " + std::string(LC_SOURCE_DIR) + "/tests/fixtures/engine_fixtures.py " + out;
    if (std::system(cmd.c_str()) != 0) {
        ADD_FAILURE() << "fixture script failed: " << cmd;
        return dir;
    }
    dir = out;
    return dir;
}

std::vector<uint8_t> ReadBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                std::istreambuf_iterator<char>());
}

void EngineTest::SetUp()
{
    ResetConversionOptions(gConversionOptions);
    gEngineSettings = EngineSettings{};
    gPulldownDetector = PulldownDetector{};
    ResetCadenceCounter();
    FrameStore &fs = gFrameStore;
    fs.sourceHeight = 0;
    fs.sourceWidth = 0;
    fs.frameHeight = 576;
    fs.frameWidth = 720;
    fs.rowPitch = 0;
    fs.bgrOrder = 0;
    UseRgbFrames();
    gEngineHooks.showWarning = RecordWarning;
    gEngineHooks.showError = RecordError;
    gEngineHooks.showFrameInPreview = nullptr;
    Messages().clear();
    ASSERT_EQ(AllocateFrameStore(), 1);
}

void EngineTest::TearDown()
{
    ReleaseFrameStore();
    gEngineHooks = EngineHooks{};
}

std::vector<EngineMessage> &EngineTest::Messages()
{
    return Recorded();
}

TestFrame::TestFrame(int width, int height, int bytesPerPixel, uint8_t fill, int padPixels)
    : bytes(static_cast<size_t>(width + padPixels) * bytesPerPixel * height, fill)
{
    view.base = bytes.data();
    view.width = width;
    view.height = height;
    view.pitch = static_cast<ptrdiff_t>(width + padPixels) * bytesPerPixel;
    view.bytesPerPixel = bytesPerPixel;
}

void EngineTest::UseGeometry(int width, int height, bool yuv)
{
    if (yuv) {
        UseYuvFrames();
    } else {
        UseRgbFrames();
    }
    FrameStore &fs = gFrameStore;
    fs.sourceWidth = fs.frameWidth = fs.rowPitch = static_cast<uint32_t>(width);
    fs.sourceHeight = fs.frameHeight = static_cast<uint32_t>(height);
    SetSlotFrames(fs.inputFrames, kSlotCount);
}
