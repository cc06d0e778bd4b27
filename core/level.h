// Level analysis: the peak level of one captured block and the mouth step it stands for.
#ifndef PELOMI_CORE_LEVEL_H
#define PELOMI_CORE_LEVEL_H

#include <stdint.h>

const int STEP_COUNT = 5;
const double STEP_FRACTIONS[STEP_COUNT] = {0.09, 0.18, 0.28, 0.43, 0.66};
const double LEVEL_SCALE = 255.0;

// Step boundaries on the level scale; 0 until InitStepThresholds has run.
extern int32_t stepThresholds[STEP_COUNT];

void InitStepThresholds();
uint8_t PeakLevel(const uint8_t* samples, int32_t count);
int StepForLevel(uint8_t level);

#endif
