// The PulseAudio wave-input backend: one threaded main loop and one context kept connected between opens
// (and made again after the server went away), and one record stream per open, corked until started,
// delivering only sound captured after its start. Leaves out device choice and volume: the default
// source, as it is; and server discovery, which libpulse does as always (PULSE_SERVER, client.conf).
#include "pulse/pulse_wave_device.h"

#include <windows.h>
#include <mmsystem.h>

#include <pulse/pulseaudio.h>

#include "wave/wave_device.h"

namespace w32 {
namespace {

// All the backend's connection state; every field is used only under the main loop's lock.
struct PulseServer {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
};

// How long a connect or a stream set-up may take before waveInOpen gives up: a server that does not answer
// must not freeze the window thread.
constexpr pa_usec_t kPulseAnswerTimeout = 400 * PA_USEC_PER_MSEC;

// Sound reaches us in pieces of this length; a block is done at most this long after its last sample.
constexpr pa_usec_t kFragmentUsec = 5 * PA_USEC_PER_MSEC;

// The one server record; its main loop runs from the first call on, for the rest of the run.
PulseServer& Pulse() {
    static PulseServer* server = [] {
        auto* created = new PulseServer;  // never destroyed: streams may still close during exit
        created->loop = pa_threaded_mainloop_new();
        if (created->loop) pa_threaded_mainloop_start(created->loop);
        return created;
    }();
    return *server;
}

// Holds the main loop's lock for its lifetime. Callbacks from the loop run under the same lock.
class PulseLock {
public:
    PulseLock() {
        if (Pulse().loop) pa_threaded_mainloop_lock(Pulse().loop);
    }
    ~PulseLock() {
        if (Pulse().loop) pa_threaded_mainloop_unlock(Pulse().loop);
    }
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;
};

// For callbacks: wakes every WaitForPulse.
void WakePulseWaiters() { pa_threaded_mainloop_signal(Pulse().loop, 0); }

void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* expired) {
    *static_cast<bool*>(expired) = true;
    WakePulseWaiters();
}

// Under the lock: waits on the main loop until `done(arg)` holds or the timeout passes; true when it holds.
bool WaitForPulse(bool (*done)(void* arg), void* arg, pa_usec_t timeout) {
    PulseServer& server = Pulse();
    if (done(arg)) return true;
    bool expired = false;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(server.loop);
    struct timeval deadline;
    pa_timeval_add(pa_gettimeofday(&deadline), timeout);
    pa_time_event* timer = api->time_new(api, &deadline, OnTimeout, &expired);
    while (!done(arg) && !expired) pa_threaded_mainloop_wait(server.loop);
    api->time_free(timer);
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

    server.context = pa_context_new(pa_threaded_mainloop_get_api(server.loop), "Pelomi");
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

// Every field is used under the main loop's lock.
struct PulseCaptureStream {
    pa_stream* stream = nullptr;
    WaveInputPort* port = nullptr;
    bool wanted = false;      // started and not stopped since
    bool delivering = false;  // the server has confirmed the latest start
    bool lost = false;
    unsigned startsSent = 0;
    unsigned startsConfirmed = 0;
    pa_operation* pendingStart = nullptr;
};

bool StreamSettled(void* capture) {
    pa_stream_state_t state = pa_stream_get_state(static_cast<PulseCaptureStream*>(capture)->stream);
    return state != PA_STREAM_CREATING && state != PA_STREAM_UNCONNECTED;
}

// Sound that came in while not delivering was captured before the latest start: it is dropped.
void OnReadable(pa_stream* stream, size_t, void* userdata) {
    auto* capture = static_cast<PulseCaptureStream*>(userdata);
    const void* data;
    size_t size;
    while (pa_stream_peek(stream, &data, &size) == 0 && size > 0) {
        if (data && capture->delivering) WaveInputCaptured(capture->port, static_cast<const uint8_t*>(data), size);
        pa_stream_drop(stream);
    }
}

// The uncork's answer follows everything the server sent before it, so from here on the sound is fresh.
void OnStartConfirmed(pa_stream*, int, void* userdata) {
    auto* capture = static_cast<PulseCaptureStream*>(userdata);
    ++capture->startsConfirmed;
    if (capture->startsConfirmed == capture->startsSent) capture->delivering = capture->wanted;
}

// A stream that fails after it was ready has lost its source (or the server): the buffers go back.
void OnStreamState(pa_stream* stream, void* userdata) {
    auto* capture = static_cast<PulseCaptureStream*>(userdata);
    pa_stream_state_t state = pa_stream_get_state(stream);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && capture->port && !capture->lost) {
        capture->lost = true;
        capture->delivering = false;
        WaveInputLost(capture->port);
    }
    WakePulseWaiters();
}

void Release(PulseCaptureStream* capture) {
    if (capture->pendingStart) {
        if (pa_operation_get_state(capture->pendingStart) == PA_OPERATION_RUNNING)
            pa_operation_cancel(capture->pendingStart);
        pa_operation_unref(capture->pendingStart);
    }
    pa_stream_set_state_callback(capture->stream, nullptr, nullptr);
    pa_stream_set_read_callback(capture->stream, nullptr, nullptr);
    if (pa_stream_get_state(capture->stream) != PA_STREAM_UNCONNECTED) pa_stream_disconnect(capture->stream);
    pa_stream_unref(capture->stream);
    delete capture;
}

UINT CountDevices() {
    PulseLock lock;
    return ConnectPulse() == MMSYSERR_NOERROR ? 1 : 0;
}

MMRESULT Open(const WaveCaptureFormat& format, WaveInputPort* port, void** stream) {
    PulseLock lock;
    MMRESULT connected = ConnectPulse();
    if (connected != MMSYSERR_NOERROR) return connected;
    pa_sample_spec spec;
    spec.format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = format.samplesPerSecond;
    spec.channels = static_cast<uint8_t>(format.channels);

    auto* capture = new PulseCaptureStream;
    capture->stream = pa_stream_new(Pulse().context, "Pelomi capture", &spec, nullptr);
    if (!capture->stream) {
        delete capture;
        return MMSYSERR_NOMEM;
    }
    pa_stream_set_state_callback(capture->stream, OnStreamState, capture);
    pa_stream_set_read_callback(capture->stream, OnReadable, capture);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
    // Corked from the start: nothing is recorded before waveInStart. Small fragments keep the delay short.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(capture->stream, nullptr, &attr, flags) < 0 ||
        !WaitForPulse(StreamSettled, capture, kPulseAnswerTimeout) ||
        pa_stream_get_state(capture->stream) != PA_STREAM_READY) {
        // A server that is still there but could not give us a stream has no source to offer.
        bool serverAlive = pa_context_get_state(Pulse().context) == PA_CONTEXT_READY;
        Release(capture);
        return serverAlive ? MMSYSERR_BADDEVICEID : MMSYSERR_NODRIVER;
    }
    capture->port = port;
    *stream = capture;
    return MMSYSERR_NOERROR;
}

