// The yardstick the capture cycle is measured against: a plain libpulse client in a child process that
// reads the default source continuously and counts blocks of one twelfth of a second, and the onsets of
// the stepping tone found in what it read, placed on the source's own sample clock.
#ifndef PELOMI_BENCH_CAPTURE_CONTINUOUS_READER_H
#define PELOMI_BENCH_CAPTURE_CONTINUOUS_READER_H

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

// A block drawn or counted, or an onset: when (steady clock, shared by every process), and its level.
struct TimedLevel {
    Clock::time_point at;
    int level;
};

struct ReaderResult {
    bool ok = false;
    std::string error;
    double cpuSeconds = 0;  // the reader's own, while reading
    double seconds = 0;     // how long it read
    std::vector<TimedLevel> blocks;  // when each block's last piece arrived, and the block's peak level
    std::vector<TimedLevel> onsets;  // when each step of the tone entered the sink, and the step's level
};

struct ContinuousReader {
    pid_t child = -1;
    int pipe = -1;
};

// CPU time of the calling process (its threads, not its children), in seconds.
double ProcessCpuSeconds();

// Forks the reader; it reads until `until`, then reports through a pipe.
ContinuousReader StartContinuousReader(Clock::time_point until);

// Waits for the reader's report (call after `until`).
ReaderResult CollectContinuousReader(ContinuousReader reader);

#endif
