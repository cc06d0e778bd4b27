// The capture bench's sound and load: the stepping tone, its players, the busy loops.
#include "bench_sound.h"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <pulse/timeval.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;

uint8_t ToneSample(int level, int64_t index) {
    return static_cast<uint8_t>(128 + std::lround(level * std::sin(2 * kPi * (index % kTonePeriod) / kTonePeriod)));
}

void PutLittleEndian(std::FILE* file, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xFF), file);
}

// Writes to `sink` (null: the default) as a microphone's sound reaches it: it neither sets the source's
// pace nor cuts its pieces, the sink mixing it in whole fragments at the pace the recorders ask for. A
// steady tone of `level` on every channel, or the stepping tone for a level below 0.
void PlayTone(const char* sink, uint8_t channels, int level) {
    const pa_sample_spec format = {PA_SAMPLE_U8, kRate, channels};
    pa_buffer_attr attr;
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(200 * PA_USEC_PER_MSEC, &format));
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "capture bench", PA_STREAM_PLAYBACK, sink, "tone", &format, nullptr, &attr, &error);
    if (!stream) {
        std::fprintf(stderr, "capture_bench: cannot play into the sink: %s\n", pa_strerror(error));
        return;
    }
    std::vector<uint8_t> chunk(kRate / 10 * format.channels);
    int64_t index = 0;
    for (;;) {
        for (size_t i = 0; i < chunk.size(); i += format.channels, ++index) {
            uint8_t sample = level >= 0 ? ToneSample(level, index) : SteppingToneSample(index);
            for (int channel = 0; channel < format.channels; ++channel) chunk[i + channel] = sample;
        }
        if (pa_simple_write(stream, chunk.data(), chunk.size(), &error) < 0) break;
    }
    pa_simple_free(stream);
}

}  // namespace

int StepLevel(int step) { return 8 + 5 * step; }

uint8_t SteppingToneSample(int64_t index) {
    int step = static_cast<int>(index % kPatternSamples / kStepSamples) - kSilentSteps;
    return step < 0 ? 128 : ToneSample(StepLevel(step), index);
}

bool WriteSteppingToneWav(const std::string& path, double seconds) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    uint32_t samples = static_cast<uint32_t>(seconds * kRate);
    std::fputs("RIFF", file);
    PutLittleEndian(file, 36 + samples, 4);
    std::fputs("WAVEfmt ", file);
    PutLittleEndian(file, 16, 4);
    PutLittleEndian(file, 1, 2);  // PCM
    PutLittleEndian(file, 1, 2);  // mono
    PutLittleEndian(file, kRate, 4);
    PutLittleEndian(file, kRate, 4);  // bytes a second
    PutLittleEndian(file, 1, 2);      // block align
    PutLittleEndian(file, 8, 2);      // bits a sample
    std::fputs("data", file);
    PutLittleEndian(file, samples, 4);
    for (uint32_t i = 0; i < samples; ++i) std::fputc(SteppingToneSample(i), file);
    return std::fclose(file) == 0;
}

void DieWithParent() { prctl(PR_SET_PDEATHSIG, SIGKILL); }

pid_t StartTonePlayer(bool stereo) {
    return stereo ? StartTonePlayerInto(nullptr, 2, kStereoLevel) : StartTonePlayerInto(nullptr, 1, -1);
}

pid_t StartTonePlayerInto(const char* sink, uint8_t channels, int level) {
    pid_t child = fork();
    if (child == 0) {
        DieWithParent();
        PlayTone(sink, channels, level);
        _exit(0);
    }
    return child;
}

pid_t StartPaplay(const std::string& path) {
    pid_t child = fork();
    if (child == 0) {
        DieWithParent();
        execlp("paplay", "paplay", path.c_str(), static_cast<char*>(nullptr));
        std::perror("capture_bench: paplay");
        _exit(127);
    }
    return child;
}

std::vector<pid_t> StartBusyLoops() {
    std::vector<pid_t> children;
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    for (long i = 0; i < cores; ++i) {
        pid_t child = fork();
        if (child == 0) {
            DieWithParent();
            for (volatile uint64_t spin = 0;; spin = spin + 1) {
            }
        }
        children.push_back(child);
    }
    return children;
}

void EndChild(pid_t child) {
    if (child <= 0) return;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}
