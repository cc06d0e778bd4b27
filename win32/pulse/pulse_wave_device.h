// Installs the PulseAudio capture backend for waveInOpen (the default source of the user's sound server,
// PulseAudio or PipeWire's PulseAudio service), or the source the user moved the program's stream to in the
// desktop's sound settings. Leaves out a device list: the desktop's settings are the program's.
#ifndef PELOMI_WIN32_PULSE_WAVE_DEVICE_H
#define PELOMI_WIN32_PULSE_WAVE_DEVICE_H

#include <chrono>
#include <cstdint>

namespace w32 {

// Devices opened from now on record from the sound server; nothing connects until the first open.
void UsePulseWaveDevice();
// The same, with the server's connection served in turns of GLib's default main context, which the calling
// thread iterates (a GTK program's main thread), rather than on a thread of its own: a block of sound then
// reaches that thread's windows without waking another thread first. Before any other use of the backend;
// the first call of the two decides.
void UsePulseWaveDeviceOnThisThread();

// What the server has delivered in this process, for benchmarks and diagnostics: counted from the first
// ReadPulseCaptureCounters on (nothing is counted before, so that pieces cost nothing unless asked).
struct PulseCaptureCounters {
    uint64_t pieces = 0;       // deliveries from the server
    uint64_t wholePieces = 0;  // ...of them exactly the length asked for (fragmentUsec at the stream's rate)
    uint64_t longerPieces = 0;  // ...longer than that
    uint64_t wakeups = 0;      // times the loop slept and woke to read them (or to serve a call)
    uint64_t bytes = 0;
    std::chrono::steady_clock::time_point latestArrival;
    // The first stream's latency now (below 0 on a sink's monitor) and its clock, in frames (-1: unknown).
    int64_t latencyUsec = 0;
    uint32_t fragmentUsec = 0;  // the piece length asked for
    int64_t clockFrames = -1;
    bool readingDeferred = false;  // arriving sound is left with the server now
};
PulseCaptureCounters ReadPulseCaptureCounters();

}  // namespace w32

#endif
