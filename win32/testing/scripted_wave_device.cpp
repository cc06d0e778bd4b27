// The tests' scripted sound backend: a pretend server under the capture core that answers every call at once.
// [x] connect, refuse, stall, go away and come back on demand   [x] sound fed as it comes, or timed by a clock
// [x] deferred reading and the core's timer on scripted time   [x] sources moved, stopped and back
// [ ] a real server (see pulse/)
#include "testing/scripted_wave_device.h"

#include "testing/scripted_wave_calls.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>

#include "wave/wave_capture.h"

namespace w32 {
namespace {

struct ScriptedRecord {
    WaveStream* owner = nullptr;
    uint32_t rate = 0;
    uint64_t openedAt = 0;
    int64_t position = 0;  // delivered so far
};

struct ScriptedServer {
    std::recursive_mutex lock;
    uint64_t now = 1000000;
    bool up = true, connected = false;
    bool sourceGone = false;  // new streams are refused
    bool stalled = false, connectPending = false;
    std::vector<ScriptedRecord> records, pending;  // streams recording; asked for while stalled
    std::deque<std::vector<uint8_t>> immediate;
    uint64_t fragmentUsec = 0;  // 0: sound only when fed
    int64_t latencyUsec = 0;    // from capture to arrival; below 0, sound runs ahead of the clock
    uint16_t channels = 1;
    std::function<int16_t(int64_t, int)> sound;
    uint64_t deferUntil = 0, timerAt = 0;
    int turns = 0, timerExpiries = 0;
    std::vector<uint64_t> connects, streams;
};

ScriptedServer& Server() {
    static auto* server = new ScriptedServer;  // never destroyed: devices may close during exit
    return *server;
}

// The server's lock for a scripted event; its reports' notifications are posted once it is released, as
// the real backend's loop does.
class Hold {
public:
    explicit Hold(std::recursive_mutex& lock) : lock_(lock) { lock_.lock(); }
    ~Hold() {
        lock_.unlock();
        WaveReportsDone();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    std::recursive_mutex& lock_;
};

WaveBackend& ScriptedWaveBackend();

ScriptedRecord* Find(WaveStream* stream) {
    for (ScriptedRecord& record : Server().records)
        if (record.owner == stream) return &record;
    return nullptr;
}

void Lock() { Server().lock.lock(); }
void Unlock() { Server().lock.unlock(); }
uint64_t Now() { return Server().now; }
uint64_t FragmentUsec() { return Server().fragmentUsec; }

void AnswerConnect() {
    ScriptedServer& server = Server();
    server.connected = server.up;
    if (server.connected)
        WaveServerAnswered(ScriptedWaveBackend());
    else
        WaveServerGone(ScriptedWaveBackend());
}

void Connect() {
    ScriptedServer& server = Server();
    server.connects.push_back(server.now);
    server.connectPending = server.stalled;
    if (!server.stalled) AnswerConnect();
}

void Disconnect() { Server().connected = Server().connectPending = false; }

void AnswerStream(WaveStream* stream, uint32_t rate) {
    ScriptedServer& server = Server();
    if (server.sourceGone) {
        WaveStreamRefused(stream);
        return;
    }
    server.records.push_back({stream, rate, server.now, 0});
    WaveStreamReady(stream, server.channels);
}

void OpenStream(WaveStream* stream, uint32_t rate) {
    ScriptedServer& server = Server();
    server.streams.push_back(server.now);
    if (server.stalled)
        server.pending.push_back({stream, rate, server.now, 0});
    else
        AnswerStream(stream, rate);
}

void CloseStream(WaveStream* stream) {
    for (auto* records : {&Server().records, &Server().pending})
        records->erase(std::remove_if(records->begin(), records->end(),
                                      [stream](const ScriptedRecord& record) { return record.owner == stream; }),
                       records->end());
}

// Fed sound is captured as it is fed; timed sound as the clock runs.
bool StreamNow(WaveStream* stream, int64_t* position) {
    const ScriptedRecord* record = Find(stream);
    if (record == nullptr) return false;
    const ScriptedServer& server = Server();
    *position = server.sound ? static_cast<int64_t>((server.now - record->openedAt) * record->rate / 1000000)
                             : record->position;
    return true;
}

void DeferReading(uint64_t until) { Server().deferUntil = until; }
void SetTimer(uint64_t at) { Server().timerAt = at; }

// When the next timed piece of any stream is complete, or 0 with none.
uint64_t NextPieceAt() {
    const ScriptedServer& server = Server();
    uint64_t next = 0;
    for (const ScriptedRecord& record : server.records) {
        const int64_t frames = static_cast<int64_t>(server.fragmentUsec * record.rate / 1000000);
        const int64_t completes = ((record.position + frames) * 1000000 + record.rate - 1) / record.rate;
        const uint64_t at = record.openedAt + static_cast<uint64_t>(std::max<int64_t>(0, completes + server.latencyUsec));
        if (next == 0 || at < next) next = at;
    }
    return next;
}

// One turn of reading: every timed piece complete by now, each stream in order.
void ReadPieces() {
    ScriptedServer& server = Server();
    bool any = false;
    for (size_t i = 0; i < server.records.size(); ++i) {
        for (;;) {
            ScriptedRecord& record = server.records[i];
            const int64_t frames = static_cast<int64_t>(server.fragmentUsec * record.rate / 1000000);
            const int64_t captured = static_cast<int64_t>(server.now - record.openedAt) - server.latencyUsec;
            const int64_t arrived = std::max<int64_t>(0, captured) * record.rate / 1000000;
            if (record.position + frames > arrived) break;
            std::vector<int16_t> piece(static_cast<size_t>(frames) * server.channels);
            for (int64_t frame = 0; frame < frames; ++frame)
                for (int channel = 0; channel < server.channels; ++channel)
                    piece[frame * server.channels + channel] = server.sound(record.position + frame, channel);
            const int64_t position = record.position;
            record.position += frames;
            any = true;
            WaveSoundCaptured(record.owner, position, piece.data(), static_cast<size_t>(frames));
            if (i >= server.records.size() || server.records[i].owner != record.owner) break;
        }
    }
    server.turns += any;
}

// Scripted time up to `until`, in order: the timer, and pieces read when they are complete and reading is
// no longer deferred.
void RunUntil(uint64_t until) {
    ScriptedServer& server = Server();
    for (;;) {
        uint64_t piece = server.sound ? NextPieceAt() : 0;
        if (piece != 0 && server.deferUntil > piece) piece = server.deferUntil;
        uint64_t next = piece;
        if (server.timerAt != 0 && (next == 0 || server.timerAt < next)) next = server.timerAt;
        if (next == 0 || next > until) break;
        server.now = std::max(server.now, next);
        if (server.timerAt != 0 && server.timerAt <= server.now) {
            server.timerAt = 0;
            ++server.timerExpiries;
            WaveTimerDue(ScriptedWaveBackend());
        }
        if (piece != 0 && piece <= server.now) ReadPieces();
    }
    server.now = std::max(server.now, until);
}

void Wait(uint64_t until) { RunUntil(until); }

WaveBackend MakeScriptedBackend() {
    WaveBackend backend{};
    backend.name = "scripted";
    backend.Lock = Lock;
    backend.Unlock = Unlock;
    backend.Now = Now;
    backend.FragmentUsec = FragmentUsec;
    backend.Wait = Wait;
    backend.Connect = Connect;
    backend.Disconnect = Disconnect;
    backend.OpenStream = OpenStream;
    backend.CloseStream = CloseStream;
    backend.StreamNow = StreamNow;
    backend.DeferReading = DeferReading;
    backend.SetTimer = SetTimer;
    return backend;
}

WaveBackend& ScriptedWaveBackend() {
    static WaveBackend backend = MakeScriptedBackend();
    return backend;
}

void DeliverImmediate() {
    std::vector<uint8_t> chunk;
    {
        Hold hold(Server().lock);
        if (Server().immediate.empty()) return;
        chunk = std::move(Server().immediate.front());
        Server().immediate.pop_front();
    }
    ScriptedWaveDevice::Feed(chunk);
}

}  // namespace

void ScriptedWaveDevice::Reset() {
    InstallWaveBackend(ScriptedWaveBackend());
    ResetWaveCallRecords();
    ScriptedServer& server = Server();
    Hold hold(server.lock);
    server.immediate.clear();
    server.up = true;
    server.sourceGone = server.stalled = server.connectPending = false;
    server.pending.clear();
    server.fragmentUsec = server.latencyUsec = 0;
    server.channels = 1;
    server.sound = nullptr;
    server.turns = server.timerExpiries = 0;
    server.connects.clear();
    server.streams.clear();
}

void ScriptedWaveDevice::QueueImmediate(std::vector<uint8_t> bytes) {
    Hold hold(Server().lock);
    Server().immediate.push_back(std::move(bytes));
    RunAtStart(DeliverImmediate);
}

bool ScriptedWaveDevice::Feed(const void* bytes, size_t count) {
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>((static_cast<const uint8_t*>(bytes)[i] - 128) * 256);
    ScriptedServer& server = Server();
    Hold hold(server.lock);
    bool delivered = false;
    for (size_t i = 0; i < server.records.size(); ++i) {
        const int64_t position = server.records[i].position;
        server.records[i].position += static_cast<int64_t>(count);
        delivered |= WaveSoundCaptured(server.records[i].owner, position, samples.data(), count);
    }
    return delivered;
}

void ScriptedWaveDevice::LoseSource() {
    Hold hold(Server().lock);
    Server().connected = false;
    WaveServerGone(ScriptedWaveBackend());
    // Scripted time runs on to the reconnect, without sound.
    for (int waited = 0; Server().up && !Server().connected && waited < 1000; ++waited) RunUntil(Server().now + 1000);
}

void UseScriptedWaveDevice() { ScriptedWaveDevice::Reset(); }

void ScriptedWaveDevice::OnOpen(std::function<void()> hook) { RunAtOpen(std::move(hook)); }

ScriptedWaveCounts ScriptedWaveDevice::Counts() { return WaveCallCounts(); }

void ScriptedWaveDevice::CaptureWithClock(uint64_t fragmentUsec, int64_t latencyUsec, uint16_t channels,
                                          std::function<int16_t(int64_t, int)> sound) {
    Hold hold(Server().lock);
    Server().fragmentUsec = fragmentUsec;
    Server().latencyUsec = latencyUsec;
    Server().channels = channels;
    Server().sound = std::move(sound);
}

void ScriptedWaveDevice::Advance(uint64_t usec) {
    Hold hold(Server().lock);
    RunUntil(Server().now + usec);
}

uint64_t ScriptedWaveDevice::Now() {
    Hold hold(Server().lock);
    return Server().now;
}

uint64_t ScriptedWaveDevice::ReadingDeferredUntil() {
    Hold hold(Server().lock);
    return Server().deferUntil;
}

int ScriptedWaveDevice::ReadingTurns() {
    Hold hold(Server().lock);
    return Server().turns;
}

int ScriptedWaveDevice::TimerExpiries() {
    Hold hold(Server().lock);
    return Server().timerExpiries;
}

int ScriptedWaveDevice::RecordStreams() {
    Hold hold(Server().lock);
    return static_cast<int>(Server().records.size());
}

// The core closes and opens streams in answer: it is told about each of a copy of the list.
template <class Report>
void ReportEveryStream(Report report) {
    std::vector<WaveStream*> owners;
    for (const ScriptedRecord& record : Server().records) owners.push_back(record.owner);
    for (WaveStream* owner : owners) report(owner);
}

void ScriptedWaveDevice::MoveSource(uint16_t channels) {
    Hold hold(Server().lock);
    Server().channels = channels;
    ReportEveryStream(WaveStreamMoved);
}

void ScriptedWaveDevice::StopSource(bool suspended) {
    Hold hold(Server().lock);
    Server().sourceGone = !suspended;
    ReportEveryStream([suspended](WaveStream* owner) { WaveStreamStopped(owner, suspended); });
}

void ScriptedWaveDevice::ResumeSource() {
    Hold hold(Server().lock);
    Server().sourceGone = false;
    ReportEveryStream(WaveStreamMoved);
}

void ScriptedWaveDevice::ServerDown() {
    Hold hold(Server().lock);
    Server().up = false;
    Server().connected = false;
    WaveServerGone(ScriptedWaveBackend());
}

void ScriptedWaveDevice::ServerUp() {
    Hold hold(Server().lock);
    Server().up = true;
}

void ScriptedWaveDevice::ServerStalls() {
    Hold hold(Server().lock);
    Server().stalled = true;
}

void ScriptedWaveDevice::ServerContinues() {
    Hold hold(Server().lock);
    ScriptedServer& server = Server();
    server.stalled = false;
    if (server.connectPending) {
        server.connectPending = false;
        AnswerConnect();
    }
    const std::vector<ScriptedRecord> asked = std::move(server.pending);
    server.pending.clear();
    for (const ScriptedRecord& record : asked) AnswerStream(record.owner, record.rate);
}

std::vector<uint64_t> ScriptedWaveDevice::ConnectAttempts() {
    Hold hold(Server().lock);
    return Server().connects;
}

std::vector<uint64_t> ScriptedWaveDevice::StreamAttempts() {
    Hold hold(Server().lock);
    return Server().streams;
}

}  // namespace w32
