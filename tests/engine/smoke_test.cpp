#include <gtest/gtest.h>
#include "engine/frame_store.h"
TEST(Smoke, Builds) { EXPECT_EQ(AllocateFrameStore(), 1); ReleaseFrameStore(); }
