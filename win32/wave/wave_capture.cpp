// The capture core: every timing rule of wave input, above the sound backends. One record stream per sample
// rate is shared by every device open at that rate and kept running between the program's opens; blocks are
// placed on the stream's own sample clock; reading waits until a block can fill; a stream nobody holds is
// given back after a second; a server that goes away is a pause, with reconnects at growing intervals.
// Leaves out resampling: the server records at the rate the device asked for.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "wave/wave_capture.h"

namespace w32 {

namespace {

constexpr uint64_t kAnswerTimeout = 400000;  // a server that does not answer must not freeze the window
constexpr uint64_t kIdleRelease = 1000000;   // the program's cycle reopens within milliseconds
constexpr uint64_t kFirstRetry = 50000;      // reconnects: 50 ms after the loss, then twice as long...
constexpr uint64_t kLongestRetry = 500000;   // ...up to half a second, so a server back is heard within 2 s
constexpr uint64_t kReadMargin = 10000;      // for a server clock a little ahead of ours, uneven pieces
constexpr uint64_t kLongestDeferral = 250000;
constexpr uint64_t kShortestHistory = 100000;  // sound kept for starts: at least this, and four fragments

enum class Link { Down, Connecting, Up };
enum class StreamState { Opening, Running, Waiting, Refused };

struct WaveCore {
    const WaveBackend* backend = nullptr;
    Link link = Link::Down;
    bool reached = false;  // a server answered once: from then on its absence is a pause
    uint64_t retryAt = 0, retryDelay = kFirstRetry;
    uint64_t timerAt = 0;  // when the backend's timer is set for (0: not set)
    std::vector<WaveStream*> streams;
    std::vector<uint8_t> converted;  // scratch for handing sound over
};

}  // namespace

struct WaveStream {
    WaveCore* core = nullptr;
    uint32_t rate = 0;
    StreamState state = StreamState::Waiting;
    uint16_t channels = 1;
    int pins = 0;  // an open waiting on the stream keeps it
    std::vector<WaveListener*> listeners;
    std::vector<int16_t> history;  // the sound of positions [historyStart, received)
    int64_t historyStart = 0, received = 0;
    int64_t lastEnd = -1;  // where the latest block to fill ended, and when it did
    uint64_t lastFilledAt = 0;
    // How far arriving sound trails the clock (the source's latency and the way here): the least seen
    // over the latest block, and over the block being filled.
    int64_t lag = 0, leastLag = -1;
    uint64_t idleSince = 0;
};

struct WaveListener {
    WaveStream* stream = nullptr;
    WaveInputPort* port = nullptr;
    WaveCaptureFormat format = {};
    bool started = false;
    bool placed = false;  // its buffer takes the stream from `next` on
    int64_t next = 0;
};

namespace {

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

class BackendLock {
public:
    explicit BackendLock(const WaveBackend& backend) : backend_(backend) { backend_.Lock(); }
    ~BackendLock() { backend_.Unlock(); }
    BackendLock(const BackendLock&) = delete;
    BackendLock& operator=(const BackendLock&) = delete;

private:
    const WaveBackend& backend_;
};

int64_t UsecToFrames(uint64_t usec, uint32_t rate) { return static_cast<int64_t>(usec * rate / 1000000); }
uint64_t FramesToUsec(int64_t frames, uint32_t rate) { return static_cast<uint64_t>(frames) * 1000000 / rate; }
size_t FrameBytes(const WaveCaptureFormat& format) { return format.channels * format.bitsPerSample / 8u; }

bool AnyListener(const WaveCore& core) {
    return std::any_of(core.streams.begin(), core.streams.end(),
                       [](const WaveStream* stream) { return !stream->listeners.empty(); });
}

template <class Done>
bool WaitUntil(WaveCore& core, Done done) {
    const uint64_t end = core.backend->Now() + kAnswerTimeout;
    while (!done()) {
        if (core.backend->Now() >= end) return false;
        core.backend->Wait(end);
    }
    return true;
}

// The backend's one timer serves the reconnects and the idle releases. It is only ever brought forward:
// moving it at every close would wake the backend twice a block; when it goes off early it looks again.
void Rearm(WaveCore& core) {
    uint64_t due = core.retryAt;
    for (const WaveStream* stream : core.streams)
        if (stream->listeners.empty() && stream->pins == 0 && (due == 0 || stream->idleSince + kIdleRelease < due))
            due = stream->idleSince + kIdleRelease;
    if (due == 0 || (core.timerAt != 0 && core.timerAt <= due)) return;
    core.timerAt = due;
    core.backend->SetTimer(due);
}

void ScheduleRetry(WaveCore& core) {
    if (!core.reached || core.retryAt != 0 || !AnyListener(core)) return;
    core.retryAt = core.backend->Now() + core.retryDelay;
    Rearm(core);
}

void OpenBackendStream(WaveStream& stream) {
    stream.state = StreamState::Opening;
    stream.core->backend->OpenStream(&stream, stream.rate);
}

void Release(WaveStream* stream) {
    WaveCore& core = *stream->core;
    if (stream->state != StreamState::Waiting) core.backend->CloseStream(stream);
    core.streams.erase(std::remove(core.streams.begin(), core.streams.end(), stream), core.streams.end());
    delete stream;
}

void ForgetSound(WaveStream& stream) {
    stream.history.clear();
    stream.historyStart = stream.received = 0;
    stream.lastEnd = -1;
    stream.lag = 0;
    stream.leastLag = -1;
}

// Hands the listener's buffers what the history holds from its position on; a filled block marks where the
// next one continues.
void HandOver(WaveListener& listener) {
    WaveStream& stream = *listener.stream;
    WaveCore& core = *stream.core;
    if (listener.next < stream.historyStart) listener.next = stream.historyStart;
    if (!listener.placed || listener.next >= stream.received) return;
    const size_t frames = static_cast<size_t>(stream.received - listener.next);
    const size_t frameBytes = FrameBytes(listener.format);
    core.converted.resize(frames * frameBytes);
    ConvertCapturedFrames(&stream.history[(listener.next - stream.historyStart) * stream.channels], frames,
                          stream.channels, listener.format, core.converted.data());
    const size_t taken = WaveInputCaptured(listener.port, core.converted.data(), core.converted.size());
    listener.next += static_cast<int64_t>(taken / frameBytes);
    if (WaveInputRoom(listener.port) == 0) {
        listener.placed = false;
        stream.lastEnd = listener.next;
        stream.lastFilledAt = core.backend->Now();
        if (stream.leastLag >= 0) stream.lag = stream.leastLag;
        stream.leastLag = -1;
    }
}

// Where a block begins, on the stream's clock. A start that comes within a fragment of the previous block
// filling continues exactly where that block ended, so that blocks tile the stream and keep its pace; a
// later one begins one fragment before the sound being captured now (no backlog, however long the program
// stalled), and never repeats sound the previous block held.
void Place(WaveListener& listener) {
    WaveStream& stream = *listener.stream;
    const WaveBackend& backend = *stream.core->backend;
    if (!listener.started || listener.placed || stream.state != StreamState::Running ||
        WaveInputRoom(listener.port) == 0)
        return;
    int64_t now = stream.received;
    backend.StreamNow(&stream, &now);
    int64_t start = now - UsecToFrames(backend.FragmentUsec(), stream.rate);
    if (stream.lastEnd >= 0)
        start = backend.Now() - stream.lastFilledAt < backend.FragmentUsec() ? stream.lastEnd
                                                                             : std::max(start, stream.lastEnd);
    listener.next = std::max(start, stream.historyStart);
    listener.placed = true;
    HandOver(listener);
}

// Reading can wait until the stream's clock reaches the end of the first block that can fill, plus the lag
// of arriving sound: the piece holding its last frame cannot come before that frame was captured and made
// its way here. Meanwhile pieces stay with the server and many are read in one wake-up. With nothing
// placed, everything is read as it comes.
void UpdateReading(WaveCore& core) {
    const WaveBackend& backend = *core.backend;
    const uint64_t now = backend.Now();
    uint64_t until = 0;
    bool any = false;
    for (WaveStream* stream : core.streams) {
        if (stream->state != StreamState::Running) continue;
        for (const WaveListener* listener : stream->listeners) {
            if (!listener->started || !listener->placed) continue;
            int64_t clock = 0;
            if (!backend.StreamNow(stream, &clock)) {
                backend.DeferReading(0);
                return;
            }
            const int64_t end =
                listener->next + static_cast<int64_t>(WaveInputRoom(listener->port) / FrameBytes(listener->format));
            const int64_t ahead = end + stream->lag - clock;
            const uint64_t at = now + (ahead > 0 ? FramesToUsec(ahead, stream->rate) : 0);
            until = any ? std::min(until, at) : at;
            any = true;
        }
    }
    until = any && until > now + kReadMargin ? std::min(until - kReadMargin, now + kLongestDeferral) : 0;
    backend.DeferReading(until);
}

// Keeps what came in the history, gaps as silence, so that positions map onto it directly.
void Append(WaveStream& stream, int64_t position, const int16_t* samples, size_t frames) {
    const int64_t capacity = UsecToFrames(
        std::max<uint64_t>(kShortestHistory, 4 * stream.core->backend->FragmentUsec()), stream.rate);
    int64_t end = position + static_cast<int64_t>(frames);
    if (end <= stream.received) return;  // already had it
    if (position - stream.received > capacity) {
        stream.history.clear();
        stream.historyStart = stream.received = position;
    }
    const int64_t from = std::max(position, stream.received);
    stream.history.resize(static_cast<size_t>(end - stream.historyStart) * stream.channels, 0);
    if (samples)
        std::memcpy(&stream.history[(from - stream.historyStart) * stream.channels],
                    samples + (from - position) * stream.channels,
                    static_cast<size_t>(end - from) * stream.channels * sizeof(int16_t));
    stream.received = end;
}

void Trim(WaveStream& stream) {
    const int64_t capacity = UsecToFrames(
        std::max<uint64_t>(kShortestHistory, 4 * stream.core->backend->FragmentUsec()), stream.rate);
    const int64_t drop = stream.received - stream.historyStart - capacity;
    if (drop <= 0) return;
    stream.history.erase(stream.history.begin(), stream.history.begin() + drop * stream.channels);
    stream.historyStart += drop;
}

// The server is away: streams wait for it, started devices that were recording get their buffers back with
// what they hold (ones started since wait on).
void Pause(WaveCore& core) {
    for (WaveStream* stream : std::vector<WaveStream*>(core.streams)) {
        const bool recording = stream->state == StreamState::Running;
        if (stream->state != StreamState::Waiting) core.backend->CloseStream(stream);
        stream->state = StreamState::Waiting;
        ForgetSound(*stream);
        for (WaveListener* listener : stream->listeners) {
            listener->placed = false;
            if (listener->started && recording) WaveInputPaused(listener->port);
        }
        if (stream->listeners.empty() && stream->pins == 0) Release(stream);
    }
}

void Retry(WaveCore& core) {
    if (!AnyListener(core)) return;
    if (core.link == Link::Down) {
        core.link = Link::Connecting;
        core.backend->Connect();
        return;
    }
    for (WaveStream* stream : std::vector<WaveStream*>(core.streams))
        if (core.link == Link::Up && stream->state == StreamState::Waiting && !stream->listeners.empty())
            OpenBackendStream(*stream);
}

}  // namespace

void WaveServerAnswered(const WaveBackend& backend) {
    WaveCore& core = CoreOf(backend);
    core.link = Link::Up;
    core.reached = true;
    core.retryDelay = kFirstRetry;
    core.retryAt = 0;
    Retry(core);
}

void WaveServerGone(const WaveBackend& backend) {
    WaveCore& core = CoreOf(backend);
    if (core.link == Link::Down) return;  // told already, by the connection and by its streams
    core.retryDelay = core.link == Link::Up ? kFirstRetry : std::min(2 * core.retryDelay, kLongestRetry);
    core.link = Link::Down;
    core.retryAt = 0;
    Pause(core);
    ScheduleRetry(core);
}

void WaveStreamReady(WaveStream* stream, uint16_t channels) {
    stream->state = StreamState::Running;
    stream->channels = channels;
    ForgetSound(*stream);
    for (WaveListener* listener : stream->listeners) Place(*listener);
    UpdateReading(*stream->core);
}

// Our choice: a server with no source, once it had one, is a pause too; the stream is asked for again.
void WaveStreamRefused(WaveStream* stream) {
    WaveCore& core = *stream->core;
    core.backend->CloseStream(stream);
    stream->state = StreamState::Refused;
    core.retryDelay = std::min(2 * core.retryDelay, kLongestRetry);
    ScheduleRetry(core);
}

bool WaveSoundCaptured(WaveStream* stream, int64_t position, const int16_t* samples, size_t frames) {
    if (stream->state != StreamState::Running) return false;
    Append(*stream, position, samples, frames);
    int64_t clock = 0;
    if (stream->core->backend->StreamNow(stream, &clock)) {
        const int64_t lag = std::max<int64_t>(0, clock - stream->received);
        stream->leastLag = stream->leastLag < 0 ? lag : std::min(stream->leastLag, lag);
    }
    bool listening = false;
    for (WaveListener* listener : stream->listeners) {
        listening |= listener->started;
        if (listener->started) HandOver(*listener);
    }
    Trim(*stream);
    UpdateReading(*stream->core);
    return listening;
}

void WaveTimerDue(const WaveBackend& backend) {
    WaveCore& core = CoreOf(backend);
    core.timerAt = 0;
    const uint64_t now = backend.Now();
    for (WaveStream* stream : std::vector<WaveStream*>(core.streams))
        if (stream->listeners.empty() && stream->pins == 0 && now >= stream->idleSince + kIdleRelease)
            Release(stream);
    if (core.retryAt != 0 && now >= core.retryAt) {
        core.retryAt = 0;
        for (WaveStream* stream : core.streams)
            if (stream->state == StreamState::Refused) stream->state = StreamState::Waiting;
        Retry(core);
    }
    Rearm(core);
}

// Under the lock, held once (a backend's Wait lets go of it once): whether the server has been reached,
// trying once more when it never was.
static bool Reach(WaveCore& core) {
    if (core.reached) return true;
    if (core.link == Link::Down) {
        core.link = Link::Connecting;
        core.backend->Connect();
    }
    WaitUntil(core, [&] { return core.link != Link::Connecting; });
    return core.link == Link::Up;
}

UINT CountWaveSources(const WaveBackend* backend) {
    WaveCore& core = CoreOf(*backend);
    BackendLock guard(*backend);
    return Reach(core) ? 1 : 0;
}

MMRESULT OpenWaveListener(const WaveBackend* backend, const WaveCaptureFormat& format, WaveInputPort* port,
                          WaveListener** opened) {
    WaveCore& core = CoreOf(*backend);
    BackendLock guard(*backend);
    if (!Reach(core)) {
        if (core.link == Link::Connecting) backend->Disconnect();
        core.link = Link::Down;
        return MMSYSERR_NODRIVER;
    }
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
    WaitUntil(core, [&] { return stream->state != StreamState::Opening; });
    --stream->pins;
    if (stream->state == StreamState::Refused && stream->listeners.empty()) {
        Release(stream);
        return MMSYSERR_BADDEVICEID;
    }
    auto* listener = new WaveListener;
    listener->stream = stream;
    listener->port = port;
    listener->format = format;
    stream->listeners.push_back(listener);
    if (core.link != Link::Up || stream->state != StreamState::Running) ScheduleRetry(core);
    *opened = listener;
    return MMSYSERR_NOERROR;
}

void StartWaveListener(WaveListener* listener) {
    const WaveBackend& backend = *listener->stream->core->backend;
    BackendLock guard(backend);
    listener->started = true;
    Place(*listener);
    UpdateReading(*listener->stream->core);
}

void StopWaveListener(WaveListener* listener) {
    const WaveBackend& backend = *listener->stream->core->backend;
    BackendLock guard(backend);
    listener->started = listener->placed = false;
    UpdateReading(*listener->stream->core);
}

void WaveBufferAdded(WaveListener* listener) {
    const WaveBackend& backend = *listener->stream->core->backend;
    BackendLock guard(backend);
    Place(*listener);
    UpdateReading(*listener->stream->core);
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
        if (stream->state == StreamState::Running || stream->state == StreamState::Opening)
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
    core.reached = false;
    core.retryAt = 0;
    core.retryDelay = kFirstRetry;
}

}  // namespace w32
