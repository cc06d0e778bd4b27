// Level and step: thresholds by truncation, the bands, silence and blocks that never reach the zero line.
#include <gtest/gtest.h>

#include <vector>

#include "level.h"

namespace {

const int BLOCK = 3675;

std::vector<uint8_t> BlockWithPeak(uint8_t peak, uint8_t fill = 128) {
    std::vector<uint8_t> block(BLOCK, fill);
    block[BLOCK / 2] = peak;
    return block;
}

TEST(StepThresholds, AreZeroUntilFilledThenTruncatedFractionsOf255) {
    for (int i = 0; i < STEP_COUNT; ++i) stepThresholds[i] = 0;
    // Before the table is filled every level above 0 counts as the loudest step.
    EXPECT_EQ(StepForLevel(0), 0);
    EXPECT_EQ(StepForLevel(1), 5);
    InitStepThresholds();
    const int32_t expected[STEP_COUNT] = {22, 45, 71, 109, 168};
    for (int i = 0; i < STEP_COUNT; ++i) EXPECT_EQ(stepThresholds[i], expected[i]) << i;
    InitStepThresholds();  // filling twice changes nothing
    EXPECT_EQ(stepThresholds[3], 109);
}

TEST(StepForLevel, BandsStartJustAboveEachThreshold) {
    InitStepThresholds();
    struct Band {
        int first, last, step;
    };
    const Band bands[] = {{0, 22, 0}, {23, 45, 1}, {46, 71, 2}, {72, 109, 3}, {110, 168, 4}, {169, 255, 5}};
    for (const Band& band : bands)
        for (int level = band.first; level <= band.last; ++level)
            EXPECT_EQ(StepForLevel(static_cast<uint8_t>(level)), band.step) << "level " << level;
}

TEST(PeakLevel, IsTheHighestPositiveExcursion) {
    struct Case {
        uint8_t peak;
        uint8_t level;
    };
    const Case cases[] = {{128, 0}, {129, 1}, {150, 22}, {151, 23}, {200, 72}, {255, 127}};
    for (const Case& c : cases) {
        std::vector<uint8_t> block = BlockWithPeak(c.peak);
        EXPECT_EQ(PeakLevel(block.data(), BLOCK), c.level) << int(c.peak);
    }
}

TEST(PeakLevel, SilenceAndTheLowestSampleDoNotCount) {
    std::vector<uint8_t> silence(BLOCK, 128);
    EXPECT_EQ(PeakLevel(silence.data(), BLOCK), 0);
    std::vector<uint8_t> deepTrough = BlockWithPeak(140);
    deepTrough[10] = 0;  // a full negative swing says nothing about the level
    EXPECT_EQ(PeakLevel(deepTrough.data(), BLOCK), 12);
}

TEST(PeakLevel, ScansEveryByteIncludingTheLast) {
    std::vector<uint8_t> block(BLOCK, 128);
    block[0] = 160;
    EXPECT_EQ(PeakLevel(block.data(), BLOCK), 32);
    block[BLOCK - 1] = 200;
    EXPECT_EQ(PeakLevel(block.data(), BLOCK), 72);
    EXPECT_EQ(PeakLevel(block.data(), BLOCK - 1), 32);  // a shorter count stops before it
}

TEST(PeakLevel, BlockEntirelyBelowTheZeroLineIsSilent) {
    InitStepThresholds();
    // A microphone with a small negative offset: no positive excursion at all.
    const uint8_t peaks[] = {127, 120, 100, 41, 0};
    for (uint8_t peak : peaks) {
        std::vector<uint8_t> block(BLOCK, peak);
        block[5] = peak > 3 ? peak - 3 : 0;
        uint8_t level = PeakLevel(block.data(), BLOCK);
        EXPECT_EQ(level, 0) << int(peak);
        EXPECT_EQ(StepForLevel(level), 0) << int(peak);
    }
}

TEST(PeakLevel, NoSamplesGiveZeroWithoutReading) {
    EXPECT_EQ(PeakLevel(nullptr, 0), 0);
    EXPECT_EQ(PeakLevel(nullptr, -1), 0);
    EXPECT_EQ(PeakLevel(nullptr, INT32_MIN), 0);
}

}  // namespace
