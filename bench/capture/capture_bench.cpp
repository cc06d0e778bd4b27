// Runs the program's capture cycle on the default source for a while, beside a continuous reader of the
// same source measured at the same time, with a stepping tone playing into the default sink, and reports
// blocks a second, the delay from each step's onset to the block that shows it, and CPU, for both. One
// setup a run, inside a private sound server; bench/capture/capture_bench_all runs every setup on
// PulseAudio and PipeWire and prints the table.
//
//   capture_bench SETUP [SECONDS [RESULTS]]   SETUP: microphone, virtual-sink, saturated,
//                                             saturated-virtual-sink, stereo, switching, stall or
//                                             stall-stack; SECONDS measured (20);
//                                             RESULTS: a file the figures are added to as a JSON line
//   capture_bench --table RESULTS             the table of every setup in RESULTS
//
// microphone: the stepping tone written as sound reaches a microphone; virtual-sink: an ordinary `paplay`
// of it from a file; saturated: a busy loop on every core beside the microphone's tone (with
// -virtual-sink, beside paplay's); stereo: a steady tone on both channels of a stereo source, for the
// level the cycle measures; switching: the default source switched every 3 s between a 48 kHz stereo
// source and a 16 kHz mono one, for the pace from a second after each switch on and the levels there;
// stall and stall-stack: the server stopped for 3 s two seconds into the span, then continued, beside the
// microphone's tone, for the pace from a second after it continued on (server_stall.h).
// Which server and source the session has is the driver's business.
#include <windows.h>
#include <mmsystem.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "bench_sound.h"
#include "capture_cycle.h"
#include "continuous_reader.h"
#include "level.h"
#include "meter_state.h"
#include "picture_bank.h"
#include "pixbuf/pixbuf_bmp_decoder.h"
#include "pulse/pulse_wave_device.h"
#include "server_stall.h"
#include "source_switcher.h"
#include "testing/headless_display.h"

namespace {

constexpr UINT kMeasureFrom = WM_APP + 1;
constexpr UINT kEndRun = WM_APP + 2;
// Time for the server to settle with the player and the reader before the cycle starts, and for the
// cycle's first open (the connection) before measuring.
constexpr auto kSettle = std::chrono::milliseconds(1500);
constexpr auto kWarmUp = std::chrono::seconds(1);
// The reader reads on a little after the span measured, so that its blocks cover it.
constexpr auto kReaderOverrun = std::chrono::milliseconds(300);
constexpr auto kLongestHang = std::chrono::seconds(20);
constexpr auto kStallAfter = std::chrono::seconds(2);  // into the span measured

struct CycleRun {
    std::vector<TimedLevel> blocks;
    Clock::time_point measuredFrom, measuredTo;
    double cpuFrom = 0, cpuTo = 0;
} cycleRun;

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case MM_WIM_OPEN:
        OnCaptureOpened();
        return 0;
    case MM_WIM_DATA:
        OnCaptureData();
        return 0;
    case MM_WIM_CLOSE: {
        // The level the cycle is about to measure from the same buffer; the block is drawn when the
        // handler returns.
        uint8_t level = PeakLevel(blockBuffer, BLOCK_BYTES);
        OnCaptureClosed(window);
        cycleRun.blocks.push_back({Clock::now(), level});
        return 0;
    }
    case kMeasureFrom:
        cycleRun.measuredFrom = Clock::now();
        cycleRun.cpuFrom = ProcessCpuSeconds();
        return 0;
    case kEndRun:
        cycleRun.measuredTo = Clock::now();
        cycleRun.cpuTo = ProcessCpuSeconds();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

double LoadAverage() {
    double load = 0;
    if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1) load = 0;
        std::fclose(file);
    }
    return load;
}

void AddFigures(const char* resultsPath, const Figures& figures) {
    if (!resultsPath) return;
    std::FILE* results = std::fopen(resultsPath, "a");
    if (!results) {
        std::fprintf(stderr, "capture_bench: cannot write %s\n", resultsPath);
        return;
    }
    WriteJsonLine(results, figures);
    std::fclose(results);
}

void ReportHang(const RunRecord& run, const char* resultsPath) {
    std::string error = "the capture cycle was still inside a wave call " +
                        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kLongestHang).count()) +
                        " s after the end";
    std::fprintf(stderr, "capture_bench: %s, %s: %s\n", run.server.c_str(), run.setup.c_str(), error.c_str());
    AddFigures(resultsPath, {{"server", "\"" + run.server + "\""}, {"setup", "\"" + run.setup + "\""},
                             {"error", "\"" + error + "\""}});
}

