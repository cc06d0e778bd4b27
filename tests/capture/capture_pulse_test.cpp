// Wave input and the capture cycle on a real PulseAudio daemon whose default source is the monitor of a
// null sink: tones of known peak played into the sink come back as blocks of that level, in every device
// open at once; sound from before a start never arrives, nor anything after a stop; devices share one
// server stream per format, given back when the last one closes; and the daemon going away and coming
// back is survived. Run with the private daemon of scripts/pulse-session (PELOMI_PULSE_DIR and
// PULSE_SERVER set); skipped without it.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

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

// Waits while pumping messages, for sound that must not reach a buffer to have had every chance to.
void PumpFor(std::chrono::milliseconds span) {
    PumpUntil([] { return false; }, span);
}

// The record streams this program holds on the daemon, as the daemon lists them.
int ServerStreams() {
    FILE* listing = popen("pactl list source-outputs 2>/dev/null", "r");
    if (!listing) return -1;
    int streams = 0;
    char line[512];
    while (std::fgets(line, sizeof line, listing))
        streams += std::strstr(line, "media.name = \"Pelomi capture\"") != nullptr;
    pclose(listing);
    return streams;
}

bool AllBytesAre(const std::vector<char>& buffer, char value) {
    return std::all_of(buffer.begin(), buffer.end(), [value](char byte) { return byte == value; });
}

// The peak of 16-bit stereo sound, scaled to 8 bits as PeakLevel measures them.
int PeakLevel16(const std::vector<char>& buffer) {
    int peak = 0;
    for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
        int16_t sample;
        std::memcpy(&sample, &buffer[i], sizeof sample);
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return (peak + 128) / 256;
}

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
        const pa_sample_spec sampleFormat = {PA_SAMPLE_U8, 44100, 1};
        pa_buffer_attr attr;
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(30 * PA_USEC_PER_MSEC, &sampleFormat));
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "pelomi tests", PA_STREAM_PLAYBACK, nullptr, "tone",
                                          &sampleFormat, nullptr, &attr, &error);
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

WAVEFORMATEX PcmFormat(WORD channels, WORD bits) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = 44100;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = 44100 * format.nBlockAlign;
    format.wBitsPerSample = bits;
    return format;
}

WAVEFORMATEX BlockFormat() { return PcmFormat(1, 8); }

bool Done(const WAVEHDR& header) { return (header.dwFlags & WHDR_DONE) != 0; }

// Points `header` at `buffer` and prepares it on `device`.
void Prepare(HWAVEIN device, WAVEHDR& header, std::vector<char>& buffer) {
    header = WAVEHDR();
    header.lpData = buffer.data();
    header.dwBufferLength = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(waveInPrepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
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

// Block after block, as the program records, only the piece that fills a buffer needs to wake the process:
// the pieces before it are read together, and every block still comes back full and at the tone's peak.
TEST_F(PulseWaveIn, BackToBackBlocksReadSeveralPiecesPerWakeUp) {
    TonePlayer player;
    player.SetAmplitude(60);
    Settle();
    RecordBlockLevel();  // the stream is up and running
    const w32::PulseCaptureCounters before = w32::ReadPulseCaptureCounters();
    for (int block = 0; block < 24; ++block) EXPECT_NEAR(RecordBlockLevel(), 60, 2) << block;
    const w32::PulseCaptureCounters after = w32::ReadPulseCaptureCounters();
    const double pieces = static_cast<double>(after.pieces - before.pieces);
    const double wakeups = static_cast<double>(after.wakeups - before.wakeups);
    EXPECT_GE(pieces, 24 * 4);  // pieces of 20 ms at most, blocks of 83 ms
    EXPECT_LE(wakeups, 0.8 * pieces) << wakeups << " wake-ups for " << pieces << " pieces";
    EXPECT_FALSE(player.Failed());
}

// Loud sound while the device is open but not started, or stopped, must never show up later; nor the end
// of a loud block in a block started later.
TEST_F(PulseWaveIn, SoundFromBeforeTheStartIsNeverDelivered) {
    TonePlayer player;
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<std::vector<char>> buffers(3, std::vector<char>(BLOCK_BYTES));
    WAVEHDR headers[3];
    for (int i = 0; i < 3; ++i) Prepare(device, headers[i], buffers[i]);
    auto record = [&](WAVEHDR& header) {
        ASSERT_EQ(waveInAddBuffer(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        ASSERT_TRUE(PumpUntil([&] { return Done(header); }));
        ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    };
    auto level = [](const std::vector<char>& buffer) {
        return PeakLevel(reinterpret_cast<const uint8_t*>(buffer.data()), BLOCK_BYTES);
    };

    player.SetAmplitude(100);
    Settle();
    player.SetAmplitude(0);
    Settle();  // open, not started
    record(headers[0]);
    EXPECT_LE(level(buffers[0]), 2);

    player.SetAmplitude(100);
    Settle();
    record(headers[1]);  // ends loud, in the middle of a piece of loud sound
    EXPECT_NEAR(level(buffers[1]), 100, 2);
    Settle();  // stopped, still loud
    player.SetAmplitude(0);
    Settle();
    record(headers[2]);
    EXPECT_LE(level(buffers[2]), 2);

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device), WimData(device, &headers[0]),
                                            WimData(device, &headers[1]), WimData(device, &headers[2]),
                                            WimClose(device)}));
}

