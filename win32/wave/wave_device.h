// The one internal interface between winmm's wave input and a capture backend (scripted, PulseAudio), and
// the calls a backend makes back when sound arrives. Leaves out sample conversion: backends deliver bytes
// already in the opened format.
#ifndef PELOMI_WIN32_WAVE_DEVICE_H
#define PELOMI_WIN32_WAVE_DEVICE_H

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstdint>

namespace w32 {

// The wave layer's side of one open device. Backends keep the pointer only between Open and Close and
// hand it back with every delivery.
struct WaveInputPort;

struct WaveCaptureFormat {
    uint32_t samplesPerSecond;
    uint16_t channels;
    uint16_t bitsPerSample;  // 8: unsigned bytes, 16: signed little-endian words
};

// A capture backend: a plain table of functions, every one called on the thread that makes the wave call
// and never while the layer holds a lock of its own. A backend delivers sound through WaveInputCaptured
// and WaveInputLost, from any thread, only between Start and the return of Stop or Close.
struct WaveDevice {
    const char* name;
    // Number of input devices waveInGetNumDevs reports: 1 when the backend can be reached, else 0.
    UINT (*CountDevices)();
    // Opens the default source in `format`, corked. MMSYSERR_NOERROR and *stream set, or the code
    // waveInOpen returns (MMSYSERR_NODRIVER: no server; MMSYSERR_BADDEVICEID: no source). Must answer
    // well under a second whatever the server does.
    MMRESULT (*Open)(const WaveCaptureFormat& format, WaveInputPort* port, void** stream);
    // Delivers sound captured from now on, never anything captured before this call.
    MMRESULT (*Start)(void* stream);
    // Stops delivering. When it returns, the backend makes no more calls for this stream until Start.
    void (*Stop)(void* stream);
    // Releases the stream. When it returns, the backend never touches `port` again.
    void (*Close)(void* stream);
};

// The backend that waveInOpen uses from now on; null puts back the scripted device, the default.
// Devices already open keep the backend they were opened with.
void SetWaveDevice(const WaveDevice* device);
const WaveDevice* CurrentWaveDevice();

// Backend to layer, from any thread: `count` bytes of captured sound go into the queued buffers in order;
// each buffer that fills is returned to the program. Bytes beyond the queued buffers are dropped, as
// Windows drops sound that finds no buffer. Returns how many bytes went into buffers.
size_t WaveInputCaptured(WaveInputPort* port, const uint8_t* bytes, size_t count);

// Backend to layer, from any thread: how many more bytes the oldest queued buffer takes before it is
// returned; 0 with none queued.
size_t WaveInputRoom(WaveInputPort* port);

// Backend to layer: the source is gone. Every queued buffer is returned with what it holds; from now on
// waveInAddBuffer and waveInStart fail with MMSYSERR_NODRIVER, while stop, reset and close still work.
void WaveInputLost(WaveInputPort* port);

}  // namespace w32

#endif
