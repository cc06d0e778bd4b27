// Installs the PulseAudio capture backend for waveInOpen (the default source of the user's sound server,
// PulseAudio or PipeWire's PulseAudio service). Leaves out choosing a source: the server's default is used.
#ifndef PELOMI_WIN32_PULSE_WAVE_DEVICE_H
#define PELOMI_WIN32_PULSE_WAVE_DEVICE_H

namespace w32 {

// Devices opened from now on record from the sound server; nothing connects until the first open.
void UsePulseWaveDevice();

}  // namespace w32

#endif
