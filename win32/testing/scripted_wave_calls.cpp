// The scripted microphone's record of devices: every test program is linked with the wave calls below
// wrapped (--wrap, win32/testing/CMakeLists.txt), so that counting opens, starts, stops and closes, and
// running a test's hook at them, takes nothing from the sound contract the real backend implements.
// [x] waveInOpen, waveInStart, waveInStop, waveInReset, waveInClose, as their results say they happened
// [ ] calls made inside the wave layer itself (none stop or close a device the program holds)
#include <windows.h>
#include <mmsystem.h>

#include <mutex>
#include <set>
#include <utility>

#include "testing/scripted_wave_calls.h"

namespace w32 {
namespace {

// Under a lock of their own: a hook may make wave calls again.
struct CallRecord {
    std::mutex lock;
    ScriptedWaveCounts counts;
    std::set<HWAVEIN> started;
    std::function<void()> onOpen, onStart;
};

CallRecord& Calls() {
    static auto* record = new CallRecord;  // never destroyed: devices may close during exit
    return *record;
}

void SetHook(std::function<void()> CallRecord::*which, std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(Calls().lock);
    std::swap(Calls().*which, hook);  // the old one is destroyed outside the lock: it may own test objects
}

void Run(std::function<void()> CallRecord::*which) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(Calls().lock);
        hook = Calls().*which;
    }
    if (hook) hook();
}

// A started device stopped, by waveInStop, waveInReset or waveInClose. Caller holds the record's lock.
void Stopped(CallRecord& record, HWAVEIN device) {
    if (record.started.erase(device) == 0) return;
    ++record.counts.stops;
    --record.counts.startedStreams;
}

// What waveInStop or waveInReset gave back, counted.
MMRESULT CountStop(MMRESULT result, HWAVEIN device) {
    std::lock_guard<std::mutex> guard(Calls().lock);
    if (result == MMSYSERR_NOERROR) Stopped(Calls(), device);
    return result;
}

}  // namespace

void ResetWaveCallRecords() {
    {
        std::lock_guard<std::mutex> guard(Calls().lock);
        ScriptedWaveCounts& counts = Calls().counts;
        counts = ScriptedWaveCounts{0, 0, 0, 0, counts.openStreams, counts.startedStreams};
    }
    SetHook(&CallRecord::onOpen, nullptr);
    SetHook(&CallRecord::onStart, nullptr);
}

ScriptedWaveCounts WaveCallCounts() {
    std::lock_guard<std::mutex> guard(Calls().lock);
    return Calls().counts;
}

void RunAtOpen(std::function<void()> hook) { SetHook(&CallRecord::onOpen, std::move(hook)); }
void RunAtStart(std::function<void()> hook) { SetHook(&CallRecord::onStart, std::move(hook)); }

}  // namespace w32

using w32::Calls;

extern "C" {

MMRESULT WINAPI __real_waveInOpen(LPHWAVEIN, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD);
MMRESULT WINAPI __real_waveInStart(HWAVEIN);
MMRESULT WINAPI __real_waveInStop(HWAVEIN);
MMRESULT WINAPI __real_waveInReset(HWAVEIN);
MMRESULT WINAPI __real_waveInClose(HWAVEIN);

MMRESULT WINAPI __wrap_waveInOpen(LPHWAVEIN device, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                                  DWORD_PTR instance, DWORD flags) {
    const MMRESULT result = __real_waveInOpen(device, deviceId, format, callback, instance, flags);
    if (result != MMSYSERR_NOERROR || (flags & WAVE_FORMAT_QUERY)) return result;
    {
        std::lock_guard<std::mutex> guard(Calls().lock);
        ++Calls().counts.opens;
        ++Calls().counts.openStreams;
    }
    w32::Run(&w32::CallRecord::onOpen);
    return result;
}

MMRESULT WINAPI __wrap_waveInStart(HWAVEIN device) {
    const MMRESULT result = __real_waveInStart(device);
    if (result != MMSYSERR_NOERROR) return result;
    {
        std::lock_guard<std::mutex> guard(Calls().lock);
        if (!Calls().started.insert(device).second) return result;  // started already
        ++Calls().counts.starts;
        ++Calls().counts.startedStreams;
    }
    w32::Run(&w32::CallRecord::onStart);
    return result;
}

MMRESULT WINAPI __wrap_waveInStop(HWAVEIN device) { return w32::CountStop(__real_waveInStop(device), device); }
MMRESULT WINAPI __wrap_waveInReset(HWAVEIN device) { return w32::CountStop(__real_waveInReset(device), device); }

MMRESULT WINAPI __wrap_waveInClose(HWAVEIN device) {
    const MMRESULT result = __real_waveInClose(device);
    if (result != MMSYSERR_NOERROR) return result;
    std::lock_guard<std::mutex> guard(Calls().lock);
    w32::Stopped(Calls(), device);
    ++Calls().counts.closes;
    --Calls().counts.openStreams;
    return result;
}

}  // extern "C"
