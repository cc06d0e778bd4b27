// Level analysis: the highest positive excursion of a block of 8-bit unsigned PCM, and its step.
#include "level.h"

int32_t stepThresholds[STEP_COUNT];

void InitStepThresholds()
{
    // Truncation, not rounding: 0.43 * 255 = 109.65 gives 109.
    for (int i = 0; i < STEP_COUNT; i++)
        stepThresholds[i] = (int32_t)(STEP_FRACTIONS[i] * LEVEL_SCALE);
}

uint8_t PeakLevel(const uint8_t* samples, int32_t count)
{
    if (count < 1)
        return 0;
    uint8_t peak = 0;
    for (int32_t i = 0; i < count; i++) {
        if (samples[i] > peak)
            peak = samples[i];
    }
    // A block that never reaches the zero line (128) has no positive excursion: level 0, where a plain
    // 8-bit subtraction would wrap to 128..255 and show the widest mouth for a silent, offset microphone.
    if (peak < 128)
        return 0;
    return (uint8_t)(peak - 128);
}

int StepForLevel(uint8_t level)
{
    int step = 0;
    for (int i = 0; i < STEP_COUNT; i++) {
        if ((int32_t)level > stepThresholds[i])
            step = i + 1;
    }
    return step;
}
