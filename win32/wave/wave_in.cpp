// winmm wave input over the capture core: device handles, the header queue and its flags, the return codes
// and the MM_WIM_* notifications. Leaves out wave output, waveInGetDevCaps, waveInGetPosition and the
// CALLBACK_FUNCTION, CALLBACK_THREAD and CALLBACK_EVENT kinds (MMSYSERR_NOTSUPPORTED).
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
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
    const WaveBackend* backend = nullptr;  // the one it was opened with
    WaveListener* listener = nullptr;
    bool started = false;  // read and written only by the thread making the wave calls
    WaveInputPort port;
};

std::atomic<const WaveBackend*> installedDevice{nullptr};

// Posted with the port's lock held, so that a DATA from the capture thread can never be overtaken by the
// CLOSE that follows it: Windows keeps the order OPEN, DATA..., CLOSE.
void Notify(WaveInputPort& port, UINT message, LPARAM lParam) {
    if (port.notify) PostMessageA(port.notify, message, reinterpret_cast<WPARAM>(port.handle), lParam);
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

// The defaults of a backend's optional members.
void IgnoreReading(uint64_t) {}
void IgnoreDevice(WaveDeviceEvent) {}

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
    if (!backend.DeviceChanged) backend.DeviceChanged = IgnoreDevice;
    ForgetWaveServer(&backend);
    installedDevice.store(&backend);
    return true;
}

size_t WaveInputCaptured(WaveInputPort* port, const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> guard(port->lock);
    size_t taken = 0;
    while (count > 0 && !port->queue.empty()) {
        WAVEHDR* header = port->queue.front();
        size_t room = header->dwBufferLength - header->dwBytesRecorded;
        size_t part = count < room ? count : room;
        std::memcpy(header->lpData + header->dwBytesRecorded, bytes, part);
        header->dwBytesRecorded += static_cast<DWORD>(part);
        bytes += part;
        count -= part;
        taken += part;
        if (header->dwBytesRecorded == header->dwBufferLength) ReturnOldest(*port);
    }
    return taken;
}

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
    opened.backend->DeviceChanged(w32::WaveDeviceEvent::Stopped);
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
    object->backend = backend;
    object->port.notify = query ? nullptr : window;
    object->listener = w32::OpenWaveListener(backend, capture, &object->port);
    if (query) return MMSYSERR_NOERROR;  // the object closes the trial listener as it goes

    WaveInDevice* opened = object.get();
    auto handle = w32::InsertAs<HWAVEIN>(std::move(object));
    if (handle == nullptr) return MMSYSERR_NOMEM;  // the table destroyed the object, closing its listener
    backend->DeviceChanged(w32::WaveDeviceEvent::Opened);
    {
        std::lock_guard<std::mutex> guard(opened->port.lock);
        opened->port.handle = handle;
        w32::Notify(opened->port, MM_WIM_OPEN, 0);
    }
    *device = handle;
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
    const w32::WaveBackend* backend = opened->backend;
    HWND notify = opened->port.notify;
    w32::RemoveHandle(device, WaveInDevice::Kind);
    backend->DeviceChanged(w32::WaveDeviceEvent::Closed);
    // Every DATA was posted before the queue was seen empty, so CLOSE comes last.
    if (notify != nullptr) PostMessageA(notify, MM_WIM_CLOSE, reinterpret_cast<WPARAM>(device), 0);
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
    opened->backend->DeviceChanged(w32::WaveDeviceEvent::Started);
    return MMSYSERR_NOERROR;
}

// Windows returns the buffer being filled and keeps the empty ones queued. Our choice: a buffer that has
// received nothing yet counts as empty and stays queued.
extern "C" MMRESULT WINAPI waveInStop(HWAVEIN device) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (!opened->started) return MMSYSERR_NOERROR;
    StopDevice(*opened);
    std::lock_guard<std::mutex> guard(opened->port.lock);
    if (!opened->port.queue.empty() && opened->port.queue.front()->dwBytesRecorded > 0)
        w32::ReturnOldest(opened->port);
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveInReset(HWAVEIN device) {
    auto* opened = w32::Lookup<WaveInDevice>(device);
    if (opened == nullptr) return MMSYSERR_INVALHANDLE;
    if (opened->started) StopDevice(*opened);
    std::lock_guard<std::mutex> guard(opened->port.lock);
    w32::ReturnAll(opened->port);
    return MMSYSERR_NOERROR;
}
