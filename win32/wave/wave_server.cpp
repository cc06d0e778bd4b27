// The capture core's server side: opening and closing devices on the shared streams, a stream nobody holds
// given back after a second, and the server's comings and goings. Our choice (Linux): a device never fails
// for want of a server or a microphone, where Windows' waveInOpen would fail for good: the program is
// started with the session, before the desktop's sound is ready. With no server, or no source, opens and
// starts succeed and their blocks wait; a server that goes away is a pause, and buffers being filled come
// back with what they hold. Connects and streams are asked for again at growing intervals (50 ms doubling
// to 500 ms: one timer, no thread, no busy loop) until one is there.
#include <errno.h>  // program_invocation_short_name

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "wave/wave_core.h"

namespace w32 {

void Tell(const char* news) { std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, news); }

namespace {

constexpr const char* kNoServer = "no sound server answers (PulseAudio or PipeWire); recording waits until one does";

bool AnyListener(const WaveCore& core) {
    return std::any_of(core.streams.begin(), core.streams.end(),
                       [](const WaveStream* stream) { return !stream->listeners.empty(); });
}

// Until the server has answered what was asked of it at `askedAt`, at most kAnswerTimeout after.
template <class Done>
void WaitUntil(WaveCore& core, uint64_t askedAt, Done done) {
    const uint64_t end = askedAt + kAnswerTimeout;
    while (!done() && core.backend->Now() < end) core.backend->Wait(end);
}

}  // namespace

// The backend's one timer serves the reconnects and the idle releases of streams that record nothing
// (opening, stopped). One that records is given back by the read of its sound once its release is due
// (UpdateReading has reading wait no longer than that): a timer armed at every close would go off once a
// second while the program opens a device a block. The timer is only ever brought forward; when it goes off
// early it looks again.
void Rearm(WaveCore& core) {
    const uint64_t now = core.backend->Now();
    uint64_t due = core.retryAt;
    for (const WaveStream* stream : core.streams) {
        if (!Unheld(*stream) || (stream->state == StreamState::Running && ReleaseDue(*stream) > now)) continue;
        if (due == 0 || ReleaseDue(*stream) < due) due = ReleaseDue(*stream);
    }
    if (due == 0 || (core.timerAt != 0 && core.timerAt <= due)) return;
    core.timerAt = due;
    core.backend->SetTimer(due);
}

namespace {

void ScheduleRetry(WaveCore& core) {
    if (core.retryAt != 0 || !AnyListener(core)) return;
    core.retryAt = core.backend->Now() + core.retryDelay;
    core.retryDelay = std::min(2 * core.retryDelay, kLongestRetry);  // for the attempt after, should this fail
    Rearm(core);
}

// Before recording first began, the user is told once why nothing moves yet.
void TellWaiting(WaveCore& core, const char* why) {
    if (core.recorded || core.toldWaiting) return;
    Tell(why);
    core.toldWaiting = true;
}

void Connect(WaveCore& core) {
    core.link = Link::Connecting;
    core.connectingSince = core.backend->Now();
    core.backend->Connect();
}

void OpenBackendStream(WaveStream& stream) {
    stream.state = StreamState::Opening;
    stream.openingSince = stream.core->backend->Now();
    stream.core->backend->OpenStream(&stream, stream.rate);
}

void Release(WaveStream* stream) {
    WaveCore& core = *stream->core;
    if (stream->state != StreamState::Waiting) core.backend->CloseStream(stream);
    core.streams.erase(std::remove(core.streams.begin(), core.streams.end(), stream), core.streams.end());
    delete stream;
}

// The server is away: streams wait for it, started devices that were recording get their buffers back with
// what they hold (ones started since wait on).
void Pause(WaveCore& core) {
    for (WaveStream* stream : std::vector<WaveStream*>(core.streams)) {
        Interrupt(*stream, true);
        if (stream->state != StreamState::Waiting) core.backend->CloseStream(stream);
        stream->state = StreamState::Waiting;
        if (Unheld(*stream)) Release(stream);
    }
}

void Retry(WaveCore& core) {
    if (!AnyListener(core)) return;
    if (core.link == Link::Down) {
        Connect(core);
        return;
    }
    for (WaveStream* stream : std::vector<WaveStream*>(core.streams))
        if (core.link == Link::Up && stream->state == StreamState::Waiting && !stream->listeners.empty())
            OpenBackendStream(*stream);
}

}  // namespace

WaveCore& CoreOf(const WaveBackend& backend) {
    static std::mutex lock;
    static auto* cores = new std::vector<WaveCore*>;  // never destroyed: devices may close during exit
    std::lock_guard<std::mutex> guard(lock);
    for (WaveCore* core : *cores)
        if (core->backend == &backend) return *core;
    cores->push_back(new WaveCore);
    cores->back()->backend = &backend;
    return *cores->back();
}

void WaveServerAnswered(const WaveBackend& backend) {
    WaveCore& core = CoreOf(backend);
    core.link = Link::Up;
    if (core.toldGone) Tell("the sound server is back; recording again");
    core.toldGone = false;
    core.retryDelay = kFirstRetry;
    core.retryAt = 0;
    Retry(core);
}

void WaveServerGone(const WaveBackend& backend) {
    WaveCore& core = CoreOf(backend);
    if (core.link == Link::Down) return;  // told already, by the connection and by its streams
    if (core.link == Link::Up && core.recorded && !core.toldGone) {
        Tell("the sound server went away; recording waits until it is back");
        core.toldGone = true;
        core.toldStopped = false;  // the server's return says it all
    }
    TellWaiting(core, kNoServer);
    if (core.link == Link::Up) core.retryDelay = kFirstRetry;
    core.link = Link::Down;
    core.retryAt = 0;
    Pause(core);
    ScheduleRetry(core);
}

