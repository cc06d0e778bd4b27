// The tests' scripted sound backend: a pretend server under the capture core with no thread and a clock of
// its own. Sound is fed from data by tests, or captured from a function of the stream position
// while scripted time passes; the server can refuse, go away and come back on demand. Leaves out real time:
// nothing happens unless fed or advanced.
#ifndef PELOMI_WIN32_TESTING_SCRIPTED_WAVE_DEVICE_H
#define PELOMI_WIN32_TESTING_SCRIPTED_WAVE_DEVICE_H

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "wave/wave_device.h"

namespace w32 {

// What the program did with wave devices since the last reset, as its winmm calls say (scripted_wave_calls.cpp).
struct ScriptedWaveCounts {
    int opens = 0;
    int starts = 0;
    int stops = 0;
    int closes = 0;
    int openStreams = 0;     // devices open now
    int startedStreams = 0;  // ...and started
};

// Devices opened from now on record from the scripted microphone, in its start state (Reset).
void UseScriptedWaveDevice();

// Every function may be called from any thread; feeding from a second thread plays the part of a real
// server's.
class ScriptedWaveDevice {
public:
    // Installs it for waveInOpen, back in the start state: a server that answers, never reached yet (the
    // core gives back the streams no device holds and forgets it); opens succeed, nothing is delivered,
    // counts are zero, no hook, sound only when fed. Devices still open stay open.
    static void Reset();

    // Each later start takes the oldest queued chunk and delivers it at once, inside waveInStart; with
    // nothing queued a started stream stays silent until fed.
    static void QueueImmediate(std::vector<uint8_t> bytes);

    // 8-bit mono sound captured now, delivered to every started device; false when none is started (the
    // sound is lost, as sound before a start always is).
    static bool Feed(const void* bytes, size_t count);
    static bool Feed(const std::vector<uint8_t>& bytes) { return Feed(bytes.data(), bytes.size()); }

    // The server goes away under every open device (their buffers come back with what they hold) and
    // answers again at the core's first reconnect, which scripted time runs on to.
    static void LoseSource();

    // Runs inside every successful open, before waveInOpen returns and posts MM_WIM_OPEN.
    static void OnOpen(std::function<void()> hook);

    static ScriptedWaveCounts Counts();

    // Timed sound. From now on every stream records `sound(position, channel)` from a source of `channels`,
    // its clock running with scripted time from the moment it opened, in pieces of `fragmentUsec` that
    // arrive `latencyUsec` after they complete (later while the core defers reading; before, with a
    // negative latency, as a sink's monitor hands out sound rendered ahead of its clock).
    static void CaptureWithClock(uint64_t fragmentUsec, int64_t latencyUsec, uint16_t channels,
                                 std::function<int16_t(int64_t position, int channel)> sound);
    // Scripted time passes: pieces arrive, the core's timer goes off, in time order.
    static void Advance(uint64_t usec);
    static uint64_t Now();
    static uint64_t ReadingDeferredUntil();
    static int ReadingTurns();  // turns that delivered at least one piece
    static int TimerExpiries();  // times the core's timer went off
    static int RecordStreams();  // streams the server records now
    // The server moves every stream to another source of `channels` (each is opened again), or their source
    // stops (suspended: the streams stay open; removed: they fail, and new ones are refused) and records
    // again.
    static void MoveSource(uint16_t channels);
    static void StopSource(bool suspended);
    static void ResumeSource();
    // The server stops answering (and drops the connection) / answers again.
    static void ServerDown();
    static void ServerUp();
    // The server takes connects and streams and answers nothing (a stopped process) / answers what it was
    // asked meanwhile.
    static void ServerStalls();
    static void ServerContinues();
    static std::vector<uint64_t> ConnectAttempts();  // scripted times of the core's connects
    static std::vector<uint64_t> StreamAttempts();   // ...and of the streams it asked for
};

}  // namespace w32

#endif
