// Wave input and the capture cycle on a real PulseAudio daemon whose default source is the monitor of a
// null sink: tones of known peak played into the sink come back as blocks of that level, sound from before
// a start never arrives, and the daemon going away and coming back is survived. Run with the private daemon
// of scripts/pulse-session (PELOMI_PULSE_DIR and PULSE_SERVER set); skipped without it.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <pulse/sample.h>
#include <pulse/simple.h>
#include <pulse/timeval.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "capture_cycle_fixture.h"
#include "notification_window.h"
#include "pulse/pulse_wave_device.h"
#include "wave/wave_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using Notifications = std::vector<Notification>;
constexpr double kPi = 3.14159265358979323846;

bool HaveDaemon() { return std::getenv("PELOMI_PULSE_DIR") != nullptr; }

// Runs scripts/pulse-session with `command` on the session this test was started in.
void Session(const char* command) {
    std::string line = std::string(PELOMI_SOURCE_DIR) + "/scripts/pulse-session " + command;
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

// Pumps the thread's messages until `done` holds; false if it does not within `limit` (a bound on waiting
// for a broken device, not a measure of speed).
template <class Done>
bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    Clock::time_point end = Clock::now() + limit;
    for (;;) {
        testwin::PumpMessages();
        if (done()) return true;
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

// Plays a 441 Hz sine of a chosen peak into the default sink, without pause, from its own thread. The
// period is 100 samples, so the crest sample 25 is exactly 128 + amplitude.
class TonePlayer {
public:
    TonePlayer() : thread_([this] { Run(); }) {}
    ~TonePlayer() {
        running_ = false;
        thread_.join();
    }
    void SetAmplitude(int amplitude) { amplitude_ = amplitude; }
    bool Failed() const { return failed_; }

private:
    void Run() {
        const pa_sample_spec spec = {PA_SAMPLE_U8, 44100, 1};
        pa_buffer_attr attr;
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(30 * PA_USEC_PER_MSEC, &spec));
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "pelomi tests", PA_STREAM_PLAYBACK, nullptr, "tone", &spec,
                                          nullptr, &attr, &error);
        if (!stream) {
            failed_ = true;
            return;
        }
        std::vector<uint8_t> chunk(441);
        size_t phase = 0;
        while (running_) {
            int amplitude = amplitude_;
            for (uint8_t& sample : chunk) {
                sample = static_cast<uint8_t>(128 + std::lround(amplitude * std::sin(2 * kPi * phase / 100.0)));
                phase = (phase + 1) % 100;
            }
            if (pa_simple_write(stream, chunk.data(), chunk.size(), &error) < 0) {
                failed_ = true;
                break;
            }
        }
        pa_simple_free(stream);
    }

    std::atomic<bool> running_{true};
    std::atomic<int> amplitude_{0};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

WAVEFORMATEX BlockFormat() {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 44100;
    format.nBlockAlign = 1;
    format.wBitsPerSample = 8;
    return format;
}

class PulseWaveIn : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveDaemon())
            GTEST_SKIP() << "no private PulseAudio daemon: run under scripts/pulse-session (scripts/test does)";
        w32::UsePulseWaveDevice();
    }
    void TearDown() override {
        if (HaveDaemon()) Session("up");  // whatever a test did to the daemon, the next one finds it running
        w32::SetWaveDevice(nullptr);
    }

    // Opens, records `buffer` once and closes again, as the program does for one block.
    bool RecordInto(std::vector<char>& buffer, DWORD* recorded) {
        HWAVEIN device = nullptr;
        if (waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR)
            return false;
        WAVEHDR header = {};
        header.lpData = buffer.data();
        header.dwBufferLength = static_cast<DWORD>(buffer.size());
        waveInPrepareHeader(device, &header, sizeof(WAVEHDR));
        waveInAddBuffer(device, &header, sizeof(WAVEHDR));
        waveInStart(device);
        bool done = PumpUntil([&] { return (header.dwFlags & WHDR_DONE) != 0; });
        waveInReset(device);
        waveInClose(device);
        window.Pump();
        *recorded = header.dwBytesRecorded;
        return done;
    }
    int RecordBlockLevel() {
        std::vector<char> block(BLOCK_BYTES);
        DWORD recorded = 0;
        EXPECT_TRUE(RecordInto(block, &recorded));
        EXPECT_EQ(recorded, BLOCK_BYTES);
        return PeakLevel(reinterpret_cast<const uint8_t*>(block.data()), BLOCK_BYTES);
    }

    WAVEFORMATEX format = BlockFormat();
    NotificationWindow window;
};

TEST_F(PulseWaveIn, BlocksComeBackAtThePeakOfTheTonePlayed) {
    TonePlayer player;
    for (int amplitude : {0, 12, 45, 90, 127}) {
        SCOPED_TRACE(amplitude);
        player.SetAmplitude(amplitude);
        Settle();
        for (int block = 0; block < 4; ++block) EXPECT_NEAR(RecordBlockLevel(), amplitude, 2);
    }
    EXPECT_FALSE(player.Failed());
}