// A server with no source is a pause too: the stream is asked for again.
void WaveStreamRefused(WaveStream* stream) {
    WaveCore& core = *stream->core;
    TellWaiting(core, "the sound server has no microphone; recording waits until there is one");
    core.backend->CloseStream(stream);
    stream->state = StreamState::Refused;
    ScheduleRetry(core);
}

// A move keeps every device recording: the stream is opened again at once and each device's buffer takes
// the new stream's sound from where it stopped, so that the user sees no pause and hears no news.
void WaveStreamMoved(WaveStream* stream) {
    WaveCore& core = *stream->core;
    if (stream->state == StreamState::Waiting || stream->state == StreamState::Refused) return;
    Interrupt(*stream, false);
    core.backend->CloseStream(stream);
    OpenBackendStream(*stream);
    Rearm(core);  // one nobody holds records nothing until it is ready
}

// Our choice: a source that stops while the server stays is a pause like the server's: buffers being filled
// come back with what they hold, and later blocks wait for a source that records.
void WaveStreamStopped(WaveStream* stream, bool stillOpen) {
    WaveCore& core = *stream->core;
    if (!core.toldStopped) Tell("the microphone stopped (suspended or removed); recording waits until it is back");
    core.toldStopped = true;
    Interrupt(*stream, true);
    if (stillOpen) {
        stream->state = StreamState::Stopped;
    } else {
        core.backend->CloseStream(stream);
        stream->state = StreamState::Refused;
        ScheduleRetry(core);
    }
    Rearm(core);
    UpdateReading(core);
}

void WaveTimerDue(const WaveBackend& backend) {
    WaveCore& core = CoreOf(backend);
    core.timerAt = 0;
    const uint64_t now = backend.Now();
    for (WaveStream* stream : std::vector<WaveStream*>(core.streams))
        if (Unheld(*stream) && now >= ReleaseDue(*stream))
            Release(stream);
    if (core.retryAt != 0 && now >= core.retryAt) {
        core.retryAt = 0;
        for (WaveStream* stream : core.streams)
            if (stream->state == StreamState::Refused) stream->state = StreamState::Waiting;
        Retry(core);
    }
    Rearm(core);
}

void TellRecording(WaveCore& core) {
    if (!core.recorded && core.toldWaiting) Tell("the sound server and a microphone are there; recording begins");
    if (core.toldStopped) Tell("the microphone records again");
    core.recorded = true;
    core.toldStopped = false;
    core.retryDelay = kFirstRetry;
}

// Waits (under the lock, held once: a backend's Wait lets go of it once) for the server's answers, at most
// kAnswerTimeout in all; whatever the answers, the device is opened and waits for what is missing.
WaveListener* OpenWaveListener(const WaveBackend* backend, const WaveCaptureFormat& format, WaveInputPort* port) {
    WaveCore& core = CoreOf(*backend);
    BackendLock guard(*backend);
    const uint64_t calledAt = backend->Now();
    if (core.link == Link::Down && core.retryAt == 0) Connect(core);  // else a reconnect is due anyway
    WaitUntil(core, std::min(calledAt, core.connectingSince), [&] { return core.link != Link::Connecting; });
    if (core.link == Link::Connecting) TellWaiting(core, kNoServer);
    WaveStream* stream = nullptr;
    for (WaveStream* candidate : core.streams)
        if (candidate->rate == format.samplesPerSecond) stream = candidate;
    if (stream == nullptr) {
        stream = new WaveStream;
        stream->core = &core;
        stream->rate = format.samplesPerSecond;
        core.streams.push_back(stream);
        if (core.link == Link::Up) OpenBackendStream(*stream);
    }
    ++stream->pins;
    WaitUntil(core, std::min(calledAt, stream->openingSince), [&] { return stream->state != StreamState::Opening; });
    --stream->pins;
    auto* listener = new WaveListener;
    listener->stream = stream;
    listener->port = port;
    listener->format = format;
    stream->listeners.push_back(listener);
    if (core.link != Link::Up || stream->state != StreamState::Running) ScheduleRetry(core);
    return listener;
}

void CloseWaveListener(WaveListener* listener) {
    WaveStream* stream = listener->stream;
    WaveCore& core = *stream->core;
    BackendLock guard(*core.backend);
    stream->listeners.erase(std::remove(stream->listeners.begin(), stream->listeners.end(), listener),
                            stream->listeners.end());
    delete listener;
    if (stream->listeners.empty()) {
        stream->idleSince = core.backend->Now();
        if (stream->state == StreamState::Running || stream->state == StreamState::Opening ||
            stream->state == StreamState::Stopped)
            Rearm(core);
        else if (stream->pins == 0)
            Release(stream);
    }
    UpdateReading(core);
}

void ForgetWaveServer(const WaveBackend* backend) {
    WaveCore& core = CoreOf(*backend);
    BackendLock guard(*backend);
    for (WaveStream* stream : std::vector<WaveStream*>(core.streams))
        if (stream->listeners.empty()) Release(stream);
    if (AnyListener(core)) return;
    backend->Disconnect();
    core.link = Link::Down;
    core.recorded = false;
    core.toldWaiting = core.toldGone = core.toldStopped = false;
    core.retryAt = 0;
    core.retryDelay = kFirstRetry;
}

}  // namespace w32