MMRESULT Start(void* stream) {
    PulseLock lock;
    auto* capture = static_cast<PulseCaptureStream*>(stream);
    if (capture->lost || pa_stream_get_state(capture->stream) != PA_STREAM_READY) return MMSYSERR_NODRIVER;
    capture->wanted = true;
    // Whatever the server still holds for us was captured before now: flushed, then the stream uncorked.
    pa_operation* flush = pa_stream_flush(capture->stream, nullptr, nullptr);
    if (flush) pa_operation_unref(flush);
    pa_operation* uncork = pa_stream_cork(capture->stream, 0, OnStartConfirmed, capture);
    if (!uncork) return MMSYSERR_NODRIVER;
    if (capture->pendingStart) pa_operation_unref(capture->pendingStart);
    capture->pendingStart = uncork;
    ++capture->startsSent;
    return MMSYSERR_NOERROR;
}

void Stop(void* stream) {
    PulseLock lock;
    auto* capture = static_cast<PulseCaptureStream*>(stream);
    capture->wanted = false;
    capture->delivering = false;
    if (capture->lost || pa_stream_get_state(capture->stream) != PA_STREAM_READY) return;
    pa_operation* cork = pa_stream_cork(capture->stream, 1, nullptr, nullptr);
    if (cork) pa_operation_unref(cork);
}

void Close(void* stream) {
    PulseLock lock;
    Release(static_cast<PulseCaptureStream*>(stream));
}

const WaveDevice kPulseWaveDevice = {"pulseaudio", CountDevices, Open, Start, Stop, Close};

}  // namespace

void UsePulseWaveDevice() { SetWaveDevice(&kPulseWaveDevice); }

}  // namespace w32