// Loud sound while the device is open but not started, or stopped, must never show up later.
TEST_F(PulseWaveIn, SoundFromBeforeTheStartIsNeverDelivered) {
    TonePlayer player;
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<char> first(BLOCK_BYTES), second(BLOCK_BYTES);
    WAVEHDR headers[2] = {};
    headers[0].lpData = first.data();
    headers[1].lpData = second.data();
    for (WAVEHDR& header : headers) {
        header.dwBufferLength = BLOCK_BYTES;
        ASSERT_EQ(waveInPrepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    auto loudThenQuiet = [&player] {
        player.SetAmplitude(100);
        Settle();
        player.SetAmplitude(0);
        Settle();
    };

    loudThenQuiet();  // open, not started
    ASSERT_EQ(waveInAddBuffer(device, &headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return (headers[0].dwFlags & WHDR_DONE) != 0; }));
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);

    loudThenQuiet();  // stopped
    ASSERT_EQ(waveInAddBuffer(device, &headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return (headers[1].dwFlags & WHDR_DONE) != 0; }));
    EXPECT_LE(PeakLevel(reinterpret_cast<const uint8_t*>(first.data()), BLOCK_BYTES), 2);
    EXPECT_LE(PeakLevel(reinterpret_cast<const uint8_t*>(second.data()), BLOCK_BYTES), 2);

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device), WimData(device, &headers[0]),
                                            WimData(device, &headers[1]), WimClose(device)}));
}

TEST_F(PulseWaveIn, ServerGoneWhileRecordingReturnsTheBufferAndOpensFailUntilItIsBack) {
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<char> tenSeconds(441000);
    WAVEHDR header = {};
    header.lpData = tenSeconds.data();
    header.dwBufferLength = static_cast<DWORD>(tenSeconds.size());
    waveInPrepareHeader(device, &header, sizeof(WAVEHDR));
    waveInAddBuffer(device, &header, sizeof(WAVEHDR));
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return header.dwBytesRecorded > 0; }));

    Session("down");
    ASSERT_TRUE(PumpUntil([&] { return (header.dwFlags & WHDR_DONE) != 0; }));
    EXPECT_GT(header.dwBytesRecorded, 0u);
    EXPECT_LT(header.dwBytesRecorded, header.dwBufferLength);
    EXPECT_EQ(waveInAddBuffer(device, &header, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device), WimData(device, &header), WimClose(device)}));

    // No server: the open fails at once and posts nothing. The time it takes is reported, not judged here.
    HWAVEIN refused = nullptr;
    Clock::time_point before = Clock::now();
    MMRESULT result = waveInOpen(&refused, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW);
    auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count();
    RecordProperty("failed_open_microseconds", std::to_string(took));
    EXPECT_TRUE(result == MMSYSERR_NODRIVER || result == MMSYSERR_BADDEVICEID) << result;
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(window.Pump(), Notifications{});

    Session("up");
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    std::vector<char> block(BLOCK_BYTES);
    DWORD recorded = 0;
    EXPECT_TRUE(RecordInto(block, &recorded));
    EXPECT_EQ(recorded, BLOCK_BYTES);
}

class PulseCaptureCycle : public CaptureWindowTest {
protected:
    void SetUp() override {
        if (!HaveDaemon())
            GTEST_SKIP() << "no private PulseAudio daemon: run under scripts/pulse-session (scripts/test does)";
        w32::UsePulseWaveDevice();
        CaptureWindowTest::SetUp();
    }
    void TearDown() override {
        if (!HaveDaemon()) return;
        CaptureWindowTest::TearDown();
        Session("up");
        w32::SetWaveDevice(nullptr);
    }
    size_t BlocksDrawn(const std::vector<Dispatched>& log) const {
        size_t closes = 0;
        for (const Dispatched& d : log) closes += d.message == MM_WIM_CLOSE;
        return closes;
    }
    // The cycle has stopped when its last device is closed and no open took its place: a never-prepared
    // header is refused only by a dead handle, and touched by nothing.
    bool CycleStalled() {
        WAVEHDR probe = {};
        return waveInUnprepareHeader(captureDevice, &probe, sizeof(WAVEHDR)) == MMSYSERR_INVALHANDLE;
    }
};

TEST_F(PulseCaptureCycle, TheCycleStopsWithTheServerAndItsNextOpenRunsAgainOnceTheServerIsBack) {
    std::vector<Dispatched> log;
    auto drawn = [&] {
        std::vector<Dispatched> more = TakeLog();
        log.insert(log.end(), more.begin(), more.end());
        return BlocksDrawn(log);
    };
    ASSERT_TRUE(StartCapture(window));
    ASSERT_TRUE(PumpUntil([&] { return drawn() >= 5; }));
    EXPECT_EQ(BarWidth(), 5) << "silence";

    Session("down");
    ASSERT_TRUE(PumpUntil([&] { return CycleStalled(); }));
    testwin::PumpMessages();
    TakeLog();

    Session("up");
    OpenCapture(window);  // what the cycle does for its next block
    log.clear();
    ASSERT_TRUE(PumpUntil([&] { return drawn() >= 5; }));
    EXPECT_EQ(log.front().message, static_cast<UINT>(MM_WIM_OPEN));
}

}  // namespace
