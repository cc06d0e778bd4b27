// Inside the scripted microphone: what the program did with wave devices, seen by wrapping its winmm calls
// (scripted_wave_calls.cpp), and the hooks run at them. Leaves out the sound (scripted_wave_device.cpp).
#ifndef PELOMI_WIN32_TESTING_SCRIPTED_WAVE_CALLS_H
#define PELOMI_WIN32_TESTING_SCRIPTED_WAVE_CALLS_H

#include <functional>

#include "testing/scripted_wave_device.h"

namespace w32 {

// Counts back to zero but for the devices still open and started; no hooks.
void ResetWaveCallRecords();
ScriptedWaveCounts WaveCallCounts();
void RunAtOpen(std::function<void()> hook);
void RunAtStart(std::function<void()> hook);

}  // namespace w32

#endif