HWND CreateBenchWindow() {
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
    if (!pictureBank.Load(0, sheet.c_str(), false, 0)) std::fprintf(stderr, "capture_bench: no sheet %s\n", sheet.c_str());
    ResetForSheet();
    InitStepThresholds();
    return window;
}

int RunSetup(const std::string& setup, double seconds, const char* resultsPath) {
    bool stereo = setup == "stereo";
    bool paplay = setup.find("virtual-sink") != std::string::npos;
    bool saturated = setup.rfind("saturated", 0) == 0;
    bool switching = setup == "switching";
    bool stall = setup == "stall" || setup == "stall-stack";
    if (!stereo && setup != "microphone" && !paplay && !saturated && !switching && !stall) {
        std::fprintf(stderr, "capture_bench: unknown setup %s\n", setup.c_str());
        return 2;
    }
    RunRecord run;
    const char* server = std::getenv("PELOMI_SOUND_SERVER");
    run.server = server ? server : "default";
    run.setup = setup;
    run.loadAverage = LoadAverage();

    Clock::time_point start = Clock::now() + kSettle;
    auto span = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Clock::time_point end = start + kWarmUp + span;
    const char* folder = std::getenv("PELOMI_PULSE_DIR");
    std::string tonePath = std::string(folder ? folder : "/tmp") + "/capture-bench-" + std::to_string(getpid()) + ".wav";
    if (paplay && !WriteSteppingToneWav(tonePath, seconds + 10)) {
        std::fprintf(stderr, "capture_bench: cannot write %s\n", tonePath.c_str());
        return 1;
    }
    // Every child is forked before any thread exists, so that the CPU time measured is the program's alone.
    SwitchingSources sources;
    if (switching) sources = StartSwitchingSources(start + kWarmUp + std::chrono::seconds(1), end);
    ServerStall stalled;
    if (stall) stalled = StartServerStall(setup, start + kWarmUp + kStallAfter);
    pid_t player = switching ? -1 : paplay ? StartPaplay(tonePath) : StartTonePlayer(stereo);
    ContinuousReader reader = StartContinuousReader(end + kReaderOverrun);
    std::vector<pid_t> busyLoops;
    if (saturated) busyLoops = StartBusyLoops();

    // As the program on GTK: the server's connection served by the window's own thread, in its waits.
    w32::UsePulseWaveDeviceOnThisThread();
    w32::UseHeadlessDisplayOnMainContext();
    w32::UsePixbufImageDecoder();
    HWND window = CreateBenchWindow();
    std::this_thread::sleep_until(start);
    std::atomic<bool> returned{false};
    std::thread timer([window, start, end, &returned, &run, resultsPath] {
        std::this_thread::sleep_until(start + kWarmUp);
        PostMessageA(window, kMeasureFrom, 0, 0);
        std::this_thread::sleep_until(end);
        PostMessageA(window, kEndRun, 0, 0);
        // A layer that never returns from a wave call would hold the whole report up: say so and end.
        while (!returned.load()) {
            if (Clock::now() > end + kLongestHang) {
                ReportHang(run, resultsPath);
                _exit(3);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    bool started = StartCapture(window);
    MSG msg;
    while (started && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    StopCapture();
    returned = true;
    timer.join();

    run.reader = CollectContinuousReader(reader);
    for (pid_t busy : busyLoops) EndChild(busy);
    if (player > 0) EndChild(player);
    EndSwitchingSources(sources);
    EndServerStall(stalled);
    if (paplay) unlink(tonePath.c_str());
    if (!started) {
        std::fprintf(stderr, "capture_bench: no capture buffer\n");
        return 1;
    }
    run.from = cycleRun.measuredFrom;
    run.to = cycleRun.measuredTo;
    run.cycleBlocks = cycleRun.blocks;
    run.cycleCpuSeconds = cycleRun.cpuTo - cycleRun.cpuFrom;

    Figures figures = Summarise(run);
    if (switching) AddSwitchFigures(run, sources, figures);
    if (stall) AddStallFigures(run, stalled, figures);
    std::printf("capture cycle beside a continuous reader: %s, %s\n", run.server.c_str(), setup.c_str());
    PrintFigures(figures);
    AddFigures(resultsPath, figures);
    FreeCaptureBuffer();
    pictureBank.Detach();
    DestroyWindow(window);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--table") return PrintTable(argv[2]) ? 0 : 1;
    std::string setup = argc > 1 ? argv[1] : "microphone";
    double seconds = argc > 2 ? std::atof(argv[2]) : 20;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: capture_bench SETUP [SECONDS [RESULTS]] | capture_bench --table RESULTS\n");
        return 2;
    }
    return RunSetup(setup, seconds, argc > 3 ? argv[3] : nullptr);
}
