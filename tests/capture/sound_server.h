// For the tests on a real sound server: the session's server (scripts/pulse-session), pactl, waits that
// pump the window thread's messages, levels, and the players and recorders that keep sound moving.
#ifndef PELOMI_TESTS_CAPTURE_SOUND_SERVER_H
#define PELOMI_TESTS_CAPTURE_SOUND_SERVER_H

#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <dirent.h>
#include <pulse/sample.h>
#include <pulse/simple.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "level.h"
#include "notification_window.h"
#include "pulse/pulse_wave_device.h"
#include "test_window.h"

namespace soundtest {

using Clock = std::chrono::steady_clock;
constexpr double kPi = 3.14159265358979323846;

inline bool HaveServer() { return std::getenv("PELOMI_PULSE_DIR") != nullptr; }

// Runs `command` and returns what it printed, the last newline cut.
inline std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char chunk[512];
        while (std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
        pclose(pipe);
    }
    if (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

// scripts/pulse-session `command` (down, up) on the session this test was started in.
inline void Session(const char* command) {
    std::string line = std::string(PELOMI_SOURCE_DIR) + "/scripts/pulse-session " + command;
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

// Pumps the thread's messages until `done` holds; false if it does not within `limit` (a bound on waiting
// for a broken device, not a measure of speed).
template <class Done>
inline bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    Clock::time_point end = Clock::now() + limit;
    for (;;) {
        testwin::PumpMessages();
        if (done()) return true;
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Until the server has delivered `ms` more milliseconds of sound (of a mono stream; less of a stereo one):
// for sound that must not reach a buffer to have had every chance to.
inline bool WaitForServerSound(int ms) {
    const uint64_t from = w32::ReadPulseCaptureCounters().bytes;
    return PumpUntil([&] { return w32::ReadPulseCaptureCounters().bytes >= from + 44100u * 2 * ms / 1000; });
}

// The record streams this program holds on the server, as the server lists them.
inline int ServerStreams() {
    std::string listing = Shell("pactl list source-outputs");
    int streams = 0;
    for (size_t at = 0; (at = listing.find("media.name = \"Pelomi capture\"", at)) != std::string::npos; ++at) ++streams;
    return streams;
}

inline int CountEntries(const char* directory) {
    int count = 0;
    if (DIR* listing = opendir(directory)) {
        while (readdir(listing)) ++count;
        closedir(listing);
    }
    return count;
}

inline int Level(const std::vector<char>& block) {
    return PeakLevel(reinterpret_cast<const uint8_t*>(block.data()), block.size());
}

// The peak of 16-bit sound, scaled to 8 bits as PeakLevel measures them.
inline int PeakLevel16(const std::vector<char>& buffer) {
    int peak = 0;
    for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
        int16_t sample;
        std::memcpy(&sample, &buffer[i], sizeof sample);
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return (peak + 128) / 256;
}

// Plays a 441 Hz sine of a chosen peak per channel into the default sink, without pause, from its own
// thread, asking for two seconds of buffering. A player given the server's default (paplay's: 145 ms on
// pipewire-pulse) runs dry whenever the server's protocol thread stalls longer, as it did for 690 ms on a
// busy machine, and the gap reads as silence; two seconds ride that out. The period is 100 samples, so the
// crest sample 25 is exactly 128 + amplitude.
class TonePlayer {
public:
    // Into `sink`, or the default sink when null.
    explicit TonePlayer(uint8_t channels, const char* sink = nullptr)
        : channels_(channels), sink_(sink), thread_([this] { Play(); }) {}
    ~TonePlayer() {
        running_ = false;
        thread_.join();
    }
    void SetAmplitude(int amplitude) { left_ = right_ = amplitude; }
    void SetAmplitudes(int left, int right) {
        left_ = left;
        right_ = right;
    }
    bool Failed() const { return failed_; }

private:
    void Play() {
        const pa_sample_spec sampleFormat = {PA_SAMPLE_U8, 44100, channels_};
        pa_buffer_attr attr;
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(2 * PA_USEC_PER_SEC, &sampleFormat));
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "pelomi tests", PA_STREAM_PLAYBACK, sink_, "tone",
                                          &sampleFormat, nullptr, &attr, &error);
        if (!stream) {
            failed_ = true;
            return;
        }
        std::vector<uint8_t> chunk(441 * channels_);
        size_t phase = 0;
        while (running_) {
            const int amplitudes[2] = {left_, right_};
            for (size_t i = 0; i < chunk.size(); i += channels_, phase = (phase + 1) % 100)
                for (uint8_t channel = 0; channel < channels_; ++channel)
                    chunk[i + channel] =
                        static_cast<uint8_t>(128 + std::lround(amplitudes[channel] * std::sin(2 * kPi * phase / 100.0)));
            if (pa_simple_write(stream, chunk.data(), chunk.size(), &error) < 0) {
                failed_ = true;
                break;
            }
        }
        pa_simple_free(stream);
    }

    const uint8_t channels_;
    const char* sink_;
    std::atomic<bool> running_{true};
    std::atomic<int> left_{0}, right_{0};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

inline bool Done(const WAVEHDR& header) { return (header.dwFlags & WHDR_DONE) != 0; }

// Points `header` at `buffer` and prepares it on `device`.
inline void Prepare(HWAVEIN device, WAVEHDR& header, std::vector<char>& buffer) {
    header = WAVEHDR();
    header.lpData = buffer.data();
    header.dwBufferLength = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(waveInPrepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
}

// Opens the default device, records `buffer` once and closes it again, as the program does for one block;
// whether it filled, and what it holds in `recorded`. The notifications go to `received` when given.
inline bool RecordOnce(NotificationWindow& window, const WAVEFORMATEX& format, std::vector<char>& buffer,
                       DWORD* recorded, std::vector<Notification>* received = nullptr) {
    HWAVEIN device = nullptr;
    if (waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR)
        return false;
    WAVEHDR header = {};
    Prepare(device, header, buffer);
    waveInAddBuffer(device, &header, sizeof(WAVEHDR));
    waveInStart(device);
    const bool done = PumpUntil([&] { return Done(header); });
    waveInReset(device);
    waveInClose(device);
    std::vector<Notification> more = window.Pump();
    if (received) received->insert(received->end(), more.begin(), more.end());
    *recorded = header.dwBytesRecorded;
    return done;
}

// A recorder asking for 20 ms on the default source, as the session's own keeps its null sink rendering in
// 20 ms steps like a microphone: connected through the control socket, it outlives the quick restarts.
class LatencyAnchor {
public:
    explicit LatencyAnchor(std::string server, std::string source = "")
        : server_(std::move(server)), source_(std::move(source)), thread_([this] { Record(); }) {}
    ~LatencyAnchor() {
        running_ = false;
        thread_.join();
    }

private:
    void Record() {
        const pa_sample_spec sampleFormat = {PA_SAMPLE_U8, 44100, 1};
        pa_buffer_attr attr;
        attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(20 * PA_USEC_PER_MSEC, &sampleFormat));
        pa_simple* stream = pa_simple_new(server_.empty() ? nullptr : server_.c_str(), "pelomi tests", PA_STREAM_RECORD,
                                          source_.empty() ? nullptr : source_.c_str(), "anchor",
                                          &sampleFormat, nullptr, &attr, nullptr);
        std::vector<uint8_t> chunk(882);
        while (stream && running_ && pa_simple_read(stream, chunk.data(), chunk.size(), nullptr) == 0) {
        }
        if (stream) pa_simple_free(stream);
    }

    std::string server_, source_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

}  // namespace soundtest

#endif
