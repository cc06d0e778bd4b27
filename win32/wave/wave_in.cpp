// winmm wave input over the capture core: device handles, the header queue and its flags, the return codes
// and the MM_WIM_* notifications. Leaves out wave output, waveInGetDevCaps, waveInGetPosition and the
// CALLBACK_FUNCTION, CALLBACK_THREAD and CALLBACK_EVENT kinds (MMSYSERR_NOTSUPPORTED).
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/backend_install.h"
#include "base/handle_table.h"
#include "wave/wave_capture.h"

namespace w32 {

struct WaveInputPort {
    std::mutex lock;  // guards everything below; the core takes it under the backend's lock
    HWAVEIN handle = nullptr;
    HWND notify = nullptr;       // null: CALLBACK_NULL, nothing is posted
    std::deque<WAVEHDR*> queue;  // added and not yet returned, oldest first
};

namespace {

struct WaveInDevice : HandleObject {
    static constexpr HandleKind Kind = HandleKind::WaveIn;
    WaveInDevice() : HandleObject(Kind) {}
    ~WaveInDevice() override {
        if (listener) CloseWaveListener(listener);
    }
    WaveListener* listener = nullptr;
    bool started = false;  // read and written only by the thread making the wave calls
    WaveInputPort port;
};

std::atomic<const WaveBackend*> installedDevice{nullptr};

// Notifications wait in one queue, in the order they were made, until no lock is held: a program woken by a
// DATA calls straight back into the wave layer, and would otherwise sleep again on the lock the capture
// thread still holds. One queue keeps the order Windows keeps: OPEN, DATA..., CLOSE. A wave call posts
// everything queued as it returns; a backend, after its reports (WaveReportsDone), only the run of its own
// at the front: the rest is the wave call's to post on the program's own thread, which wakes nobody.
struct PendingPost {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id from;
};
struct Outbox {
    std::mutex lock;
    std::deque<PendingPost> posts;
    std::atomic<bool> any{false};  // posts queued, or a wave call handing them (some may be the caller's)
    bool handing = false;          // a thread is posting them
    bool handingOwn = false;       // ... and it is a backend, which hands only its own
    std::condition_variable handed;
};

Outbox& Pending() {
    static Outbox* outbox = new Outbox;  // never destroyed: devices may still close while the process ends
    return *outbox;
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Outbox& outbox = Pending();
    std::lock_guard<std::mutex> guard(outbox.lock);
    outbox.posts.push_back({window, message, wParam, lParam, std::this_thread::get_id()});
    outbox.any = true;
}

// One thread at a time, in order, so that two cannot interleave them; outside the queue's lock, for the
// thread woken may come straight back to add more. A wave call returns with its notifications posted, as
// Windows posts them inside the call: should another thread be posting, it waits for it, unless that is
// the sound thread handing its own with nothing queued behind. The call then has nothing to post, and the
// program's thread, just woken by that DATA, would only sleep again until the sound thread is done.
void PostPending(bool onlyOwn) {
    Outbox& outbox = Pending();
    if (!outbox.any) return;
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(outbox.lock);
    if (onlyOwn && outbox.handing) return;
    outbox.handed.wait(guard, [&outbox] { return !outbox.handing || (outbox.handingOwn && outbox.posts.empty()); });
    if (outbox.handing) return;
    outbox.handing = true;
    outbox.handingOwn = onlyOwn;
    while (!outbox.posts.empty() && (!onlyOwn || outbox.posts.front().from == me)) {
        const PendingPost post = outbox.posts.front();
        outbox.posts.pop_front();
        outbox.any = !onlyOwn || !outbox.posts.empty();
        guard.unlock();
        PostMessageA(post.window, post.message, post.wParam, post.lParam);
        guard.lock();
    }
    outbox.any = !outbox.posts.empty();
    outbox.handing = false;
    outbox.handed.notify_all();
}

// Made with the port's lock held, so that a DATA from the capture thread can never be queued behind the
// CLOSE that follows it.
void Notify(WaveInputPort& port, UINT message, LPARAM lParam) {
    if (port.notify) Post(port.notify, message, reinterpret_cast<WPARAM>(port.handle), lParam);
}

// Returned means done, out of the queue, and announced. Caller holds the port's lock.
void ReturnOldest(WaveInputPort& port) {
    WAVEHDR* header = port.queue.front();
    port.queue.pop_front();
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_INQUEUE)) | WHDR_DONE;
    Notify(port, MM_WIM_DATA, reinterpret_cast<LPARAM>(header));
}

void ReturnAll(WaveInputPort& port) {
    while (!port.queue.empty()) ReturnOldest(port);
}

