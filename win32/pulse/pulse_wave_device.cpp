// The PulseAudio sound backend under the capture core (wave/wave_capture.cpp), for PulseAudio and PipeWire's
// PulseAudio service alike: one context on a main loop of our own (pulse_loop.cpp), record streams of the
// default source in its own channel layout, and the stream clock from the server's timing information.
// [x] connect without autospawn, report the server's comings and goings   [x] record, positions, timing
// [x] deferred reading, one timer   [x] follow the default source, or the source the user moved us to
// [x] report moves, suspensions and lost sources   [ ] a device list or volume (the desktop's settings do it)
#include "pulse/pulse_wave_device.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "pulse/pulse_loop.h"
#include "pulse/pulse_record.h"
#include "wave/wave_device.h"

namespace w32 {

namespace {
GMainContext* loopHost = nullptr;  // the main context the loop runs on; null: a thread of its own
}  // namespace

// Shared with the source-following part (pulse_source_choice.cpp).
PulseServer& Pulse() {
    static PulseServer* server = [] {
        auto* created = new PulseServer;  // never destroyed: devices may still close while the process ends
        created->loop = StartPulseLoop(WaveReportsDone, loopHost);
        return created;
    }();
    return *server;
}

PulseRecord* Find(WaveStream* owner) {
    for (PulseRecord* record : Pulse().records)
        if (record->owner == owner) return record;
    return nullptr;
}

PulseRecord* FindSerial(uint64_t serial) {
    for (PulseRecord* record : Pulse().records)
        if (record->serial == serial) return record;
    return nullptr;
}

void* Tag(const PulseRecord* record) { return reinterpret_cast<void*>(static_cast<uintptr_t>(record->serial)); }
PulseRecord* Tagged(void* userdata) { return FindSerial(reinterpret_cast<uintptr_t>(userdata)); }

namespace {

// Sound reaches us in pieces of 1/60 s. A longer piece would cost fewer wake-ups but lets a source run with
// a longer latency, which the server sets from it (PA_STREAM_ADJUST_LATENCY), or pipewire-pulse a longer
// quantum for the whole graph: pieces of a block (1/12 s) made the onset 30 ms later on an idle PipeWire
// desktop, for every program recording there. The core's deferred reading gathers a block's pieces into one
// wake-up instead. At rates divisible by 60 (44.1 and 48 kHz) a block of a whole number of pieces placed on
// a piece's boundary (wave_capture.cpp) ends with a piece. Rounded up: whole microseconds rounded down make
// a piece a frame short at some rates.
constexpr uint32_t kPiecesPerSecond = 60;
constexpr pa_usec_t kFragmentUsec = (PA_USEC_PER_SEC + kPiecesPerSecond - 1) / kPiecesPerSecond;

// The frames the wave core counts to a piece (kFragmentUsec at the rate, rounded down). PulseAudio takes the
// length through whole microseconds, rounding down there and back, and makes pieces a frame shorter than
// asked for: it is asked for one frame more. pipewire-pulse makes what is asked for.
uint32_t FragmentBytes(const pa_sample_spec& spec) {
    const auto frames = static_cast<uint32_t>(kFragmentUsec * spec.rate / PA_USEC_PER_SEC);
    return (frames + (Pulse().piecesFrameShort ? 1 : 0)) * static_cast<uint32_t>(pa_frame_size(&spec));
}

WaveBackend& PulseWaveBackend();

pa_mainloop_api* Api() { return PulseLoopApi(Pulse().loop); }

struct timeval WallClockAt(uint64_t at) {
    struct timeval deadline;
    const pa_usec_t now = pa_rtclock_now();
    pa_timeval_add(pa_gettimeofday(&deadline), at > now ? at - now : 0);
    return deadline;
}

void Lock() {
    if (Pulse().loop) LockPulseLoop(Pulse().loop);
}
void Unlock() {
    if (Pulse().loop) UnlockPulseLoop(Pulse().loop);
}
uint64_t Now() { return pa_rtclock_now(); }
uint64_t FragmentUsec() { return kFragmentUsec; }

void OnWaitOver(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) { SignalPulseLoop(Pulse().loop); }

void Wait(uint64_t until) {
    if (!Pulse().loop) return;
    const struct timeval deadline = WallClockAt(until);
    pa_time_event* timer = Api()->time_new(Api(), &deadline, OnWaitOver, nullptr);
    NudgePulseLoop(Pulse().loop);
    WaitForPulseLoop(Pulse().loop);
    Api()->time_free(timer);
}

void CloseStream(WaveStream* owner) {
    PulseRecord* record = Find(owner);
    if (!record) return;
    auto& records = Pulse().records;
    records.erase(std::remove(records.begin(), records.end(), record), records.end());
    pa_stream_set_state_callback(record->stream, nullptr, nullptr);
    pa_stream_set_read_callback(record->stream, nullptr, nullptr);
    pa_stream_set_moved_callback(record->stream, nullptr, nullptr);
    pa_stream_set_suspended_callback(record->stream, nullptr, nullptr);
    if (pa_stream_get_state(record->stream) == PA_STREAM_READY) pa_stream_disconnect(record->stream);
    pa_stream_unref(record->stream);
    delete record;
}

void Disconnect() {
    PulseServer& server = Pulse();
    while (!server.records.empty()) CloseStream(server.records.front()->owner);
    server.chosenSource.clear();  // the server keeps the user's choice for a new connection's stream
    if (!server.context) return;
    pa_context_set_state_callback(server.context, nullptr, nullptr);
    pa_context_set_subscribe_callback(server.context, nullptr, nullptr);
    pa_context_disconnect(server.context);
    pa_context_unref(server.context);
    server.context = nullptr;
}

// Reports are made from the loop's callbacks, which hold its lock; a wave call waiting for one is woken.
void OnServerInfo(pa_context*, const pa_server_info* info, void*) {
    Pulse().piecesFrameShort = info != nullptr && std::strcmp(info->server_name, "pulseaudio") == 0;
    WaveServerAnswered(PulseWaveBackend());
    SignalPulseLoop(Pulse().loop);
}

// The server is told to have answered once it has said which it is (see FragmentBytes).
void OnContextState(pa_context* context, void*) {
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        WatchDefaultSource(context);
        if (pa_operation* operation = pa_context_get_server_info(context, OnServerInfo, nullptr))
            pa_operation_unref(operation);
        else
            WaveServerAnswered(PulseWaveBackend());
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        pa_context_set_state_callback(context, nullptr, nullptr);  // freed by the next connect
        WaveServerGone(PulseWaveBackend());
    }
    SignalPulseLoop(Pulse().loop);
}

void Connect() {
    PulseServer& server = Pulse();
    Disconnect();
    // What sound settings show the program as, and what the server's memory of a user's choice of
    // microphone for it is keyed on: the desktop entry's name.
    if (server.loop) {
        pa_proplist* names = pa_proplist_new();
        pa_proplist_sets(names, PA_PROP_APPLICATION_NAME, "Pelomi");
        pa_proplist_sets(names, PA_PROP_APPLICATION_ID, "pelomi");
        pa_proplist_sets(names, PA_PROP_APPLICATION_ICON_NAME, "pelomi");
        server.context = pa_context_new_with_proplist(Api(), "Pelomi", names);
        pa_proplist_free(names);
    }
    if (!server.context) {
        WaveServerGone(PulseWaveBackend());
        return;
    }
    pa_context_set_state_callback(server.context, OnContextState, nullptr);
    // No autospawn: with no server running an open must fail at once, not start a daemon.
    if (pa_context_connect(server.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        pa_context_set_state_callback(server.context, nullptr, nullptr);
        WaveServerGone(PulseWaveBackend());
    }
}

// Counted only once a bench or test has asked for the counters: a piece costs nothing more before.
void Count(const PulseRecord& record, size_t frames) {
    PulseCaptureCounters& counters = Pulse().counters;
    ++counters.pieces;
    counters.bytes += frames * record.frameBytes;
    counters.latestArrival = std::chrono::steady_clock::now();
    const uint64_t asked = kFragmentUsec * record.rate / PA_USEC_PER_SEC;
    if (frames == asked) ++counters.wholePieces;
    if (frames > asked) ++counters.longerPieces;
}

void OnReadable(pa_stream* stream, size_t, void* userdata) {
    auto* record = static_cast<PulseRecord*>(userdata);
    WaveStream* owner = record->owner;
    const void* data;
    size_t size;
    while (pa_stream_peek(stream, &data, &size) == 0 && size > 0) {
        if (record->moved) {  // in a layout it was not opened in: left for the stream opened anew
            pa_stream_drop(stream);
            continue;
        }
        const size_t frames = size / record->frameBytes;
        if (Pulse().counting) Count(*record, frames);
        const int64_t position = record->position;
        record->position += static_cast<int64_t>(frames);
        WaveSoundCaptured(owner, position, static_cast<const int16_t*>(data), frames);
        if (Find(owner) != record) return;  // the core closed the stream meanwhile (never today)
        pa_stream_drop(stream);
    }
}

// The stream's clock is the server's timing information, interpolated in between. libpulse's automatic
// updates would cost a timer and an answer every 1.5 s, a wake-up each: the clock is asked for instead when
// reading is about to be deferred after a block, so that the answer may come while the block is drawn, and
// whenever it is missing. The deferral waits for the answer: read late, it would make the clock late by as
// much. Every 10 s is enough: the capture core compares the clock only with itself within a block or two
// (the lag of arriving sound, then the block's due time), and the interpolation drifts by well under a
// millisecond meanwhile.
constexpr uint64_t kTimingInterval = 10000000;

bool TimingAsked() {
    for (const PulseRecord* record : Pulse().records)
        if (record->timingAsked) return true;
    return false;
}

void ApplyDeferral() {
    if (Pulse().loop) DeferPulseReading(Pulse().loop, TimingAsked() ? 0 : Pulse().deferral);
}

void OnTiming(pa_stream*, int, void* userdata) {
    if (PulseRecord* record = Tagged(userdata)) record->timingAsked = false;
    ApplyDeferral();
}

void AskForTiming(PulseRecord& record) {
    if (record.timingAsked || !record.ready) return;
    pa_operation* operation = pa_stream_update_timing_info(record.stream, OnTiming, Tag(&record));
    if (operation == nullptr) return;
    pa_operation_unref(operation);
    record.timingAsked = true;
    record.timingAskedAt = pa_rtclock_now();
}

// The pieces were asked for before the source's layout was known (see OpenStream): now it is, ask again
// when the server's answer is far off.
void AskForFragments(pa_stream* stream, const pa_sample_spec& spec) {
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream);
    const uint32_t wanted = FragmentBytes(spec);
    if (!granted || (granted->fragsize < 2 * wanted && 2 * granted->fragsize > wanted)) return;
    pa_buffer_attr attr = *granted;
    attr.fragsize = wanted;
    if (pa_operation* operation = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr))
        pa_operation_unref(operation);
}

