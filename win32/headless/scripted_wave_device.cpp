// The scripted wave-input device: streams that receive exactly the bytes a test feeds them while started.
// Leaves out timing and formats: every format is accepted and bytes are passed on as given.
#include "headless/scripted_wave_device.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "wave/wave_device.h"

namespace w32 {
namespace {

struct ScriptedStream {
    WaveInputPort* port = nullptr;
    bool started = false;
};

struct ScriptedWaveState {
    // Held while delivering, so that once Stop or Close has taken it no delivery is still under way.
    std::mutex lock;
    std::vector<std::unique_ptr<ScriptedStream>> streams;
    std::deque<std::vector<uint8_t>> immediate;
    MMRESULT failResult = MMSYSERR_NOERROR;
    int failCount = 0;
    std::function<void()> onOpen;
    ScriptedWaveCounts counts;
};

ScriptedWaveState& State() {
    static ScriptedWaveState* state = new ScriptedWaveState;  // never destroyed: devices may close during exit
    return *state;
}

UINT CountDevices() { return 1; }

MMRESULT Open(const WaveCaptureFormat&, WaveInputPort* port, void** stream) {
    ScriptedWaveState& state = State();
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.failCount > 0) {
            --state.failCount;
            ++state.counts.failedOpens;
            return state.failResult;
        }
        auto created = std::make_unique<ScriptedStream>();
        created->port = port;
        *stream = created.get();
        state.streams.push_back(std::move(created));
        ++state.counts.opens;
        hook = state.onOpen;
    }
    if (hook) hook();  // test code: never under our lock
    return MMSYSERR_NOERROR;
}

MMRESULT Start(void* stream) {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto* scripted = static_cast<ScriptedStream*>(stream);
    scripted->started = true;
    ++state.counts.starts;
    if (!state.immediate.empty()) {
        std::vector<uint8_t> chunk = std::move(state.immediate.front());
        state.immediate.pop_front();
        WaveInputCaptured(scripted->port, chunk.data(), chunk.size());
    }
    return MMSYSERR_NOERROR;
}

void Stop(void* stream) {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    static_cast<ScriptedStream*>(stream)->started = false;
    ++state.counts.stops;
}

void Close(void* stream) {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto& streams = state.streams;
    streams.erase(std::remove_if(streams.begin(), streams.end(),
                                 [stream](const std::unique_ptr<ScriptedStream>& s) { return s.get() == stream; }),
                  streams.end());
    ++state.counts.closes;
}

const WaveDevice kScriptedWaveDevice = {"scripted", CountDevices, Open, Start, Stop, Close};

}  // namespace

const WaveDevice* ScriptedWaveDevice::Backend() { return &kScriptedWaveDevice; }

void ScriptedWaveDevice::Reset() {
    ScriptedWaveState& state = State();
    std::function<void()> oldHook;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.immediate.clear();
        state.failResult = MMSYSERR_NOERROR;
        state.failCount = 0;
        oldHook.swap(state.onOpen);  // destroyed outside the lock: it may own test objects
        state.counts = ScriptedWaveCounts{};
    }
}

void ScriptedWaveDevice::FailOpens(MMRESULT result, int count) {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.failResult = result;
    state.failCount = count;
}

void ScriptedWaveDevice::QueueImmediate(std::vector<uint8_t> bytes) {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.immediate.push_back(std::move(bytes));
}

bool ScriptedWaveDevice::Feed(const void* bytes, size_t count) {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    bool delivered = false;
    for (auto& stream : state.streams) {
        if (!stream->started) continue;
        WaveInputCaptured(stream->port, static_cast<const uint8_t*>(bytes), count);
        delivered = true;
    }
    return delivered;
}

void ScriptedWaveDevice::LoseSource() {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    for (auto& stream : state.streams) {
        stream->started = false;
        WaveInputLost(stream->port);
    }
}

void ScriptedWaveDevice::OnOpen(std::function<void()> hook) {
    ScriptedWaveState& state = State();
    std::function<void()> oldHook;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        oldHook.swap(state.onOpen);
        state.onOpen = std::move(hook);
    }
}

ScriptedWaveCounts ScriptedWaveDevice::Counts() {
    ScriptedWaveState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ScriptedWaveCounts counts = state.counts;
    counts.openStreams = static_cast<int>(state.streams.size());
    counts.startedStreams = static_cast<int>(
        std::count_if(state.streams.begin(), state.streams.end(), [](const auto& s) { return s->started; }));
    return counts;
}

}  // namespace w32