// Plain PCM only, 1 or 2 channels of 8 or 16 bits at 1 000 to 192 000 samples per second, with the
// derived fields consistent (our choice; Windows' mapper would also convert other forms).
bool ReadFormat(const WAVEFORMATEX& format, WaveCaptureFormat* capture) {
    if (format.wFormatTag != WAVE_FORMAT_PCM) return false;
    if (format.nChannels != 1 && format.nChannels != 2) return false;
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) return false;
    if (format.nSamplesPerSec < 1000 || format.nSamplesPerSec > 192000) return false;
    DWORD blockAlign = format.nChannels * format.wBitsPerSample / 8u;
    if (format.nBlockAlign != blockAlign || format.nAvgBytesPerSec != format.nSamplesPerSec * blockAlign)
        return false;
    capture->samplesPerSecond = format.nSamplesPerSec;
    capture->channels = format.nChannels;
    capture->bitsPerSample = format.wBitsPerSample;
    return true;
}

// Our record layout is the one the size must cover; smaller sizes are refused.
bool ValidHeaderArgument(const WAVEHDR* header, UINT size) {
    return header != nullptr && size >= sizeof(WAVEHDR);
}

// The default of a backend's optional member.
void IgnoreReading(uint64_t) {}

}  // namespace

bool InstallWaveBackend(WaveBackend& backend) {
    if (!HasRequiredMembers("sound", backend.name,
                            {{"Lock", backend.Lock != nullptr}, {"Unlock", backend.Unlock != nullptr},
                             {"Now", backend.Now != nullptr}, {"FragmentUsec", backend.FragmentUsec != nullptr},
                             {"Wait", backend.Wait != nullptr}, {"Connect", backend.Connect != nullptr},
                             {"Disconnect", backend.Disconnect != nullptr},
                             {"OpenStream", backend.OpenStream != nullptr},
                             {"CloseStream", backend.CloseStream != nullptr},
                             {"StreamNow", backend.StreamNow != nullptr}, {"SetTimer", backend.SetTimer != nullptr}}))
        return false;
    if (!backend.DeferReading) backend.DeferReading = IgnoreReading;
    ForgetWaveServer(&backend);
    installedDevice.store(&backend);
    return true;
}

uint8_t* WaveInputSpace(WaveInputPort* port, size_t* room) {
    std::lock_guard<std::mutex> guard(port->lock);
    *room = 0;
    if (port->queue.empty()) return nullptr;
    WAVEHDR* header = port->queue.front();
    *room = header->dwBufferLength - header->dwBytesRecorded;
    return reinterpret_cast<uint8_t*>(header->lpData) + header->dwBytesRecorded;
}

bool WaveInputFilled(WaveInputPort* port, size_t count) {
    std::lock_guard<std::mutex> guard(port->lock);
    if (port->queue.empty()) return false;
    WAVEHDR* header = port->queue.front();
    header->dwBytesRecorded += static_cast<DWORD>(count);
    if (header->dwBytesRecorded < header->dwBufferLength) return false;
    ReturnOldest(*port);
    return true;
}

void WaveReportsDone() { PostPending(true); }
void PostAllPending() { PostPending(false); }

size_t WaveInputRoom(WaveInputPort* port) {
    std::lock_guard<std::mutex> guard(port->lock);
    if (port->queue.empty()) return 0;
    const WAVEHDR* header = port->queue.front();
    return header->dwBufferLength - header->dwBytesRecorded;
}

void WaveInputPaused(WaveInputPort* port) {
    std::lock_guard<std::mutex> guard(port->lock);
    ReturnAll(*port);
}

}  // namespace w32

using w32::WaveInDevice;

namespace {

void StopDevice(WaveInDevice& opened) {
    w32::StopWaveListener(opened.listener);
    opened.started = false;
}

// Our choice: without a sound backend there is no driver, and the program is told so once on stderr.
const w32::WaveBackend* InstalledDevice() {
    const w32::WaveBackend* backend = w32::installedDevice.load();
    static std::atomic<bool> said{false};
    if (backend == nullptr) w32::SayNotInstalled(said, "sound backend", "waveInOpen gives MMSYSERR_NODRIVER");
    return backend;
}

}  // namespace

// Our choice: with a sound backend, the default source is one device, there or awaited (opens wait for it).
extern "C" UINT WINAPI waveInGetNumDevs(void) { return InstalledDevice() != nullptr ? 1 : 0; }