void OpenStream(WaveStream* owner, uint32_t rate);

// A stream that fails before it was ready had no source to be given (the one the user chose is gone: the
// default then); one that fails later lost its source with none to move it to, or its server.
void OnStreamState(pa_stream* stream, void* userdata) {
    auto* record = static_cast<PulseRecord*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    const bool serverAlive = Pulse().context && pa_context_get_state(Pulse().context) == PA_CONTEXT_READY;
    if (state == PA_STREAM_READY) {
        record->ready = true;
        if (const char* device = pa_stream_get_device_name(stream)) record->device = device;
        const pa_sample_spec* spec = pa_stream_get_sample_spec(stream);
        record->frameBytes = pa_frame_size(spec);
        AskForFragments(stream, *spec);
        AskForTiming(*record);
        // A source suspended for being idle says so at first, and resumes for us at once.
        WaveStreamReady(record->owner, spec->channels);
        CheckLayout(record);
    } else if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && !serverAlive) {
        WaveServerGone(PulseWaveBackend());
    } else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        WaveStream* owner = record->owner;
        const bool wasChosen = !record->source.empty(), wasReady = record->ready;
        if (wasChosen && record->source == Pulse().chosenSource) Pulse().chosenSource.clear();
        if (wasReady) {
            WaveStreamStopped(owner, false);
        } else if (wasChosen) {
            const uint32_t rate = record->rate;
            CloseStream(owner);
            OpenStream(owner, rate);
        } else {
            WaveStreamRefused(owner);
        }
    }
    SignalPulseLoop(Pulse().loop);
}

