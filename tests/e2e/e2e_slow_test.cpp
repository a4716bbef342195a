// Longer end-to-end runs.

#include "tests/e2e/e2e_inprocess.h"

namespace e2e {
namespace {

using E2eSlow = E2eTest;

// 43 PAL groups: the cadence drops a frame now and then, 257 NTSC frames in all.
TEST_F(E2eSlow, PalCadenceOverFortyThreeGroups)
{
    std::string out = Process("e2e_pal_dv_215.avi");
    ASSERT_EQ(out, OutputPath("newmovie.avi"));
    auto v = Probe(out, "v:0");
    EXPECT_EQ(v["nb_read_frames"], "257");
    EXPECT_EQ(v["height"], "480");
    EXPECT_EQ(SoundFrames(out), SoundFrames(Fixture("e2e_pal_dv_215.avi")));
}

} // namespace
} // namespace e2e