// The server stream keeps running between blocks; a stopped or reset device must still be cut off from it
// at once. Windows keeps the empty buffers queued through a stop: they too stay untouched until the start.
TEST_F(PulseWaveIn, NothingReachesABufferOnceStopOrResetHasReturned) {
    TonePlayer player;
    player.SetAmplitude(90);
    Settle();
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<char> tenSeconds(441000), block(BLOCK_BYTES);
    WAVEHDR longHeader, blockHeader;
    Prepare(device, longHeader, tenSeconds);
    Prepare(device, blockHeader, block);
    ASSERT_EQ(waveInAddBuffer(device, &longHeader, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(device, &blockHeader, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return longHeader.dwBytesRecorded > 0; }));

    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(Done(longHeader));
    DWORD recorded = longHeader.dwBytesRecorded;
    std::fill(tenSeconds.begin(), tenSeconds.end(), '\x5A');
    std::fill(block.begin(), block.end(), '\x5A');
    PumpFor(std::chrono::milliseconds(300));
    EXPECT_TRUE(AllBytesAre(tenSeconds, '\x5A'));
    EXPECT_TRUE(AllBytesAre(block, '\x5A'));
    EXPECT_EQ(longHeader.dwBytesRecorded, recorded);
    EXPECT_EQ(blockHeader.dwBytesRecorded, 0u);
    EXPECT_FALSE(Done(blockHeader));

    // Started again, the device goes on into the queued buffer.
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return Done(blockHeader); }));
    EXPECT_NEAR(PeakLevel(reinterpret_cast<const uint8_t*>(block.data()), BLOCK_BYTES), 90, 2);

    ASSERT_EQ(waveInAddBuffer(device, &longHeader, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return longHeader.dwBytesRecorded > 0; }));
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(Done(longHeader));
    recorded = longHeader.dwBytesRecorded;
    std::fill(tenSeconds.begin(), tenSeconds.end(), '\x5A');
    PumpFor(std::chrono::milliseconds(300));
    EXPECT_TRUE(AllBytesAre(tenSeconds, '\x5A'));
    EXPECT_EQ(longHeader.dwBytesRecorded, recorded);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

// Three devices open and started at once, two in the block format and one in 16-bit stereo: each gets the
// tone playing, and closing one leaves the others recording.
TEST_F(PulseWaveIn, DevicesOpenAtOnceEachRecordTheSoundInTheirOwnFormat) {
    TonePlayer player;
    player.SetAmplitude(60);
    Settle();
    WAVEFORMATEX stereo = PcmFormat(2, 16);
    HWAVEIN devices[3] = {};
    const WAVEFORMATEX* formats[3] = {&format, &format, &stereo};
    std::vector<std::vector<char>> buffers = {std::vector<char>(BLOCK_BYTES), std::vector<char>(BLOCK_BYTES),
                                              std::vector<char>(4 * BLOCK_BYTES)};
    WAVEHDR headers[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(waveInOpen(&devices[i], WAVE_MAPPER, formats[i], window.callback(), 0, CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        Prepare(devices[i], headers[i], buffers[i]);
        ASSERT_EQ(waveInAddBuffer(devices[i], &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    for (HWAVEIN device : devices) ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return Done(headers[0]) && Done(headers[1]) && Done(headers[2]); }));
    EXPECT_NEAR(PeakLevel(reinterpret_cast<const uint8_t*>(buffers[0].data()), BLOCK_BYTES), 60, 2);
    EXPECT_NEAR(PeakLevel(reinterpret_cast<const uint8_t*>(buffers[1].data()), BLOCK_BYTES), 60, 2);
    EXPECT_NEAR(PeakLevel16(buffers[2]), 60, 2);

    ASSERT_EQ(waveInReset(devices[0]), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(devices[0]), MMSYSERR_NOERROR);
    player.SetAmplitude(30);
    Settle();
    for (int i = 1; i < 3; ++i)
        ASSERT_EQ(waveInAddBuffer(devices[i], &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return Done(headers[1]) && Done(headers[2]); }));
    EXPECT_NEAR(PeakLevel(reinterpret_cast<const uint8_t*>(buffers[1].data()), BLOCK_BYTES), 30, 2);
    EXPECT_NEAR(PeakLevel16(buffers[2]), 30, 2);
    for (int i = 1; i < 3; ++i) {
        ASSERT_EQ(waveInReset(devices[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInClose(devices[i]), MMSYSERR_NOERROR);
    }
    EXPECT_FALSE(player.Failed());
}

// Opening a device for every block costs no server stream of its own: devices in one format share one,
// which the daemon sees go away once no device has been open for a while.
TEST_F(PulseWaveIn, DevicesShareOneServerStreamPerFormatGivenBackAfterTheLastCloses) {
    ASSERT_TRUE(PumpUntil([] { return ServerStreams() == 0; })) << "streams of earlier tests are still held";
    WAVEFORMATEX stereo = PcmFormat(2, 16);
    HWAVEIN first = nullptr, second = nullptr, other = nullptr;
    ASSERT_EQ(waveInOpen(&first, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&second, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(ServerStreams(), 1);
    ASSERT_EQ(waveInOpen(&other, WAVE_MAPPER, &stereo, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(ServerStreams(), 2);

    ASSERT_EQ(waveInClose(other), MMSYSERR_NOERROR);
    EXPECT_TRUE(PumpUntil([] { return ServerStreams() == 1; }));
    ASSERT_EQ(waveInClose(first), MMSYSERR_NOERROR);
    for (int block = 0; block < 20; ++block) {  // the program's cycle: closed and opened again at once
        ASSERT_EQ(waveInClose(second), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInOpen(&second, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
    }
    PumpFor(std::chrono::milliseconds(1500));
    EXPECT_EQ(ServerStreams(), 1) << "a device is still open";
    ASSERT_EQ(waveInClose(second), MMSYSERR_NOERROR);
    EXPECT_TRUE(PumpUntil([] { return ServerStreams() == 0; }));
    window.Pump();
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
