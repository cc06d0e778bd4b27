// The stall setups of the capture bench: the private sound server stopped (SIGSTOP) for a few seconds
// while the cycle and the reader record, then continued, as a machine swapping or a debugger stops it.
// stall stops the process that runs the graph (PipeWire's daemon; PulseAudio's), stall-stack every
// process of the server (PipeWire's daemon, WirePlumber and pipewire-pulse; PulseAudio's daemon).
#ifndef PELOMI_BENCH_CAPTURE_SERVER_STALL_H
#define PELOMI_BENCH_CAPTURE_SERVER_STALL_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "bench_report.h"
#include "continuous_reader.h"

struct ServerStall {
    std::vector<pid_t> stopped;  // the server's processes
    pid_t child = -1;            // the child that stops and continues them
    Clock::time_point continuedAt;
};

// Before any thread exists: finds the session's processes for `setup` (in $PELOMI_PULSE_DIR) and forks the
// child that stops them at `at` and continues them a few seconds later. No processes: nothing forked.
ServerStall StartServerStall(const std::string& setup, Clock::time_point at);
// Continues the server whatever the child got to, and ends the child.
void EndServerStall(const ServerStall& stall);

// From a second after the server continued to the end: the cycle's blocks a second against the reader's
// in the same span, and the longest gap between blocks of each there.
void AddStallFigures(const RunRecord& run, const ServerStall& stall, Figures& figures);

#endif
