// The PulseAudio wave-input backend: one threaded main loop and one context kept connected between opens
// (and made again after the server went away), and one record stream per format that keeps running while
// devices are opened, started, stopped and closed on it, so that none of those waits for the server.
// Leaves out device choice and volume (the default source, as it is) and server discovery, which libpulse
// does as always (PULSE_SERVER, client.conf).
#include "pulse/pulse_wave_device.h"

#include <windows.h>
#include <mmsystem.h>

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <vector>

#include "pulse/pulse_loop.h"
#include "wave/wave_device.h"

namespace w32 {
namespace {

struct PulseRecording;

// One open device: a listener on the recording of its format.
struct PulseCaptureStream {
    PulseRecording* recording = nullptr;
    WaveInputPort* port = nullptr;
    bool delivering = false;  // started and not stopped since
    size_t skip = 0;          // bytes still to drop after the start: sound already too old then
    pa_usec_t bufferUsec = 0; // the length of sound the buffer being filled at the start takes
};

// One record stream from the default source, shared by every device open in its format. It is read as
// fast as it delivers, whether a device is started or not, so there is never a backlog to hand out.
struct PulseRecording {
    pa_stream* stream = nullptr;
    pa_sample_spec sampleFormat = {};
    std::vector<PulseCaptureStream*> devices;  // open ones
    pa_time_event* idleTimer = nullptr;  // armed when the last device closes, unless it already is
    bool idleTimerArmed = false;
    pa_usec_t idleSince = 0;  // when the last device closed
    bool lost = false;
    // The end of the piece that filled a device's last buffer, kept for the next start; emptied by the
    // next piece, after which it no longer runs on into the sound to come.
    std::vector<uint8_t> leftover;
    pa_usec_t leftoverArrival = 0;
    pa_usec_t latestRead = 0;       // when sound was last read
    bool latestReadLate = true;     // ...and it had been left waiting in the connection
    bool startExpected = false;     // reading is deferred for the start that follows a filled buffer
};

// All the backend's state; every field is used only under the main loop's lock.
struct PulseServer {
    PulseLoop* loop = nullptr;
    pa_context* context = nullptr;
    std::vector<PulseRecording*> recordings;  // ready and not lost: what the next open may use
    std::vector<PulseRecording*> retired;     // lost with no device open, released at the next open
    PulseCaptureCounters counters;
};

// How long a connect or a stream set-up may take before waveInOpen gives up: a server that does not answer
// must not freeze the window thread.
constexpr pa_usec_t kPulseAnswerTimeout = 400 * PA_USEC_PER_MSEC;

// Sound reaches us in pieces of this length, the size sound servers use by default. Every piece wakes the
// process, so shorter ones cost CPU time; a block's end is found within a piece whatever its length, and
// the rest of that piece opens the next block, so longer ones cost no pace.
constexpr pa_usec_t kFragmentUsec = 20 * PA_USEC_PER_MSEC;

// Slack for a server clock running a little ahead of ours and for pieces that arrive unevenly.
constexpr pa_usec_t kDeferMargin = 10 * PA_USEC_PER_MSEC;

// A recording nobody has open for this long is given back to the server: the program's own cycle
// reopens within milliseconds, while a program that stopped recording frees the source.
constexpr pa_usec_t kIdleRelease = 1 * PA_USEC_PER_SEC;

// The one server record; its main loop runs from the first call on, for the rest of the run.
PulseServer& Pulse() {
    static PulseServer* server = [] {
        auto* created = new PulseServer;  // never destroyed: streams may still close during exit
        created->loop = StartPulseLoop();
        return created;
    }();
    return *server;
}

// Holds the main loop's lock for its lifetime. Callbacks from the loop run under the same lock.
class PulseLock {
public:
    PulseLock() {
        if (Pulse().loop) LockPulseLoop(Pulse().loop);
    }
    ~PulseLock() {
        if (Pulse().loop) UnlockPulseLoop(Pulse().loop);
    }
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;
};

pa_mainloop_api* Api() { return PulseLoopApi(Pulse().loop); }

// For callbacks: wakes every WaitForPulse.
void WakePulseWaiters() { SignalPulseLoop(Pulse().loop); }

void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* expired) {
    *static_cast<bool*>(expired) = true;
    WakePulseWaiters();
}

struct timeval Deadline(pa_usec_t fromNow) {
    struct timeval deadline;
    pa_timeval_add(pa_gettimeofday(&deadline), fromNow);
    return deadline;
}

// Under the lock: waits on the main loop until `done(arg)` holds or the timeout passes; true when it holds.
bool WaitForPulse(bool (*done)(void* arg), void* arg, pa_usec_t timeout) {
    if (done(arg)) return true;
    bool expired = false;
    struct timeval deadline = Deadline(timeout);
    pa_time_event* timer = Api()->time_new(Api(), &deadline, OnTimeout, &expired);
    while (!done(arg) && !expired) WaitForPulseLoop(Pulse().loop);
    Api()->time_free(timer);
    return done(arg);
}

void OnContextState(pa_context*, void*) { WakePulseWaiters(); }

bool ContextSettled(void* context) {
    pa_context_state_t state = pa_context_get_state(static_cast<pa_context*>(context));
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

void DropContext(PulseServer& server) {
    if (!server.context) return;
    pa_context_set_state_callback(server.context, nullptr, nullptr);
    pa_context_disconnect(server.context);
    pa_context_unref(server.context);
    server.context = nullptr;
}

// Under the lock: a ready context, connecting (again) when there is none. MMSYSERR_NOERROR, or
// MMSYSERR_NODRIVER when no server answers. Never starts a server.
MMRESULT ConnectPulse() {
    PulseServer& server = Pulse();
    if (!server.loop) return MMSYSERR_NODRIVER;
    if (server.context && pa_context_get_state(server.context) == PA_CONTEXT_READY) return MMSYSERR_NOERROR;
    DropContext(server);  // failed, or still connecting after an earlier timeout

    server.context = pa_context_new(Api(), "Pelomi");
    if (!server.context) return MMSYSERR_NOMEM;
    pa_context_set_state_callback(server.context, OnContextState, nullptr);
    // No autospawn: with no server running the open must fail at once, not start a daemon.
    if (pa_context_connect(server.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        !WaitForPulse(ContextSettled, server.context, kPulseAnswerTimeout) ||
        pa_context_get_state(server.context) != PA_CONTEXT_READY) {
        DropContext(server);
        return MMSYSERR_NODRIVER;
    }
    return MMSYSERR_NOERROR;
}

template <class T>
void Forget(std::vector<T*>& list, T* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

void Release(PulseRecording* recording) {
    Forget(Pulse().recordings, recording);
    if (recording->idleTimer) Api()->time_free(recording->idleTimer);
    pa_stream_set_state_callback(recording->stream, nullptr, nullptr);
    pa_stream_set_read_callback(recording->stream, nullptr, nullptr);
    if (pa_stream_get_state(recording->stream) != PA_STREAM_UNCONNECTED) pa_stream_disconnect(recording->stream);
    pa_stream_unref(recording->stream);
    delete recording;
}

// Every piece of sound wakes the process, while only the piece that fills a buffer is news for the program,
// so pieces that cannot fill one are left in the connection and read in one go shortly before one can.
// Sound is recorded no faster than it is played: the piece holding a buffer's last byte cannot arrive before
// that byte was recorded, the time of the buffer's room after the latest sound read (when that was read as
// it arrived), or after the start less one fragment (the oldest sound a start hands over).
void DeferUntilBufferCanFill(const PulseCaptureStream& device) {
    PulseRecording* recording = device.recording;
    for (PulseCaptureStream* other : recording->devices) {
        if (other != &device && other->delivering) {
            DeferPulseReading(Pulse().loop, 0);  // one deadline serves one device: read everything
            return;
        }
    }
    const pa_usec_t now = pa_rtclock_now();
    const size_t room = WaveInputRoom(device.port);
    const pa_usec_t base = recording->latestReadLate ? now - std::min(now, kFragmentUsec) : recording->latestRead;
    const pa_usec_t fills = base + pa_bytes_to_usec(room, &recording->sampleFormat);
    pa_usec_t until = room > 0 && fills > now + kDeferMargin ? fills - kDeferMargin : 0;
    // What ExpectNextStart asked for is at most this late; keeping it saves the loop a second wait.
    const pa_usec_t expected = PulseReadingDeferredUntil(Pulse().loop);
    if (until != 0 && expected > now && expected < until) until = expected;
    DeferPulseReading(Pulse().loop, until);
}

// The piece just read filled the device's last buffer: the program is about to start it (or the next device)
// on another buffer like it, which the rest of this piece will open (see Start).
void ExpectNextStart(const PulseCaptureStream& device) {
    PulseRecording* recording = device.recording;
    const pa_usec_t rest = pa_bytes_to_usec(recording->leftover.size(), &recording->sampleFormat);
    if (recording->latestReadLate || device.bufferUsec <= rest + kDeferMargin) return;
    DeferPulseReading(Pulse().loop, recording->latestRead + device.bufferUsec - rest - kDeferMargin);
    recording->startExpected = true;
}

bool Drained(void* ticket) { return PulseDrained(Pulse().loop, *static_cast<uint64_t*>(ticket)); }

// Sound left waiting in the connection may be older than a start may hand over: a start after a filled
// buffer comes within a fragment of it, as expected, but one after a stop in mid-buffer, or a late one,
// first has everything waiting read (and dropped, as no device of it is started).
void ReadWhatStartMustNotTake(PulseRecording* recording) {
    const pa_usec_t now = pa_rtclock_now();
    const bool deferring = PulseReadingDeferredUntil(Pulse().loop) > now;
    const bool expected = recording->startExpected && now - recording->latestRead <= kFragmentUsec;
    recording->startExpected = false;
    if (!deferring || expected) return;
    uint64_t ticket = AskPulseDrain(Pulse().loop);
    WaitForPulse(Drained, &ticket, kPulseAnswerTimeout);
    recording->latestReadLate = true;  // what was read now may have waited: no measure of the sound to come
}

// Hands one piece to every started device, each after what it still has to skip.
void Deliver(PulseRecording* recording, const uint8_t* data, size_t size) {
    bool taken = false;
    for (PulseCaptureStream* device : recording->devices) {
        if (!device->delivering) continue;
        size_t skipped = std::min(device->skip, size);
        device->skip -= skipped;
        if (skipped == size) continue;
        size_t took = WaveInputCaptured(device->port, data + skipped, size - skipped);
        if (took == 0) continue;
        taken = true;
        recording->leftover.assign(data + skipped + took, data + size);
        recording->leftoverArrival = pa_rtclock_now();
        if (WaveInputRoom(device->port) == 0) ExpectNextStart(*device);
    }
    if (!taken) recording->leftover.clear();
}

void OnReadable(pa_stream* stream, size_t, void* userdata) {
    auto* recording = static_cast<PulseRecording*>(userdata);
    PulseCaptureCounters& counters = Pulse().counters;
    recording->latestRead = pa_rtclock_now();
    recording->latestReadLate = PulseReadLate(Pulse().loop);
    const void* data;
    size_t size;
    while (pa_stream_peek(stream, &data, &size) == 0 && size > 0) {
        ++counters.pieces;
        counters.bytes += size;
        counters.latestArrival = std::chrono::steady_clock::now();
        if (data)
            Deliver(recording, static_cast<const uint8_t*>(data), size);
        else
            recording->leftover.clear();  // a hole: sound the server lost
        pa_stream_drop(stream);
    }
}

// A stream that fails after it was ready has lost its source (or the server): every open device gets its
// buffers back, and the next open makes a new stream.
void OnStreamState(pa_stream* stream, void* userdata) {
    auto* recording = static_cast<PulseRecording*>(userdata);
    pa_stream_state_t state = pa_stream_get_state(stream);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && !recording->lost) {
        recording->lost = true;
        Forget(Pulse().recordings, recording);
        for (PulseCaptureStream* device : recording->devices) {
            device->delivering = false;
            WaveInputLost(device->port);
        }
        // Not released from inside its own callback: the next open does it.
        if (recording->devices.empty()) Pulse().retired.push_back(recording);
    }
    WakePulseWaiters();
}

void OnIdle(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);

// The timer is not moved at every open and close, which would wake the main loop twice a block: when it
// goes off early it looks again at the time that is left.
void ArmIdleTimer(PulseRecording* recording, pa_usec_t fromNow) {
    struct timeval deadline = Deadline(fromNow);
    if (recording->idleTimer)
        Api()->time_restart(recording->idleTimer, &deadline);
    else
        recording->idleTimer = Api()->time_new(Api(), &deadline, OnIdle, recording);
    recording->idleTimerArmed = true;
}

void OnIdle(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* recording = static_cast<PulseRecording*>(userdata);
    recording->idleTimerArmed = false;
    if (!recording->devices.empty() || recording->lost) return;
    pa_usec_t idle = pa_rtclock_now() - recording->idleSince;
    if (idle >= kIdleRelease)
        Release(recording);
    else
        ArmIdleTimer(recording, kIdleRelease - idle);
}

bool StreamSettled(void* stream) {
    pa_stream_state_t state = pa_stream_get_state(static_cast<pa_stream*>(stream));
    return state != PA_STREAM_CREATING && state != PA_STREAM_UNCONNECTED;
}

// Under the lock, with a ready context: the running recording in `sampleFormat`, made when there is
// none. MMSYSERR_NOERROR and *found set, or the code waveInOpen returns.
MMRESULT FindRecording(const pa_sample_spec& sampleFormat, PulseRecording** found) {
    PulseServer& server = Pulse();
    for (PulseRecording* recording : server.recordings) {
        if (pa_sample_spec_equal(&recording->sampleFormat, &sampleFormat)) {
            *found = recording;
            return MMSYSERR_NOERROR;
        }
    }
    auto* recording = new PulseRecording;
    recording->sampleFormat = sampleFormat;
    recording->stream = pa_stream_new(server.context, "Pelomi capture", &sampleFormat, nullptr);
    if (!recording->stream) {
        delete recording;
        return MMSYSERR_NOMEM;
    }
    pa_stream_set_state_callback(recording->stream, OnStreamState, recording);
    pa_stream_set_read_callback(recording->stream, OnReadable, recording);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &sampleFormat));
    // The source's latency follows the fragment; the timing tells a start how old arriving sound is.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_record(recording->stream, nullptr, &attr, flags) < 0 ||
        !WaitForPulse(StreamSettled, recording->stream, kPulseAnswerTimeout) ||
        pa_stream_get_state(recording->stream) != PA_STREAM_READY) {
        // A server that is still there but could not give us a stream has no source to offer.
        bool serverAlive = pa_context_get_state(server.context) == PA_CONTEXT_READY;
        Release(recording);
        return serverAlive ? MMSYSERR_BADDEVICEID : MMSYSERR_NODRIVER;
    }
    server.recordings.push_back(recording);
    *found = recording;
    return MMSYSERR_NOERROR;
}

