// The switching setup of the capture bench: two microphone-like sources that differ in rate and layout, a
// 48 kHz stereo one (a tone peaking at 30) and a 16 kHz mono one like a headset's (a tone peaking at 60),
// made the default in turn every few seconds while the cycle and the reader record the default.
#ifndef PELOMI_BENCH_CAPTURE_SOURCE_SWITCHER_H
#define PELOMI_BENCH_CAPTURE_SOURCE_SWITCHER_H

#include <sys/types.h>

#include <vector>

#include "bench_report.h"
#include "continuous_reader.h"

struct SwitchingSources {
    std::vector<pid_t> children;  // players, latency anchors and the switcher
    Clock::time_point firstSwitch;
    int switches = 0;
};

// Before any thread exists: loads the sources (the stereo one the default) and forks their players and
// anchors, and the child that switches the default from `firstSwitch` on until `until`.
SwitchingSources StartSwitchingSources(Clock::time_point firstSwitch, Clock::time_point until);
void EndSwitchingSources(const SwitchingSources& sources);

// From one second after each switch to the next one: the cycle's blocks a second against the reader's in
// the same span (the least ratio over the switches), and the share of the cycle's blocks there at the level
// of the source switched to.
void AddSwitchFigures(const RunRecord& run, const SwitchingSources& sources, Figures& figures);

#endif
