// The capture bench's figures: what one setup's run gives (the cycle beside the continuous reader), kept as
// one JSON line a setup, and the table printed from those lines.
#ifndef PELOMI_BENCH_CAPTURE_BENCH_REPORT_H
#define PELOMI_BENCH_CAPTURE_BENCH_REPORT_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "continuous_reader.h"

// One setup's figures, in order: names and values as JSON text (numbers bare, strings quoted).
using Figures = std::vector<std::pair<std::string, std::string>>;

struct RunRecord {
    std::string server, setup;
    double loadAverage = 0;              // one-minute load average before the run
    Clock::time_point from, to;          // the span measured, the same for the cycle and the reader
    std::vector<TimedLevel> cycleBlocks; // when each block was drawn, and its level
    double cycleCpuSeconds = 0;          // the program's process over the span
    ReaderResult reader;
};

Figures Summarise(const RunRecord& run);

// The blocks in [from, to), and the longest time between two in a row.
std::vector<TimedLevel> Within(const std::vector<TimedLevel>& blocks, Clock::time_point from, Clock::time_point to);
double LongestGapMs(const std::vector<TimedLevel>& blocks);

// Prints one setup's figures readably.
void PrintFigures(const Figures& figures);

void WriteJsonLine(std::FILE* file, const Figures& figures);

// Prints the table of every setup in a file of JSON lines; false when it cannot be read.
bool PrintTable(const char* path);

#endif
