// Longer end-to-end runs.

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using E2eSlow = RunnerTest;

// 43 PAL groups: the cadence drops a frame now and then, 257 NTSC frames in all.
TEST_F(E2eSlow, PalCadenceOverFortyThreeGroups)
{
    const RunnerResult r = RunApp({Fixture("e2e_pal_dv_215.avi")});
    ASSERT_EQ(r.output, OutputPath("newmovie.avi")) << r.text;
    auto v = Probe(r.output, "v:0");
    EXPECT_EQ(Str(v, "nb_read_frames"), "257");
    EXPECT_EQ(Str(v, "height"), "480");
    EXPECT_EQ(SoundFrames(r.output), SoundFrames(Fixture("e2e_pal_dv_215.avi")));
}

} // namespace
} // namespace e2e
