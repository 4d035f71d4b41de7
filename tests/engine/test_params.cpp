#include <gtest/gtest.h>

#include "engine/params.h"

TEST(ParamTable, ConversionsRoundTripAndStayUnclamped) {
    EXPECT_DOUBLE_EQ(param_to_plain(PARAM_VOLUME, 0.5), 100.0);
    EXPECT_DOUBLE_EQ(param_to_plain(PARAM_VOLUME, 1.5), 300.0);
    EXPECT_DOUBLE_EQ(param_to_normalized(PARAM_DRIVE, -20.0), -0.2);
    for (int i = 0; i < kParamCount; ++i) {
        EXPECT_DOUBLE_EQ(param_to_normalized(i, kParams[i].def), kParams[i].default_normalized);
        EXPECT_EQ(kParamOrder[i], i);
        EXPECT_EQ(kParams[i].index, uint64_t(i));
    }
}

TEST(ParamTable, StoringRoundsTheToggleAndClamps) {
    EXPECT_EQ(param_store_plain(PARAM_BYPASS, 0.49), 0.0);
    EXPECT_EQ(param_store_plain(PARAM_BYPASS, 0.5), 1.0);
    EXPECT_EQ(param_store_plain(PARAM_BYPASS, 0.7), 1.0);
    EXPECT_EQ(param_store_plain(PARAM_VOLUME, param_to_plain(PARAM_VOLUME, 1.2)), 200.0);
    EXPECT_EQ(param_store_plain(PARAM_VOLUME, 500.0), 200.0);
    EXPECT_EQ(param_store_plain(PARAM_DRIVE, -1.0), 0.0);
}

TEST(ParamTable, Vst3IdentifiersMapToRows) {
    EXPECT_EQ(param_index_from_vst3_id(1955105482u), PARAM_DRIVE);
    EXPECT_EQ(param_index_from_vst3_id(1278044914u), PARAM_TONE);
    EXPECT_EQ(param_index_from_vst3_id(150732888u), PARAM_BYPASS);
    EXPECT_EQ(param_index_from_vst3_id(0u), -1);
}
