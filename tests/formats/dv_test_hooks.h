#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/dv_setup.h"
#include "formats/dv_setup_hooks.h"
#include "formats/formats_hooks.h"
#include "formats/mxf_clip_state.h"
#include "formats/mxf_reader.h"

// Records the messages and upward calls of the DV set-up and the MXF reader, and puts their
// records back to a fresh state around each test.
namespace dv_test {

struct Calls
{
    std::vector<std::string> errors;
    int frameRate = 0;     // what the hooks answer for ConversionState::frameRate
    int setFrameRate = -1; // last value the reader stored
    int timeScale = 2500;
    int sampleDuration = 100;
    SoundDescriptionHandle soundInUse = nullptr;
    int cindrellInits = 0;
    struct Decode
    {
        uint8_t *output;
        int width, height;
        const uint8_t *source;
        uint8_t *work;
        int mode, yuvOutput, fastPath, format, bitsPerPixel, decimation, mirror;
    };
    std::vector<Decode> decodes;
};

inline Calls &C()
{
    static Calls calls;
    return calls;
}

class HooksTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        C() = Calls{};
        saved_ = gFormatsHooks;
        savedDv_ = gDvSetupHooks;
        gFormatsHooks.showError = [](const char *t) { C().errors.push_back(t); };
        gFormatsHooks.setFrameRate = [](int r) { C().setFrameRate = r; };
        gDvSetupHooks.frameRate = [] { return C().frameRate; };
        gDvSetupHooks.timeScale = [] { return C().timeScale; };
        gDvSetupHooks.sampleDuration = [] { return C().sampleDuration; };
        gDvSetupHooks.useOutputSoundDescription = [](SoundDescriptionHandle d) {
            C().soundInUse = d;
        };
        gDvSetupHooks.forgetOutputSoundDescription = [](SoundDescriptionHandle d) {
            if (C().soundInUse == d) {
                C().soundInUse = nullptr;
            }
        };
        gDvSetupHooks.cindrellInit = [] { ++C().cindrellInits; };
        gDvSetupHooks.cindrellDecodeFrame = [](uint8_t *out, int w, int h, const uint8_t *src,
                                               uint8_t *work, int mode, int yuv, int fast, int fmt,
                                               int bpp, int dec, int mirror) {
            C().decodes.push_back({out, w, h, src, work, mode, yuv, fast, fmt, bpp, dec, mirror});
        };
    }
    void TearDown() override
    {
        while (gMxfClipState.audioFileCount > 0) {
            MxfCloseAudio();
        }
        MxfClose();
        TeardownDecoder();
        gMxfClipState = MxfClipState{};
        gFormatsHooks = saved_;
        gDvSetupHooks = savedDv_;
    }

private:
    FormatsHooks saved_{};
    DvSetupHooks savedDv_{};
};

// Folder of the fixtures made by tests/fixtures/dvset_make_fixtures.py; empty when it failed.
std::string FixtureDir();

} // namespace dv_test
