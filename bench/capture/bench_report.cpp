// The capture bench's figures and table.
#include "bench_report.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "bench_sound.h"

namespace {

// A block drawn this long before an onset's estimated time may still be the one that shows it: the
// estimate comes from the reader's deliveries and is late by as much as they were.
constexpr auto kEarlyAllowance = std::chrono::milliseconds(100);
// An onset not shown within this time counts as missed.
constexpr auto kLongestWait = std::chrono::seconds(1);
// Resampling may round a step's peak down a little; the steps are 5 apart.
constexpr int kLevelAllowance = 2;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string Number(double value, const char* format = "%.3f") {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * (values.size() - 1) + 0.5)];
}

// For each onset in the span, the time until the first block at its level; the missed ones count apart.
void AddDelays(Figures* figures, const std::string& who, const std::vector<TimedLevel>& onsets,
               const std::vector<TimedLevel>& blocks, Clock::time_point from, Clock::time_point to) {
    std::vector<double> delays;
    int missed = 0;
    for (const TimedLevel& onset : onsets) {
        if (onset.at < from || onset.at > to - kLongestWait) continue;
        auto shown = std::find_if(blocks.begin(), blocks.end(), [&onset](const TimedLevel& block) {
            return block.at >= onset.at - kEarlyAllowance && block.level >= onset.level - kLevelAllowance;
        });
        if (shown == blocks.end() || shown->at > onset.at + kLongestWait)
            ++missed;
        else
            delays.push_back(Ms(shown->at - onset.at));
    }
    bool any = !delays.empty();
    figures->push_back({who + "_delay_median_ms", any ? Number(Percentile(delays, 0.5), "%.1f") : "null"});
    figures->push_back({who + "_delay_p99_ms", any ? Number(Percentile(delays, 0.99), "%.1f") : "null"});
    figures->push_back({who + "_missed", Number(missed, "%.0f")});
}

void AddLevels(Figures* figures, const std::string& who, const std::vector<TimedLevel>& blocks) {
    std::vector<double> levels;
    for (const TimedLevel& block : blocks) levels.push_back(block.level);
    bool any = !levels.empty();
    figures->push_back({who + "_level_median", any ? Number(Percentile(levels, 0.5), "%.0f") : "null"});
    figures->push_back({who + "_level_min", any ? Number(Percentile(levels, 0), "%.0f") : "null"});
    figures->push_back({who + "_level_max", any ? Number(Percentile(levels, 1), "%.0f") : "null"});
}

// A flat JSON object of numbers, strings and nulls, as WriteJsonLine writes it.
std::map<std::string, std::string> ParseJsonLine(const std::string& line) {
    std::map<std::string, std::string> values;
    size_t at = 0;
    while ((at = line.find('"', at)) != std::string::npos) {
        size_t keyEnd = line.find('"', at + 1);
        size_t colon = line.find(':', keyEnd);
        if (keyEnd == std::string::npos || colon == std::string::npos) break;
        std::string key = line.substr(at + 1, keyEnd - at - 1);
        size_t valueAt = line.find_first_not_of(' ', colon + 1);
        size_t valueEnd;
        if (line[valueAt] == '"') {
            valueEnd = line.find('"', valueAt + 1);
            values[key] = line.substr(valueAt + 1, valueEnd - valueAt - 1);
            ++valueEnd;
        } else {
            valueEnd = line.find_first_of(",}", valueAt);
            values[key] = line.substr(valueAt, valueEnd - valueAt);
        }
        at = valueEnd;
    }
    return values;
}

}  // namespace

std::vector<TimedLevel> Within(const std::vector<TimedLevel>& blocks, Clock::time_point from, Clock::time_point to) {
    std::vector<TimedLevel> inside;
    for (const TimedLevel& block : blocks)
        if (block.at >= from && block.at < to) inside.push_back(block);
    return inside;
}

double LongestGapMs(const std::vector<TimedLevel>& blocks) {
    double longest = 0;
    for (size_t i = 1; i < blocks.size(); ++i) longest = std::max(longest, Ms(blocks[i].at - blocks[i - 1].at));
    return longest;
}

Figures Summarise(const RunRecord& run) {
    Figures figures = {{"server", Quoted(run.server)}, {"setup", Quoted(run.setup)}};
    double seconds = std::chrono::duration<double>(run.to - run.from).count();
    std::vector<TimedLevel> cycle = Within(run.cycleBlocks, run.from, run.to);
    std::vector<TimedLevel> reader = Within(run.reader.blocks, run.from, run.to);
    double cycleRate = cycle.size() / seconds, readerRate = reader.size() / seconds;
    figures.push_back({"seconds", Number(seconds, "%.1f")});
    figures.push_back({"load_average", Number(run.loadAverage, "%.2f")});
    figures.push_back({"cycle_blocks_per_s", Number(cycleRate)});
    figures.push_back({"reader_blocks_per_s", run.reader.ok ? Number(readerRate) : "null"});
    figures.push_back({"ratio", run.reader.ok && readerRate > 0 ? Number(cycleRate / readerRate, "%.4f") : "null"});
    figures.push_back({"cycle_longest_gap_ms", Number(LongestGapMs(cycle), "%.0f")});
    figures.push_back({"reader_longest_gap_ms", Number(LongestGapMs(reader), "%.0f")});
    int onsets = 0;
    for (const TimedLevel& onset : run.reader.onsets) onsets += onset.at >= run.from && onset.at <= run.to - kLongestWait;
    figures.push_back({"onsets", Number(onsets, "%.0f")});
    AddDelays(&figures, "cycle", run.reader.onsets, run.cycleBlocks, run.from, run.to);
    AddDelays(&figures, "reader", run.reader.onsets, run.reader.blocks, run.from, run.to);
    figures.push_back({"cycle_cpu_percent", Number(100 * run.cycleCpuSeconds / seconds)});
    figures.push_back({"reader_cpu_percent",
                       run.reader.ok ? Number(100 * run.reader.cpuSeconds / run.reader.seconds) : "null"});
    AddLevels(&figures, "cycle", cycle);
    AddLevels(&figures, "reader", reader);
    if (!run.reader.ok) figures.push_back({"reader_error", Quoted(run.reader.error)});
    return figures;
}