UINT CountDevices() {
    PulseLock lock;
    return ConnectPulse() == MMSYSERR_NOERROR ? 1 : 0;
}

MMRESULT Open(const WaveCaptureFormat& format, WaveInputPort* port, void** stream) {
    PulseLock lock;
    PulseServer& server = Pulse();
    for (PulseRecording* recording : server.retired) Release(recording);
    server.retired.clear();
    MMRESULT connected = ConnectPulse();
    if (connected != MMSYSERR_NOERROR) return connected;
    pa_sample_spec sampleFormat;
    sampleFormat.format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sampleFormat.rate = format.samplesPerSecond;
    sampleFormat.channels = static_cast<uint8_t>(format.channels);
    PulseRecording* recording = nullptr;
    MMRESULT found = FindRecording(sampleFormat, &recording);
    if (found != MMSYSERR_NOERROR) return found;

    auto* device = new PulseCaptureStream;
    device->recording = recording;
    device->port = port;
    recording->devices.push_back(device);
    *stream = device;
    return MMSYSERR_NOERROR;
}

// A device fills its buffers piece by piece, so the sound it starts with may be up to one fragment older
// than its start, and no more: sound still on its way that is older than that is skipped, and of the
// piece that ended the block before, only the part young enough is handed over first.
MMRESULT Start(void* stream) {
    PulseLock lock;
    auto* device = static_cast<PulseCaptureStream*>(stream);
    PulseRecording* recording = device->recording;
    if (recording->lost) return MMSYSERR_NODRIVER;
    ReadWhatStartMustNotTake(recording);
    const size_t frame = pa_frame_size(&recording->sampleFormat);
    device->bufferUsec = pa_bytes_to_usec(WaveInputRoom(device->port), &recording->sampleFormat);
    pa_usec_t latency = 0;
    int negative = 0;
    device->skip = 0;
    if (pa_stream_get_latency(recording->stream, &latency, &negative) == 0) {
        Pulse().counters.latencyUsec = negative ? -static_cast<int64_t>(latency) : static_cast<int64_t>(latency);
        if (!negative && latency > kFragmentUsec)
            device->skip = pa_usec_to_bytes(latency - kFragmentUsec, &recording->sampleFormat) / frame * frame;
    }
    pa_usec_t age = pa_rtclock_now() - recording->leftoverArrival;
    if (device->skip == 0 && !recording->leftover.empty() && age < kFragmentUsec) {
        size_t young = pa_usec_to_bytes(kFragmentUsec - age, &recording->sampleFormat) / frame * frame;
        size_t count = std::min(young, recording->leftover.size());
        WaveInputCaptured(device->port, recording->leftover.data() + recording->leftover.size() - count, count);
    }
    recording->leftover.clear();
    device->delivering = true;
    DeferUntilBufferCanFill(*device);
    return MMSYSERR_NOERROR;
}

void Stop(void* stream) {
    PulseLock lock;
    static_cast<PulseCaptureStream*>(stream)->delivering = false;
}

void Close(void* stream) {
    PulseLock lock;
    auto* device = static_cast<PulseCaptureStream*>(stream);
    PulseRecording* recording = device->recording;
    Forget(recording->devices, device);
    delete device;
    if (!recording->devices.empty()) return;
    if (recording->lost) {
        Release(recording);
        return;
    }
    recording->idleSince = pa_rtclock_now();
    if (!recording->idleTimerArmed) ArmIdleTimer(recording, kIdleRelease);
}

const WaveDevice kPulseWaveDevice = {"pulseaudio", CountDevices, Open, Start, Stop, Close};

}  // namespace

void UsePulseWaveDevice() { SetWaveDevice(&kPulseWaveDevice); }

PulseCaptureCounters ReadPulseCaptureCounters() {
    PulseLock lock;
    PulseCaptureCounters counters = Pulse().counters;
    counters.fragmentUsec = kFragmentUsec;
    if (Pulse().loop) counters.wakeups = PulseLoopWakeups(Pulse().loop);
    return counters;
}

}  // namespace w32