void OpenStream(WaveStream* owner, uint32_t rate) {
    PulseServer& server = Pulse();
    // The channel count is the server's to fix (PA_STREAM_FIX_CHANNELS, which pipewire-pulse honours too):
    // the source's own layout, mixed down by the wave layer.
    const pa_sample_spec spec = {PA_SAMPLE_S16LE, rate, 1};
    pa_stream* stream = server.context ? pa_stream_new(server.context, "Pelomi capture", &spec, nullptr) : nullptr;
    if (!stream) {
        WaveStreamRefused(owner);
        return;
    }
    auto* record = new PulseRecord;
    record->owner = owner;
    record->stream = stream;
    record->rate = rate;
    record->serial = ++server.serials;
    record->relinked = server.relinking;
    record->source = server.chosenSource;
    server.records.push_back(record);
    pa_stream_set_state_callback(stream, OnStreamState, record);
    pa_stream_set_read_callback(stream, OnReadable, record);
    pa_stream_set_moved_callback(stream, OnMoved, record);
    pa_stream_set_suspended_callback(stream, OnSuspended, record);
    pa_buffer_attr attr;
    attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    // In the stream's final layout, which is not known yet: asked for as if stereo, so that a stereo source
    // gets its pieces (a mono one twice as long at most; the server rounds to what its source offers).
    const pa_sample_spec stereo = {PA_SAMPLE_S16LE, rate, 2};
    attr.fragsize = FragmentBytes(stereo);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_FIX_CHANNELS);
    const char* source = record->source.empty() ? nullptr : record->source.c_str();
    if (pa_stream_connect_record(stream, source, &attr, flags) < 0) {
        CloseStream(owner);
        WaveStreamRefused(owner);
    }
}

