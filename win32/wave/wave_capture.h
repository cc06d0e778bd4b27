// Inside the wave layer: the capture core's calls for wave_in.cpp, and the header queue's calls for the core.
// Leaves out everything a backend sees (wave_device.h).
#ifndef PELOMI_WIN32_WAVE_CAPTURE_H
#define PELOMI_WIN32_WAVE_CAPTURE_H

#include "wave/wave_device.h"

namespace w32 {

// The core's record of one open device.
struct WaveListener;

// Within kAnswerTimeout in all: the device never fails, it waits for a server and a microphone that are
// not there yet.
WaveListener* OpenWaveListener(const WaveBackend* backend, const WaveCaptureFormat& format, WaveInputPort* port);
void StartWaveListener(WaveListener* listener);
// When it returns, nothing more is written into the port's buffers until the next start.
void StopWaveListener(WaveListener* listener);
// A buffer was queued on a started device.
void WaveBufferAdded(WaveListener* listener);
void CloseWaveListener(WaveListener* listener);
// On installing a backend (again): gives back the streams no device holds and, with no device open, forgets
// what it heard and told, so that the backend starts afresh.
void ForgetWaveServer(const WaveBackend* backend);

// The header queue, for the core (under the backend's lock; they take the port's own lock). The free part of
// the oldest queued buffer (null with none queued), written by the core in place: a queued buffer leaves
// the queue only under the backend's lock, or once its device is stopped.
uint8_t* WaveInputSpace(WaveInputPort* port, size_t* room);
// `count` bytes more of the oldest buffer were written; true when that filled it, and it went back.
bool WaveInputFilled(WaveInputPort* port, size_t count);
// Bytes the oldest queued buffer still takes; 0 with none queued.
size_t WaveInputRoom(WaveInputPort* port);
// The server went away: every queued buffer comes back with what it holds.
void WaveInputPaused(WaveInputPort* port);

// Source frames (`sourceChannels` interleaved 16-bit samples each) in the device's format: the channels'
// average for mono, as PulseAudio mixes down; the source's two channels, or its average twice, for stereo.
void ConvertCapturedFrames(const int16_t* samples, size_t frames, uint16_t sourceChannels,
                           const WaveCaptureFormat& format, uint8_t* out);

}  // namespace w32

#endif
