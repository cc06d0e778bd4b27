// The contract between winmm's wave input (wave_in.cpp over the capture core, wave_capture.cpp) and a sound
// backend (PulseAudio in pulse/, the tests' scripted device in testing/). The core keeps every timing rule:
// one server stream shared across opens, where a block starts, what is dropped, when to read, the idle
// release and the reconnect backoff. A backend only connects, records, tells where on its stream each piece
// lies, and reports its server's and its source's comings and goings. Leaves out choosing a source: the
// backend records the server's default, or the source the user moved the program's stream to.
#ifndef PELOMI_WIN32_WAVE_DEVICE_H
#define PELOMI_WIN32_WAVE_DEVICE_H

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstdint>

namespace w32 {

// The wave layer's side of one open device (its header queue).
struct WaveInputPort;

// The core's record of one server record stream; backends hand it back with every report about it.
struct WaveStream;

struct WaveCaptureFormat {
    uint32_t samplesPerSecond;
    uint16_t channels;
    uint16_t bitsPerSample;  // 8: unsigned bytes, 16: signed little-endian words
};

// A sound backend: a table of functions, filled member by member by name and completed by
// InstallWaveBackend. DeferReading may be left null and gets its default there (nothing is deferred);
// every other member is required. Every function but Lock is called with the backend's lock held, and every report below is made with it held (the
// core's state is guarded by that lock). Times are microseconds on the backend's monotonic clock (Now).
struct WaveBackend {
    const char* name;
    void (*Lock)();    // recursive
    void (*Unlock)();
    uint64_t (*Now)();
    // The length of the pieces the backend's server delivers.
    uint64_t (*FragmentUsec)();
    // Only ever from a wave call's thread, never from a report: lets the backend run (and report) until a
    // report came or `until` passed, whichever is first. May return early.
    void (*Wait)(uint64_t until);
    // Begins connecting to the server, dropping any connection there was; reports WaveServerAnswered or
    // WaveServerGone, maybe before returning. Never starts a server.
    void (*Connect)();
    void (*Disconnect)();
    // Connected: begins recording the default source at `samplesPerSecond` as signed 16-bit samples in the
    // source's own channel layout; reports WaveStreamReady, WaveStreamRefused (the server has no source to
    // give) or WaveServerGone, maybe before returning.
    void (*OpenStream)(WaveStream* stream, uint32_t samplesPerSecond);
    // Ends the recording, whatever state it is in (nothing if the backend has forgotten it); no report about
    // `stream` follows.
    void (*CloseStream)(WaveStream* stream);
    // Where the stream's clock is now: the position (in frames, counted as WaveSoundCaptured counts them) of
    // the sound being captured at this moment. False while the server has not said.
    bool (*StreamNow)(WaveStream* stream, int64_t* position);
    // Sound arriving before `until` (0: none) may be left unread and handed over in one turn at that time:
    // no block can fill before then. A later call replaces the time.
    void (*DeferReading)(uint64_t until);
    // Calls WaveTimerDue at `at` or a little later (0: never); a later call replaces the time.
    void (*SetTimer)(uint64_t at);
};

// Backend to core, under the backend's lock. The server answered a Connect.
void WaveServerAnswered(const WaveBackend& backend);
// The server went away or a connect found none; also for a stream that fails (its source went away).
void WaveServerGone(const WaveBackend& backend);
void WaveStreamReady(WaveStream* stream, uint16_t channels);
void WaveStreamRefused(WaveStream* stream);
// The stream records another source now (the default changed, the user moved it, its source went and the
// server moved it on), or its source records again after a suspension: its layout, rate and clock may all
// differ from before. The core closes the stream and opens it again.
void WaveStreamMoved(WaveStream* stream);
// The stream's source stopped recording while the server stays: suspended (`stillOpen`: the stream stays,
// and WaveStreamMoved follows when the source records again), or gone with no source to take its place
// (the stream failed; the core opens it again at growing intervals).
void WaveStreamStopped(WaveStream* stream, bool stillOpen);
// `frames` frames of sound (null samples: a hole, heard as silence) that begin at `position` on the
// stream, counted from 0 at WaveStreamReady. Returns whether a started device listens to the stream.
bool WaveSoundCaptured(WaveStream* stream, int64_t position, const int16_t* samples, size_t frames);
void WaveTimerDue(const WaveBackend& backend);
// With no lock held, after reports: posts the notifications they gave rise to. None is posted under a lock,
// so that a program woken by one never has to wait for the backend's lock.
void WaveReportsDone();

// Completes `backend` as above and makes it the one waveInOpen uses from now on; false, with one line on
// stderr, when it lacks a required member. Devices already open keep the backend they were opened with;
// with none open, a backend installed again starts afresh (disconnected, nothing recorded or told yet).
// Before any is installed, waveInOpen fails with MMSYSERR_NODRIVER.
bool InstallWaveBackend(WaveBackend& backend);

}  // namespace w32

#endif
