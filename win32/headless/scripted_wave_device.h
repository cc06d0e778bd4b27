// The scripted wave-input device, the default backend: no server, no thread, sound fed from data by tests,
// open failures and lost sources on demand. Leaves out real time: nothing is captured unless fed.
#ifndef PELOMI_WIN32_SCRIPTED_WAVE_DEVICE_H
#define PELOMI_WIN32_SCRIPTED_WAVE_DEVICE_H

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace w32 {

struct WaveDevice;

struct ScriptedWaveCounts {
    int opens = 0;  // successful ones
    int failedOpens = 0;
    int starts = 0;
    int stops = 0;
    int closes = 0;
    int openStreams = 0;
    int startedStreams = 0;
};

// Every function may be called from any thread; feeding from a second thread plays the part of a real
// device's capture thread.
class ScriptedWaveDevice {
public:
    static const WaveDevice* Backend();

    // Back to the start state: opens succeed, nothing is delivered, counts are zero, no hook. Streams still
    // open stay open.
    static void Reset();

    // The next `count` opens fail with `result` (MMSYSERR_BADDEVICEID: no source, MMSYSERR_NODRIVER: no
    // server); waveInOpen returns it and posts nothing.
    static void FailOpens(MMRESULT result, int count = 1);

    // Each later start takes the oldest queued chunk and delivers it at once, inside waveInStart; with
    // nothing queued a started stream stays silent until fed.
    static void QueueImmediate(std::vector<uint8_t> bytes);

    // Sound captured now, delivered to every started stream; false when none is started (the sound is lost,
    // as sound before a start always is).
    static bool Feed(const void* bytes, size_t count);
    static bool Feed(const std::vector<uint8_t>& bytes) { return Feed(bytes.data(), bytes.size()); }

    // The source disappears under every open stream: their queued buffers come back with what they hold.
    static void LoseSource();

    // Runs inside every successful open, before waveInOpen returns and posts MM_WIM_OPEN.
    static void OnOpen(std::function<void()> hook);

    static ScriptedWaveCounts Counts();
};

}  // namespace w32

#endif