// Our choice: on failure *device is left as it was. Device 0 and WAVE_MAPPER both name the default source.
extern "C" MMRESULT WINAPI waveInOpen(LPHWAVEIN device, UINT deviceId, LPCWAVEFORMATEX format,
                                      DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    (void)instance;  // only the callback kinds that would receive it use it
    DWORD callbackKind = flags & CALLBACK_TYPEMASK;
    if (callbackKind == CALLBACK_FUNCTION || callbackKind == CALLBACK_THREAD || callbackKind == CALLBACK_EVENT)
        return MMSYSERR_NOTSUPPORTED;
    if (callbackKind != CALLBACK_NULL && callbackKind != CALLBACK_WINDOW) return MMSYSERR_INVALFLAG;
    // WAVE_ALLOWSYNC, WAVE_MAPPED and WAVE_FORMAT_DIRECT change nothing with a single device.
    constexpr DWORD knownFlags =
        CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC | WAVE_MAPPED | WAVE_FORMAT_DIRECT;
    if (flags & ~knownFlags) return MMSYSERR_INVALFLAG;
    bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    if (format == nullptr || (device == nullptr && !query)) return MMSYSERR_INVALPARAM;
    HWND window = callbackKind == CALLBACK_WINDOW ? reinterpret_cast<HWND>(callback) : nullptr;
    if (window != nullptr && !IsWindow(window)) return MMSYSERR_INVALPARAM;
    if (deviceId != WAVE_MAPPER && deviceId != 0) return MMSYSERR_BADDEVICEID;
    w32::WaveCaptureFormat capture;
    if (!w32::ReadFormat(*format, &capture)) return WAVERR_BADFORMAT;

    const w32::WaveBackend* backend = InstalledDevice();
    if (backend == nullptr) return MMSYSERR_NODRIVER;
    auto object = std::make_unique<WaveInDevice>();
    object->port.notify = query ? nullptr : window;
    object->listener = w32::OpenWaveListener(backend, capture, &object->port);
    if (query) return MMSYSERR_NOERROR;  // the object closes the trial listener as it goes

    WaveInDevice* opened = object.get();
    auto handle = w32::InsertAs<HWAVEIN>(std::move(object));
    if (handle == nullptr) return MMSYSERR_NOMEM;  // the table destroyed the object, closing its listener
    {
        std::lock_guard<std::mutex> guard(opened->port.lock);
        opened->port.handle = handle;
        w32::Notify(opened->port, MM_WIM_OPEN, 0);
    }
    *device = handle;
    w32::PostAllPending();
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveInClose(HWAVEIN device) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> guard(opened->port.lock);
        if (!opened->port.queue.empty()) return WAVERR_STILLPLAYING;
    }
    if (opened->started) StopDevice(*opened);
    w32::CloseWaveListener(opened->listener);
    opened->listener = nullptr;
    HWND notify = opened->port.notify;
    w32::RemoveHandle(device, WaveInDevice::Kind);
    // Every DATA was queued before the queue was seen empty, so CLOSE comes last.
    if (notify != nullptr) w32::Post(notify, MM_WIM_CLOSE, reinterpret_cast<WPARAM>(device), 0);
    w32::PostAllPending();
    return MMSYSERR_NOERROR;
}

// Our choice: an already prepared header (queued ones included) is accepted again with no effect; a header
// without data or with length 0 is refused.
extern "C" MMRESULT WINAPI waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT size) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (!w32::ValidHeaderArgument(header, size) || header->lpData == nullptr || header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(opened->port.lock);
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT size) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (!w32::ValidHeaderArgument(header, size)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(opened->port.lock);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

// Our choice: adding a buffer that is already queued fails with WAVERR_STILLPLAYING.
extern "C" MMRESULT WINAPI waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT size) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (!w32::ValidHeaderArgument(header, size)) return MMSYSERR_INVALPARAM;
    {
        std::lock_guard<std::mutex> guard(opened->port.lock);
        if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        opened->port.queue.push_back(header);
    }
    if (opened->started) w32::WaveBufferAdded(opened->listener);
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveInStart(HWAVEIN device) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (opened->started) return MMSYSERR_NOERROR;
    opened->started = true;
    w32::StartWaveListener(opened->listener);
    return MMSYSERR_NOERROR;
}

// Windows returns the buffer being filled and keeps the empty ones queued. Our choice: a buffer that has
// received nothing yet counts as empty and stays queued.
extern "C" MMRESULT WINAPI waveInStop(HWAVEIN device) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (!opened->started) return MMSYSERR_NOERROR;
    StopDevice(*opened);
    {
        std::lock_guard<std::mutex> guard(opened->port.lock);
        if (!opened->port.queue.empty() && opened->port.queue.front()->dwBytesRecorded > 0)
            w32::ReturnOldest(opened->port);
    }
    w32::PostAllPending();
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveInReset(HWAVEIN device) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (opened->started) StopDevice(*opened);
    {
        std::lock_guard<std::mutex> guard(opened->port.lock);
        w32::ReturnAll(opened->port);
    }
    w32::PostAllPending();
    return MMSYSERR_NOERROR;
}
