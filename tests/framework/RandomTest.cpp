#include "framework/Random.h"

#include <gtest/gtest.h>

TEST(Random, FreshStartGivesTheKnownSequence) {
    ResetRandomGenerator();
    const int Expected[] = {130, 10982, 1090, 11656, 7117, 17595, 6415, 22948};
    for (int Value : Expected) EXPECT_EQ(Rand(), Value);
    ResetRandomGenerator();
    EXPECT_EQ(Rand(), 130);
}

TEST(Random, DrawsStayWithinFifteenBits) {
    ResetRandomGenerator();
    for (int I = 0; I < 100000; ++I) {
        int V = Rand();
        ASSERT_GE(V, 0);
        ASSERT_LE(V, 32767);
    }
}
