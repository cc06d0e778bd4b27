// What the capture bench plays and runs beside the program: the stepping tone and its players, and busy
// children that saturate the machine. Every child is forked before the bench starts a thread and dies
// with the bench.
#ifndef PELOMI_BENCH_CAPTURE_BENCH_SOUND_H
#define PELOMI_BENCH_CAPTURE_BENCH_SOUND_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The stepping tone: a silence of kSilentSteps steps, then kRisingSteps steps each louder than the one
// before, 40 ms each, over and over. A block shows a step when its peak reaches that step's level: as the
// steps only rise, the first block at that level after the step's onset is the one that shows it.
constexpr int kRate = 44100;
constexpr int kStepSamples = 1764;  // 40 ms
constexpr int kTonePeriod = 98;     // 450 Hz: 18 whole periods a step, so steps change at a zero crossing
constexpr int kSilentSteps = 4;
constexpr int kRisingSteps = 24;
constexpr int kPatternSamples = (kSilentSteps + kRisingSteps) * kStepSamples;
constexpr int kStereoLevel = 61;

// The level of rising step `step` (0 .. kRisingSteps - 1).
int StepLevel(int step);

// Sample `index` of the stepping tone, 8-bit unsigned, counted from the start of a silence.
uint8_t SteppingToneSample(int64_t index);

// Writes `seconds` of the stepping tone as a WAV file (8-bit mono at kRate); false on failure.
bool WriteSteppingToneWav(const std::string& path, double seconds);

// Plays into the default sink from a child: the stepping tone like sound reaching a microphone (written a
// tenth of a second at a time at a relaxed latency), or, with `stereo`, a steady two-channel tone both of
// whose channels peak at kStereoLevel.
pid_t StartTonePlayer(bool stereo);
// Plays a steady tone peaking at `level` on each of `channels` into `sink` (null: the default) from a child.
pid_t StartTonePlayerInto(const char* sink, uint8_t channels, int level);

// Plays `path` into the default sink with an ordinary `paplay`, nothing tuned.
pid_t StartPaplay(const std::string& path);

// One busy loop at normal priority on every core.
std::vector<pid_t> StartBusyLoops();

// Ends a child started above and waits for it.
void EndChild(pid_t child);

// Makes the calling child die with the bench.
void DieWithParent();

#endif
