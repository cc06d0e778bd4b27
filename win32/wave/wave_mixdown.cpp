// Sound in the device's format from the source's own layout: the wave layer mixes channels down itself, so
// that a level never depends on how the sound server would have mixed them (PipeWire scales a stereo
// down-mix up, PulseAudio averages). Leaves out rate conversion: the stream already has the device's rate.
#include "wave/wave_capture.h"

namespace w32 {

namespace {

int Average(const int16_t* frame, uint16_t channels) {
    int sum = 0;
    for (uint16_t channel = 0; channel < channels; ++channel) sum += frame[channel];
    return sum / channels;
}

// 16 to 8 bits as PulseAudio converts: the high byte, offset to unsigned.
void Put(int sample, uint16_t bits, uint8_t*& out) {
    if (bits == 8) {
        *out++ = static_cast<uint8_t>((sample >> 8) + 128);
    } else {
        const auto word = static_cast<uint16_t>(static_cast<int16_t>(sample));
        *out++ = static_cast<uint8_t>(word & 0xFF);
        *out++ = static_cast<uint8_t>(word >> 8);
    }
}

}  // namespace

void ConvertCapturedFrames(const int16_t* samples, size_t frames, uint16_t sourceChannels,
                           const WaveCaptureFormat& format, uint8_t* out) {
    for (size_t i = 0; i < frames; ++i, samples += sourceChannels) {
        if (format.channels == 2 && sourceChannels == 2) {
            Put(samples[0], format.bitsPerSample, out);
            Put(samples[1], format.bitsPerSample, out);
            continue;
        }
        const int mixed = Average(samples, sourceChannels);
        for (uint16_t channel = 0; channel < format.channels; ++channel) Put(mixed, format.bitsPerSample, out);
    }
}

}  // namespace w32