void PrintFigures(const Figures& figures) {
    for (const auto& [name, value] : figures) std::printf("  %-24s %s\n", name.c_str(), value.c_str());
}

void WriteJsonLine(std::FILE* file, const Figures& figures) {
    std::fputc('{', file);
    for (size_t i = 0; i < figures.size(); ++i)
        std::fprintf(file, "%s\"%s\": %s", i ? ", " : "", figures[i].first.c_str(), figures[i].second.c_str());
    std::fputs("}\n", file);
}

bool PrintTable(const char* path) {
    std::FILE* file = std::fopen(path, "r");
    if (!file) return false;
    std::vector<std::map<std::string, std::string>> runs;
    char line[4096];
    while (std::fgets(line, sizeof line, file)) runs.push_back(ParseJsonLine(line));
    std::fclose(file);
    auto field = [](std::map<std::string, std::string>& run, const char* name, const char* format = nullptr) {
        auto found = run.find(name);
        if (found == run.end() || found->second == "null") return std::string("-");
        return format ? Number(std::atof(found->second.c_str()), format) : found->second;
    };
    const char* row = "%-11s %-22s %6s %6s %6s  %5s %5s  %6s %11s %11s  %5s %5s  %5s\n";
    std::printf("%-34s %-20s  %-11s  %-30s  %-11s\n", "", "blocks a second", "longest gap",
                "onset to drawing ms, med/p99", "CPU % core");
    std::printf(row, "server", "setup", "cycle", "reader", "ratio", "cycle", "reader", "onsets", "cycle", "reader",
                "cycle", "reader", "load");
    for (auto& run : runs) {
        if (run.count("error")) {
            std::printf("%-11s %-22s %s\n", run["server"].c_str(), run["setup"].c_str(), run["error"].c_str());
            continue;
        }
        if (run["setup"] == "stereo") continue;
        std::string cycleDelay = field(run, "cycle_delay_median_ms", "%.0f") + "/" +
                                 field(run, "cycle_delay_p99_ms", "%.0f");
        std::string readerDelay = field(run, "reader_delay_median_ms", "%.0f") + "/" +
                                  field(run, "reader_delay_p99_ms", "%.0f");
        std::printf(row, run["server"].c_str(), run["setup"].c_str(), field(run, "cycle_blocks_per_s", "%.2f").c_str(),
                    field(run, "reader_blocks_per_s", "%.2f").c_str(), field(run, "ratio", "%.3f").c_str(),
                    field(run, "cycle_longest_gap_ms").c_str(), field(run, "reader_longest_gap_ms").c_str(),
                    field(run, "onsets").c_str(), cycleDelay.c_str(), readerDelay.c_str(),
                    field(run, "cycle_cpu_percent", "%.2f").c_str(), field(run, "reader_cpu_percent", "%.2f").c_str(),
                    field(run, "load_average", "%.2f").c_str());
        if (field(run, "cycle_missed") != "0" || field(run, "reader_missed") != "0")
            std::printf("%-34s onsets not shown within 1 s: cycle %s, reader %s\n", "",
                        field(run, "cycle_missed").c_str(), field(run, "reader_missed").c_str());
        if (run.count("reader_error")) std::printf("%-34s reader: %s\n", "", run["reader_error"].c_str());
        if (run.count("switch_least_ratio"))
            std::printf("%-34s from 1 s after each of %s switches: least ratio %s, cycle blocks at the level %s\n", "",
                        field(run, "switches_measured").c_str(), field(run, "switch_least_ratio", "%.3f").c_str(),
                        field(run, "switch_levels_exact", "%.3f").c_str());
        if (run.count("stall_ratio"))
            std::printf("%-34s from 1 s after the server continued: ratio %s, longest gap cycle %s, reader %s\n", "",
                        field(run, "stall_ratio", "%.3f").c_str(), field(run, "stall_cycle_longest_gap_ms").c_str(),
                        field(run, "stall_reader_longest_gap_ms").c_str());
    }
    bool heading = false;
    for (auto& run : runs) {
        if (run["setup"] != "stereo" || run.count("error")) continue;
        if (!heading)
            std::printf("\nstereo source, a tone peaking at %d on both channels: the level of each block\n"
                        "%-11s %-34s %s\n", kStereoLevel, "server", "capture cycle: median (min-max)",
                        "continuous reader (server's mix)");
        heading = true;
        std::string cycle = field(run, "cycle_level_median") + " (" + field(run, "cycle_level_min") + "-" +
                            field(run, "cycle_level_max") + ")";
        std::string reader = field(run, "reader_level_median") + " (" + field(run, "reader_level_min") + "-" +
                             field(run, "reader_level_max") + ")";
        std::printf("%-11s %-34s %s\n", run["server"].c_str(), cycle.c_str(), reader.c_str());
    }
    return true;
}