bool StreamNow(WaveStream* owner, int64_t* position) {
    PulseRecord* record = Find(owner);
    pa_usec_t time = 0;
    if (!record || !record->ready) return false;
    if (pa_stream_get_time(record->stream, &time) < 0) {
        AskForTiming(*record);
        return false;
    }
    *position = static_cast<int64_t>(time * record->rate / PA_USEC_PER_SEC);
    return true;
}

void DeferReading(uint64_t until) {
    PulseServer& server = Pulse();
    server.deferral = until;
    if (until != 0)
        for (PulseRecord* record : server.records)
            if (pa_rtclock_now() - record->timingAskedAt >= kTimingInterval) AskForTiming(*record);
    ApplyDeferral();
}

void OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) { WaveTimerDue(PulseWaveBackend()); }

void SetTimer(uint64_t at) {
    PulseServer& server = Pulse();
    if (!server.loop) return;
    const struct timeval deadline = WallClockAt(at);
    if (!server.timer)
        server.timer = Api()->time_new(Api(), at ? &deadline : nullptr, OnTimer, nullptr);
    else
        Api()->time_restart(server.timer, at ? &deadline : nullptr);
    NudgePulseLoop(server.loop);
}

WaveBackend& PulseWaveBackend() {
    static WaveBackend backend = [] {
        WaveBackend filled{};
        filled.name = "pulseaudio";
        filled.Lock = Lock;
        filled.Unlock = Unlock;
        filled.Now = Now;
        filled.FragmentUsec = FragmentUsec;
        filled.Wait = Wait;
        filled.Connect = Connect;
        filled.Disconnect = Disconnect;
        filled.OpenStream = OpenStream;
        filled.CloseStream = CloseStream;
        filled.StreamNow = StreamNow;
        filled.DeferReading = DeferReading;
        filled.SetTimer = SetTimer;
        return filled;
    }();
    return backend;
}

}  // namespace

void UsePulseWaveDevice() { InstallWaveBackend(PulseWaveBackend()); }

void UsePulseWaveDeviceOnThisThread() {
    loopHost = g_main_context_default();
    Pulse();  // the loop starts here, on this thread, whatever calls the backend first
    UsePulseWaveDevice();
}

PulseCaptureCounters ReadPulseCaptureCounters() {
    Lock();
    PulseServer& server = Pulse();
    server.counting = true;
    PulseCaptureCounters counters = server.counters;
    counters.fragmentUsec = kFragmentUsec;
    if (server.loop) counters.wakeups = PulseLoopWakeups(server.loop);
    counters.readingDeferred = server.loop && PulseReadingDeferredUntil(server.loop) > pa_rtclock_now();
    // The first stream's latency and clock as they are now.
    if (!server.records.empty() && server.records.front()->ready) {
        pa_stream* stream = server.records.front()->stream;
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &latency, &negative) == 0)
            counters.latencyUsec = negative ? -static_cast<int64_t>(latency) : static_cast<int64_t>(latency);
        int64_t clock = -1;
        counters.clockFrames = StreamNow(server.records.front()->owner, &clock) ? clock : -1;
    }
    Unlock();
    return counters;
}

}  // namespace w32
