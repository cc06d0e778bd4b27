// Runs the program's capture cycle against the sound server for a while, with a tone of changing loudness
// playing into the default sink, and reports the cycle's pace, the delay from the end of each block's
// sound to its drawing, the pieces the server delivered, the process's CPU time, and what opening the
// device costs. Meant to run inside scripts/pulse-session (a private daemon whose default source is the
// monitor of a null sink).
//
//   scripts/pulse-session run build/bench/capture/capture_bench [SECONDS]   (default 130)
#include <windows.h>
#include <mmsystem.h>

#include <pulse/error.h>
#include <pulse/sample.h>
#include <pulse/simple.h>
#include <pulse/timeval.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "capture_cycle.h"
#include "level.h"
#include "meter_state.h"
#include "picture_bank.h"
#include "pulse/pulse_wave_device.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kEndRun = WM_APP + 1;
constexpr double kPi = 3.14159265358979323846;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Block {
    Clock::time_point arrived;  // the piece that completed the block reached the process
    Clock::time_point drawn;    // just after the close notification's handler has drawn the block
    double closeHandlerMs;      // that handler: measure, reopen, draw
    double latencyMs;           // the stream's latency the server reported at the block's start
};

struct Run {
    Clock::time_point lastArrival;
    double lastLatencyMs = 0;
    std::vector<Block> blocks;
} run;

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case MM_WIM_OPEN:
        OnCaptureOpened();
        run.lastLatencyMs = w32::ReadPulseCaptureCounters().latencyUsec / 1000.0;
        return 0;
    case MM_WIM_DATA:
        // The data notification is posted as the completing piece is handed over; the next piece comes a
        // whole fragment later, so the latest arrival is that piece's.
        run.lastArrival = w32::ReadPulseCaptureCounters().latestArrival;
        OnCaptureData();
        return 0;
    case MM_WIM_CLOSE: {
        Clock::time_point begin = Clock::now();
        OnCaptureClosed(window);
        Clock::time_point end = Clock::now();
        run.blocks.push_back({run.lastArrival, end, Ms(end - begin), run.lastLatencyMs});
        return 0;
    }
    case kEndRun:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A 441 Hz tone into the default sink whose peak changes every half second, so blocks have varied levels.
// Like sound reaching a microphone, it neither sets the source's pace nor cuts its pieces: it is written a
// tenth of a second at a time with a relaxed latency, so the null sink mixes it in whole fragments at the
// pace the recording asks for (a player writing small pieces at low latency makes the sink's monitor
// deliver a thousand scraps a second).
void PlayTone(const std::atomic<bool>* running) {
    const pa_sample_spec sampleFormat = {PA_SAMPLE_U8, 44100, 1};
    pa_buffer_attr attr;
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(200 * PA_USEC_PER_MSEC, &sampleFormat));
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "capture bench", PA_STREAM_PLAYBACK, nullptr, "tone", &sampleFormat,
                                      nullptr, &attr, &error);
    if (!stream) {
        std::fprintf(stderr, "capture_bench: cannot play into the sink: %s\n", pa_strerror(error));
        return;
    }
    std::vector<uint8_t> chunk(4410);
    size_t phase = 0, chunks = 0;
    while (running->load()) {
        int amplitude = static_cast<int>((chunks / 5 * 37) % 128);
        for (uint8_t& sample : chunk) {
            sample = static_cast<uint8_t>(128 + std::lround(amplitude * std::sin(2 * kPi * phase / 100.0)));
            phase = (phase + 1) % 100;
        }
        if (pa_simple_write(stream, chunk.data(), chunk.size(), &error) < 0) break;
        ++chunks;
    }
    pa_simple_free(stream);
}

double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage;
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(fraction * (values.size() - 1) + 0.5);
    return values[index];
}

void ReportTimes(const char* what, const std::vector<double>& times) {
    std::printf("  %-28s %6zu blocks   median %6.2f ms   p99 %6.2f ms   max %6.2f ms\n", what, times.size(),
                Percentile(times, 0.5), Percentile(times, 0.99), Percentile(times, 1.0));
}

// Opens and closes the device `count` times with no recording in between; the times of each pair.
std::vector<double> TimeOpens(HWND window, int count, MMRESULT* lastResult) {
    WAVEFORMATEX format = blockFormat;
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        HWAVEIN device = nullptr;
        Clock::time_point begin = Clock::now();
        *lastResult = waveInOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(window), 0,
                                 CALLBACK_WINDOW);
        if (*lastResult == MMSYSERR_NOERROR) waveInClose(device);
        times.push_back(Ms(Clock::now() - begin));
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    return times;
}

