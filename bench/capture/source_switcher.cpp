// The switching setup: sources loaded through pactl, a player and a 20 ms recorder on each (a null sink
// nobody records at a low latency renders far ahead, unlike a microphone), and a switcher child.
#include "source_switcher.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench_sound.h"

namespace {

constexpr auto kSwitchPeriod = std::chrono::seconds(3);
constexpr auto kBackWithin = std::chrono::seconds(1);

struct BenchSource {
    const char* name;
    int rate, channels, level;
};
// Switch k makes kSources[(k + 1) % 2] the default.
constexpr BenchSource kSources[] = {{"bench_stereo48", 48000, 2, 30}, {"bench_mono16", 16000, 1, 60}};

pid_t Spawn(const std::vector<std::string>& command) {
    pid_t child = fork();
    if (child == 0) {
        DieWithParent();
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::perror("capture_bench: exec");
        _exit(127);
    }
    return child;
}

void Run(const std::vector<std::string>& command) {
    pid_t child = Spawn(command);
    if (child > 0) waitpid(child, nullptr, 0);
}

}  // namespace

SwitchingSources StartSwitchingSources(Clock::time_point firstSwitch, Clock::time_point until) {
    SwitchingSources sources;
    sources.firstSwitch = firstSwitch;
    for (const BenchSource& source : kSources) {
        Run({"pactl", "load-module", "module-null-sink", std::string("sink_name=") + source.name,
             "rate=" + std::to_string(source.rate), "channels=" + std::to_string(source.channels)});
        sources.children.push_back(StartTonePlayerInto(source.name, static_cast<uint8_t>(source.channels), source.level));
        sources.children.push_back(Spawn({"parecord", "--raw", std::string("--device=") + source.name + ".monitor",
                                          "--latency-msec=20", "/dev/null"}));
    }
    Run({"pactl", "set-default-source", std::string(kSources[0].name) + ".monitor"});
    for (auto at = firstSwitch; at < until; at += kSwitchPeriod) ++sources.switches;
    pid_t switcher = fork();
    if (switcher == 0) {
        DieWithParent();
        for (int k = 0; k < sources.switches; ++k) {
            std::this_thread::sleep_until(firstSwitch + k * kSwitchPeriod);
            Run({"pactl", "set-default-source", std::string(kSources[(k + 1) % 2].name) + ".monitor"});
        }
        _exit(0);
    }
    sources.children.push_back(switcher);
    return sources;
}

void EndSwitchingSources(const SwitchingSources& sources) {
    for (pid_t child : sources.children) EndChild(child);
}

void AddSwitchFigures(const RunRecord& run, const SwitchingSources& sources, Figures& figures) {
    auto count = [](const std::vector<TimedLevel>& blocks, Clock::time_point from, Clock::time_point to) {
        return std::count_if(blocks.begin(), blocks.end(), [&](const TimedLevel& b) { return b.at >= from && b.at < to; });
    };
    double leastRatio = -1;
    int blocks = 0, exact = 0, windows = 0;
    for (int k = 0; k < sources.switches; ++k) {
        const Clock::time_point from = sources.firstSwitch + k * kSwitchPeriod + kBackWithin;
        const Clock::time_point to = from - kBackWithin + kSwitchPeriod;
        if (from < run.from || to > run.to) continue;
        const auto cycle = count(run.cycleBlocks, from, to), reader = count(run.reader.blocks, from, to);
        const double ratio = reader > 0 ? static_cast<double>(cycle) / static_cast<double>(reader) : 0;
        leastRatio = leastRatio < 0 ? ratio : std::min(leastRatio, ratio);
        ++windows;
        for (const TimedLevel& block : run.cycleBlocks) {
            if (block.at < from || block.at >= to) continue;
            ++blocks;
            exact += std::abs(block.level - kSources[(k + 1) % 2].level) <= 1;
        }
    }
    figures.push_back({"switches_measured", std::to_string(windows)});
    figures.push_back({"switch_least_ratio", windows ? std::to_string(leastRatio) : "null"});
    figures.push_back({"switch_levels_exact", blocks ? std::to_string(static_cast<double>(exact) / blocks) : "null"});
}
