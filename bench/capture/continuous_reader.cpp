// The continuous reader: one record stream on the default source, read as it delivers, a block counted
// each time 3675 bytes have come in. It asks for pieces of one block and sets no latency flags, so it never
// makes the source deliver sooner or in smaller pieces than the program itself asks for.
#include "continuous_reader.h"

#include <pulse/pulseaudio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_sound.h"
#include "capture_cycle.h"
#include "level.h"

namespace {

// The loudest sample of silence, and how far into a step's first period the quietest step first
// exceeds it.
constexpr int kQuietExcursion = 3;
constexpr int kFirstLoudSample = 8;
// Sound arriving within this time of a sample is used to place it on the source's clock.
constexpr auto kClockWindow = std::chrono::seconds(2);

struct Piece {
    Clock::time_point arrived;
    int64_t end;  // stream position just after the piece
};

struct ReaderState {
    std::vector<uint8_t> samples;
    std::vector<Piece> pieces;
    std::vector<TimedLevel> blocks;
    bool failed = false;
};

void OnReadable(pa_stream* stream, size_t, void* userdata) {
    auto* state = static_cast<ReaderState*>(userdata);
    Clock::time_point now = Clock::now();
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream, &data, &length) < 0) {
            state->failed = true;
            return;
        }
        if (length == 0) break;
        // A hole in the stream is silence.
        if (data) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            state->samples.insert(state->samples.end(), bytes, bytes + length);
        } else {
            state->samples.insert(state->samples.end(), length, 128);
        }
        pa_stream_drop(stream);
    }
    state->pieces.push_back({now, static_cast<int64_t>(state->samples.size())});
    while ((state->blocks.size() + 1) * BLOCK_BYTES <= state->samples.size()) {
        const uint8_t* block = &state->samples[state->blocks.size() * BLOCK_BYTES];
        state->blocks.push_back({now, PeakLevel(block, BLOCK_BYTES)});
    }
}

// Runs the loop once, waiting no later than `until`; false when the time is up or the loop failed.
bool Iterate(pa_mainloop* loop, Clock::time_point until) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()).count();
    if (left <= 0) return false;
    return pa_mainloop_prepare(loop, static_cast<int>(left)) >= 0 && pa_mainloop_poll(loop) >= 0 &&
           pa_mainloop_dispatch(loop) >= 0;
}

// When sample `position` entered the sink, on the source's own clock: the best delivery seen around it
// (the smallest arrival time less position) tells when each position became available.
Clock::time_point SampleTime(const std::vector<Piece>& pieces, int64_t position) {
    auto holder = std::upper_bound(pieces.begin(), pieces.end(), position,
                                   [](int64_t p, const Piece& piece) { return p < piece.end; });
    if (holder == pieces.end()) --holder;
    auto best = Clock::duration::max();
    for (const Piece& piece : pieces) {
        if (piece.arrived < holder->arrived - kClockWindow || piece.arrived > holder->arrived + kClockWindow) continue;
        auto offset = piece.arrived.time_since_epoch() - std::chrono::nanoseconds(piece.end * 1000000000 / kRate);
        best = std::min(best, std::chrono::duration_cast<Clock::duration>(offset));
    }
    return Clock::time_point(best + std::chrono::nanoseconds(position * 1000000000 / kRate));
}

// The rising steps of every whole pattern read: each starts after a silence, its steps kStepSamples apart.
std::vector<TimedLevel> FindOnsets(const ReaderState& state) {
    std::vector<TimedLevel> onsets;
    const auto size = static_cast<int64_t>(state.samples.size());
    int64_t quiet = 0;
    for (int64_t i = 0; i < size; ++i) {
        if (std::abs(state.samples[i] - 128) <= kQuietExcursion) {
            ++quiet;
            continue;
        }
        int64_t first = i - kFirstLoudSample;
        if (quiet >= kSilentSteps * kStepSamples * 3 / 4 && first + kRisingSteps * kStepSamples <= size) {
            for (int step = 0; step < kRisingSteps; ++step)
                onsets.push_back({SampleTime(state.pieces, first + step * kStepSamples), StepLevel(step)});
            i = first + kRisingSteps * kStepSamples - 1;
        }
        quiet = 0;
    }
    return onsets;
}

// The child: connects, reads until `until`, reports on `out`.
void ReadUntil(Clock::time_point until, std::FILE* out) {
    ReaderState state;
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "capture bench reader");
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        std::fprintf(out, "error cannot connect\n");
        return;
    }
    while (pa_context_get_state(context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || !Iterate(loop, until)) {
            std::fprintf(out, "error no server\n");
            return;
        }
    }
    const pa_sample_spec format = {PA_SAMPLE_U8, kRate, 1};
    pa_stream* stream = pa_stream_new(context, "continuous reader", &format, nullptr);
    pa_buffer_attr attr;
    attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = BLOCK_BYTES;
    pa_stream_set_read_callback(stream, OnReadable, &state);
    state.samples.reserve(static_cast<size_t>(
        std::chrono::duration<double>(until - Clock::now()).count() * kRate + kRate));
    if (pa_stream_connect_record(stream, nullptr, &attr, PA_STREAM_NOFLAGS) < 0) {
        std::fprintf(out, "error cannot record\n");
        return;
    }
    Clock::time_point begin = Clock::now();
    double cpuBefore = ProcessCpuSeconds();
    while (!state.failed && Iterate(loop, until)) {
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            std::fprintf(out, "error the stream failed\n");
            return;
        }
    }
    double cpuSeconds = ProcessCpuSeconds() - cpuBefore;
    double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::fprintf(out, "cpu %.6f %.6f\n", cpuSeconds, seconds);
    for (const TimedLevel& block : state.blocks)
        std::fprintf(out, "b %lld %d\n", static_cast<long long>(block.at.time_since_epoch().count()), block.level);
    for (const TimedLevel& onset : FindOnsets(state))
        std::fprintf(out, "o %lld %d\n", static_cast<long long>(onset.at.time_since_epoch().count()), onset.level);
}

}  // namespace

double ProcessCpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

ContinuousReader StartContinuousReader(Clock::time_point until) {
    ContinuousReader reader;
    int ends[2];
    if (pipe(ends) != 0) return reader;
    reader.child = fork();
    if (reader.child == 0) {
        DieWithParent();
        close(ends[0]);
        std::FILE* out = fdopen(ends[1], "w");
        ReadUntil(until, out);
        std::fclose(out);
        _exit(0);
    }
    close(ends[1]);
    reader.pipe = ends[0];
    return reader;
}

ReaderResult CollectContinuousReader(ContinuousReader reader) {
    ReaderResult result;
    result.error = "no report";
    if (reader.child <= 0) return result;
    std::FILE* in = fdopen(reader.pipe, "r");
    char line[256];
    while (in && std::fgets(line, sizeof line, in)) {
        long long at = 0;
        int level = 0;
        if (std::sscanf(line, "cpu %lf %lf", &result.cpuSeconds, &result.seconds) == 2) {
            result.ok = true;
        } else if (std::sscanf(line, "b %lld %d", &at, &level) == 2) {
            result.blocks.push_back({Clock::time_point(Clock::duration(at)), level});
        } else if (std::sscanf(line, "o %lld %d", &at, &level) == 2) {
            result.onsets.push_back({Clock::time_point(Clock::duration(at)), level});
        } else if (std::strncmp(line, "error ", 6) == 0) {
            result.error = std::string(line + 6, std::strcspn(line + 6, "\n"));
        }
    }
    if (in) std::fclose(in);
    waitpid(reader.child, nullptr, 0);
    return result;
}
