// The stall setups: the server's pids from the session's pid files, a child that stops and continues them.
#include "server_stall.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "bench_sound.h"

namespace {

constexpr auto kStall = std::chrono::seconds(3);
constexpr auto kBackWithin = std::chrono::seconds(1);

void SignalAll(const std::vector<pid_t>& pids, int signal) {
    for (pid_t pid : pids) kill(pid, signal);
}

// The pid the session keeps in DIR/NAME.pid; 0 without one.
pid_t SessionPid(const std::string& dir, const char* name) {
    pid_t pid = 0;
    if (!(std::ifstream(dir + "/" + name + ".pid") >> pid)) return 0;
    return pid;
}

}  // namespace

ServerStall StartServerStall(const std::string& setup, Clock::time_point at) {
    ServerStall stall;
    stall.continuedAt = at + kStall;
    const char* dir = std::getenv("PELOMI_PULSE_DIR");
    if (!dir) return stall;
    // PipeWire's graph runs in `pipewire`; daemon.pid is pipewire-pulse's there, and PulseAudio's own.
    const std::vector<const char*> names =
        setup == "stall-stack" ? std::vector<const char*>{"pipewire", "wireplumber", "daemon"}
                               : std::vector<const char*>{"pipewire"};
    for (const char* name : names)
        if (pid_t pid = SessionPid(dir, name)) stall.stopped.push_back(pid);
    if (stall.stopped.empty())
        if (pid_t pid = SessionPid(dir, "daemon")) stall.stopped.push_back(pid);
    if (stall.stopped.empty()) {
        std::fprintf(stderr, "capture_bench: no server processes in %s to stall\n", dir);
        return stall;
    }
    stall.child = fork();
    if (stall.child == 0) {
        DieWithParent();
        std::this_thread::sleep_until(at);
        SignalAll(stall.stopped, SIGSTOP);
        std::this_thread::sleep_until(stall.continuedAt);
        SignalAll(stall.stopped, SIGCONT);
        _exit(0);
    }
    return stall;
}

void EndServerStall(const ServerStall& stall) {
    if (stall.child <= 0) return;
    EndChild(stall.child);
    SignalAll(stall.stopped, SIGCONT);
}

void AddStallFigures(const RunRecord& run, const ServerStall& stall, Figures& figures) {
    const Clock::time_point from = stall.continuedAt + kBackWithin;
    const std::vector<TimedLevel> cycle = Within(run.cycleBlocks, from, run.to);
    const std::vector<TimedLevel> reader = Within(run.reader.blocks, from, run.to);
    const bool measured = stall.child > 0 && from < run.to && !reader.empty();
    figures.push_back({"stall_ratio", measured ? std::to_string(static_cast<double>(cycle.size()) /
                                                                 static_cast<double>(reader.size()))
                                               : "null"});
    figures.push_back({"stall_cycle_longest_gap_ms", std::to_string(static_cast<int>(LongestGapMs(cycle)))});
    figures.push_back({"stall_reader_longest_gap_ms", std::to_string(static_cast<int>(LongestGapMs(reader)))});
}