void Session(const char* command) {
    std::string line = std::string(PELOMI_SOURCE_DIR) + "/scripts/pulse-session " + command;
    if (std::system(line.c_str()) != 0) std::fprintf(stderr, "capture_bench: %s failed\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 130;
    // The tone plays from a child process, forked before any thread exists, so that the CPU time measured
    // is the program's alone.
    pid_t player = fork();
    if (player == 0) {
        std::atomic<bool> playing{true};
        PlayTone(&playing);
        _exit(0);
    }
    w32::UsePulseWaveDevice();

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = BenchWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "CaptureBench";
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "CaptureBench", "capture bench", WS_POPUP, 0, 0, 216, 196, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    pictureBank.Attach(windowClass.hInstance, window);
    std::string sheet = std::string(PELOMI_SOURCE_DIR) + "/assets/default.bmp";
    bool sheetLoaded = pictureBank.Load(0, sheet.c_str(), false, 0);
    ResetForSheet();
    InitStepThresholds();

    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::thread timer([window, seconds] {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        PostMessageA(window, kEndRun, 0, 0);
    });
    double cpuBefore = CpuSeconds();
    double windowCpuBefore = CpuSeconds(RUSAGE_THREAD);
    w32::PulseCaptureCounters piecesBefore = w32::ReadPulseCaptureCounters();
    Clock::time_point begin = Clock::now();
    if (!StartCapture(window)) {
        std::fprintf(stderr, "capture_bench: no capture buffer\n");
        return 1;
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    Clock::time_point end = Clock::now();
    double cpuSeconds = CpuSeconds() - cpuBefore;
    double windowCpuSeconds = CpuSeconds(RUSAGE_THREAD) - windowCpuBefore;
    w32::PulseCaptureCounters piecesAfter = w32::ReadPulseCaptureCounters();
    StopCapture();
    timer.join();

    double elapsed = std::chrono::duration<double>(end - begin).count();
    size_t count = run.blocks.size();
    std::printf("capture cycle on the sound server for %.1f s (sheet %s)\n", elapsed,
                sheetLoaded ? "loaded" : "missing");
    std::printf("  blocks                       %zu   %.3f per second   ratio to 12: %.4f\n", count, count / elapsed,
                count / elapsed / 12.0);

    // On a sink's monitor every piece is rendered at once, as it is sent: the block's last sound is as old as
    // the piece that brought it. A microphone's pieces are recorded over a fragment before they are sent,
    // which adds up to one fragment and the source's latency.
    std::vector<double> all, first, last, handler, latencyFirst, latencyLast;
    for (const Block& block : run.blocks) {
        double delay = Ms(block.drawn - block.arrived);
        double at = std::chrono::duration<double>(block.drawn - begin).count();
        all.push_back(delay);
        if (at <= 60) {
            first.push_back(delay);
            latencyFirst.push_back(block.latencyMs);
        }
        if (at >= elapsed - 60) {
            last.push_back(delay);
            latencyLast.push_back(block.latencyMs);
        }
        handler.push_back(block.closeHandlerMs);
    }
    std::printf("delay from the end of a block's sound to its drawing\n");
    ReportTimes("whole run", all);
    ReportTimes("first minute", first);
    ReportTimes("last minute", last);
    ReportTimes("close handler (reopen+draw)", handler);
    std::printf("stream latency at the starts   first minute median %.2f ms   last minute median %.2f ms\n",
                Percentile(latencyFirst, 0.5), Percentile(latencyLast, 0.5));
    uint64_t pieces = piecesAfter.pieces - piecesBefore.pieces;
    uint64_t bytes = piecesAfter.bytes - piecesBefore.bytes;
    std::printf("pieces from the server         %.1f per second   %.1f bytes each   (%.1f ms asked for)\n",
                pieces / elapsed, pieces ? static_cast<double>(bytes) / pieces : 0.0,
                piecesAfter.fragmentUsec / 1000.0);
    std::printf("wake-ups of the sound thread   %.1f per second   %.2f pieces each\n",
                (piecesAfter.wakeups - piecesBefore.wakeups) / elapsed,
                piecesAfter.wakeups > piecesBefore.wakeups
                    ? static_cast<double>(pieces) / static_cast<double>(piecesAfter.wakeups - piecesBefore.wakeups)
                    : 0.0);
    std::printf("CPU time                       %.3f s in %.1f s: %.3f%% of one core\n", cpuSeconds, elapsed,
                100.0 * cpuSeconds / elapsed);
    std::printf("  window thread                %.3f s: %.3f%% of one core\n", windowCpuSeconds,
                100.0 * windowCpuSeconds / elapsed);
    std::printf("  the other threads            %.3f s: %.3f%% of one core\n", cpuSeconds - windowCpuSeconds,
                100.0 * (cpuSeconds - windowCpuSeconds) / elapsed);

    MMRESULT result = MMSYSERR_NOERROR;
    std::vector<double> opens = TimeOpens(window, 200, &result);
    std::printf("open and close, no recording    median %.3f ms   p99 %.3f ms   (result %u)\n",
                Percentile(opens, 0.5), Percentile(opens, 0.99), result);
    if (std::getenv("PELOMI_PULSE_DIR")) {
        Session("down");
        std::vector<double> failed = TimeOpens(window, 20, &result);
        std::printf("open with the server stopped    median %.3f ms   max %.3f ms   (result %u)\n",
                    Percentile(failed, 0.5), Percentile(failed, 1.0), result);
        Session("up");
    }

    if (player > 0) {
        kill(player, SIGTERM);
        waitpid(player, nullptr, 0);
    }
    FreeCaptureBuffer();
    pictureBank.Detach();
    DestroyWindow(window);
    return 0;
}
