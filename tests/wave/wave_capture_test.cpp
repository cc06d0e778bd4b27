// The capture core's timing rules on the scripted server and its clock: where a block starts, when reading
// happens, the idle release, the pause while the server is away and the reconnects, and the mix-down. The
// scripted source records its own position as every sample, so a block shows which stretch of the stream it
// holds.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "notification_window.h"
#include "testing/scripted_wave_device.h"
#include "wave/wave_device.h"

namespace {

using w32::ScriptedWaveDevice;

constexpr uint64_t kMs = 1000;
constexpr uint64_t kFragment = 16667;  // 1/60 s, as the PulseAudio backend asks: 735 frames at 44.1 kHz
constexpr int64_t kLatency = 30 * kMs;  // from capture to arrival, as a microphone's source buffer adds
constexpr int64_t kRate = 44100;
constexpr int64_t kFragmentFrames = kRate * kFragment / 1000000;
// Where a block started late begins: the fragment boundary within a fragment before the clock.
int64_t LateStart(int64_t clock) { return (clock - 1) / kFragmentFrames * kFragmentFrames; }
constexpr int64_t kBlockFrames = 3675;

int16_t PositionSound(int64_t position, int) { return static_cast<int16_t>(position % 30000); }

// A device with one buffer of a block of 16-bit mono frames, recorded the way the program records.
struct Block {
    explicit Block(size_t frames) : samples(frames, -1) {
        header.lpData = reinterpret_cast<LPSTR>(samples.data());
        header.dwBufferLength = static_cast<DWORD>(frames * sizeof(int16_t));
    }
    std::vector<int16_t> samples;
    WAVEHDR header = {};
};

class WaveCapture : public ::testing::Test {
protected:
    void SetUp() override {
        ScriptedWaveDevice::Reset();
        ScriptedWaveDevice::CaptureWithClock(kFragment, kLatency, 1, PositionSound);
    }
    void TearDown() override {
        window.Pump();
        EXPECT_EQ(ScriptedWaveDevice::Counts().openStreams, 0) << "a device was left open";
        ScriptedWaveDevice::Reset();
    }

    HWAVEIN Open(const WAVEFORMATEX& format = PcmFormat(1, kRate, 16)) {
        HWAVEIN device = nullptr;
        EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        if (streamOpenedAt == 0) streamOpenedAt = ScriptedWaveDevice::Now();
        return device;
    }
    void Start(HWAVEIN device, Block& block) {
        ASSERT_EQ(waveInPrepareHeader(device, &block.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &block.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    }
    void Close(HWAVEIN device) {
        EXPECT_EQ(waveInReset(device), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    }
    // Scripted time passes a millisecond at a time until the block is back; false after `limit`.
    static bool AdvanceUntilDone(const Block& block, uint64_t limit = 5000 * kMs) {
        for (uint64_t waited = 0; !(block.header.dwFlags & WHDR_DONE); waited += kMs) {
            if (waited > limit) return false;
            ScriptedWaveDevice::Advance(kMs);
        }
        return true;
    }
    // The position being captured now (or at `at`) on the stream's clock.
    int64_t ClockNow() const { return ClockAt(ScriptedWaveDevice::Now()); }
    int64_t ClockAt(uint64_t at) const { return static_cast<int64_t>((at - streamOpenedAt) * kRate / 1000000); }
    // Records one block on a new device, as the program's cycle does; returns the block's first position.
    int64_t RecordBlock(Block& block, uint64_t pauseBeforeStart = 0) {
        HWAVEIN device = Open();
        ScriptedWaveDevice::Advance(pauseBeforeStart);
        startClock = ClockNow();
        Start(device, block);
        EXPECT_TRUE(AdvanceUntilDone(block));
        Close(device);
        return block.samples.front();
    }

    NotificationWindow window;
    uint64_t streamOpenedAt = 0;
    int64_t startClock = 0;
};

// Blocks tile the stream when each start follows the previous fill within a fragment, whatever the
// latency; a later start begins on the fragment boundary within a fragment before the sound being captured,
// so a stalled program gets no backlog and its blocks end with pieces; and a block never repeats sound the
// previous one held, not even on a source whose sound runs ahead of its clock.
TEST_F(WaveCapture, APromptStartContinuesTheStreamALateOneBeginsAFragmentBeforeNow) {
    struct Case {
        const char* what;
        int64_t latency;
        uint64_t pause;
        bool tiles;
    } cases[] = {
        {"at once", kLatency, 0, true},
        {"within a fragment", kLatency, 15 * kMs, true},
        {"just past a fragment", kLatency, 30 * kMs, false},
        {"late", kLatency, 120 * kMs, false},
        {"stalled", kLatency, 900 * kMs, false},
        {"just past a fragment, ahead of the clock", -50 * static_cast<int64_t>(kMs), 25 * kMs, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedWaveDevice::Reset();
        ScriptedWaveDevice::CaptureWithClock(kFragment, c.latency, 1, PositionSound);
        streamOpenedAt = 0;
        Block first(kBlockFrames), block(kBlockFrames);
        RecordBlock(first);
        const int64_t lastEnd = first.samples.back() + 1;
        const int64_t start = RecordBlock(block, c.pause);
        EXPECT_EQ(start, (c.tiles ? lastEnd : LateStart(startClock)) % 30000);
        for (size_t i = 1; i < block.samples.size(); ++i)
            ASSERT_EQ(block.samples[i], (block.samples[i - 1] + 1) % 30000) << "a gap inside the block at " << i;
    }
}

// A stream the server moves is opened again: the block being recorded goes on, unannounced, with the new
// source's sound in its own layout. A source that stops is a pause, told once: the block comes back with
// what it holds, the next waits, and once the source records again (resumed, or another in its place, found
// by the reconnects) blocks come, with one line more.
TEST_F(WaveCapture, AMovedStreamGoesOnInTheNewLayoutAStoppedSourceIsAPause) {
    const char* const kStopped =
        "wave_capture_test: the microphone stopped (suspended or removed); recording waits until it is back\n";
    const char* const kAgain = "wave_capture_test: the microphone records again\n";
    const char* const kGoneAndBack =
        "wave_capture_test: the sound server went away; recording waits until it is back\n"
        "wave_capture_test: the sound server is back; recording again\n";
    struct Case {
        const char* what;
        bool suspended, pauses, restarts;  // restarts: the server too, while the source is away
    } cases[] = {{"moved", false, false, false},
                 {"suspended", true, true, false},
                 {"removed", false, true, false},
                 {"removed, then the server restarts", false, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedWaveDevice::Reset();
        // Stereo sound whose channels differ: mixed down right, every sample is 2000.
        ScriptedWaveDevice::CaptureWithClock(kFragment, kLatency, 1, PositionSound);
        ::testing::internal::CaptureStderr();
        HWAVEIN device = Open();
        Block block(kBlockFrames);
        Start(device, block);
        ScriptedWaveDevice::Advance(60 * kMs);
        ASSERT_GT(block.header.dwBytesRecorded, 0u);
        ScriptedWaveDevice::CaptureWithClock(kFragment, kLatency, 2,
                                             [](int64_t, int channel) { return static_cast<int16_t>(1000 + 2000 * channel); });
        if (!c.pauses) ScriptedWaveDevice::MoveSource(2);
        if (c.pauses) ScriptedWaveDevice::StopSource(c.suspended);
        EXPECT_EQ((block.header.dwFlags & WHDR_DONE) != 0, c.pauses);
        if (c.pauses) {
            EXPECT_LT(block.header.dwBytesRecorded, block.header.dwBufferLength);
            Close(device);
            device = Open();
            block = Block(kBlockFrames);
            Start(device, block);
            ScriptedWaveDevice::Advance(2000 * kMs);
            EXPECT_EQ(block.header.dwBytesRecorded, 0u) << "recorded while the source was stopped";
            if (c.restarts) {
                ScriptedWaveDevice::ServerDown();
                ScriptedWaveDevice::ServerUp();
                ScriptedWaveDevice::Advance(600 * kMs);
            }
            ScriptedWaveDevice::ResumeSource();
        }
        ASSERT_TRUE(AdvanceUntilDone(block, 1000 * kMs));
        EXPECT_EQ(block.header.dwBytesRecorded, block.header.dwBufferLength);
        EXPECT_EQ(block.samples.back(), 2000) << "the new source, in its own layout";
        Close(device);
        // The server's return says it all: the microphone's is not told after it.
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  !c.pauses ? "" : std::string(kStopped) + (c.restarts ? kGoneAndBack : kAgain));
    }
}

// Reading waits until 10 ms before the block's last piece can have come and takes the pieces that came
// meanwhile in one turn, then the rest as they come: a block of the program's cycle costs two turns, however
// many pieces it has, and comes back as soon as its last piece is there. The first block on a new stream
// reads sooner: the lag of arriving sound is not measured yet.
TEST_F(WaveCapture, ReadingWaitsUntilTheBlockCanFillAndTakesThePiecesInOneTurn) {
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        Block block(kBlockFrames);
        HWAVEIN device = Open();
        const int turnsBefore = ScriptedWaveDevice::ReadingTurns();
        Start(device, block);
        const int64_t blockEnd = (i == 0 ? 0 : startClock) + kBlockFrames;
        // When the piece holding its last frame comes, to the frame: the clock counts frames, which
        // 1/60 s pieces do not make whole microseconds.
        const uint64_t due = streamOpenedAt + static_cast<uint64_t>(blockEnd * 1000000 / kRate) + kLatency;
        if (i > 0) {
            EXPECT_NEAR(static_cast<double>(ScriptedWaveDevice::ReadingDeferredUntil()),
                        static_cast<double>(due - 10 * kMs), 1e6 / kRate);
        }
        ASSERT_TRUE(AdvanceUntilDone(block));
        const int turns = ScriptedWaveDevice::ReadingTurns() - turnsBefore;
        EXPECT_TRUE(i == 0 ? turns >= 2 : turns == 2) << turns << " turns";
        EXPECT_LE(ScriptedWaveDevice::Now(), due + kMs) << "the block came back late";
        EXPECT_EQ(block.samples.front(), (blockEnd - kBlockFrames) % 30000) << "blocks do not tile";
        startClock = blockEnd;
        Close(device);
    }
}

// On a sink's monitor the sound comes ahead of the stream's clock: reading waits only until the sound the
// block still lacks can have come, not until the clock reaches the block's end.
TEST_F(WaveCapture, ReadingOnASourceAheadOfItsClockWaitsOnlyForTheSoundStillMissing) {
    ScriptedWaveDevice::CaptureWithClock(kFragment, -50 * static_cast<int64_t>(kMs), 1, PositionSound);
    Block warmUp(kBlockFrames), block(kBlockFrames);
    RecordBlock(warmUp);
    ScriptedWaveDevice::Advance(300 * kMs);
    HWAVEIN device = Open();
    const uint64_t startedAt = ScriptedWaveDevice::Now();
    Start(device, block);  // a fragment before the clock: 70 ms of the block are with the server already
    ASSERT_TRUE(AdvanceUntilDone(block));
    const int64_t end = LateStart(ClockAt(startedAt)) + kBlockFrames;
    const uint64_t endArrived = streamOpenedAt + static_cast<uint64_t>(end * 1000000 / kRate) - 50 * kMs;
    // Seen on the millisecond steps the test advances in.
    EXPECT_LE(ScriptedWaveDevice::Now(), endArrived + kMs) << "held until the clock caught up";
    EXPECT_EQ(block.samples.front(), (end - kBlockFrames) % 30000);
    Close(device);
}

// The stream outlives its devices for a second, so that the program's cycle never waits for the server.
// A stream nobody holds is given back a second after the last close, whether it records (its sound's read
// then releases it) or its source is stopped (the timer does); a program that opens a device a block keeps
// it and is never woken for it meanwhile.
TEST_F(WaveCapture, AStreamNobodyHoldsIsGivenBackAfterASecond) {
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "source stopped" : "recording");
        HWAVEIN device = Open();
        Close(device);
        ScriptedWaveDevice::Advance(900 * kMs);
        device = Open();  // the program reopens: the same stream goes on
        EXPECT_EQ(ScriptedWaveDevice::RecordStreams(), 1);
        Close(device);
        if (stopped) ScriptedWaveDevice::StopSource(true);
        ScriptedWaveDevice::Advance(900 * kMs);
        EXPECT_EQ(ScriptedWaveDevice::RecordStreams(), 1);
        ScriptedWaveDevice::Advance(200 * kMs);
        EXPECT_EQ(ScriptedWaveDevice::RecordStreams(), 0);
        ScriptedWaveDevice::ResumeSource();
    }
    const int expiries = ScriptedWaveDevice::TimerExpiries();
    for (int i = 0; i < 30; ++i) {
        Block block(kBlockFrames);
        RecordBlock(block);
    }
    EXPECT_EQ(ScriptedWaveDevice::TimerExpiries(), expiries) << "the idle timer went off while the program cycled";
}

// Once reached, a server that goes away is a pause: the buffer in flight comes back with what it holds,
// devices open and start as usual and their blocks wait; reconnects come at 50 ms, then twice as long each
// time up to half a second; with the server back, recording resumes with fresh sound.
TEST_F(WaveCapture, AServerThatGoesAwayIsAPauseWithReconnectsAtGrowingIntervals) {
    HWAVEIN device = Open();
    Block block(kBlockFrames);
    Start(device, block);
    ScriptedWaveDevice::Advance(100 * kMs);
    const uint64_t lostAt = ScriptedWaveDevice::Now();
    ::testing::internal::CaptureStderr();
    ScriptedWaveDevice::ServerDown();
    EXPECT_EQ(window.Pump(), (std::vector<Notification>{WimOpen(device), WimData(device, &block.header)}));
    EXPECT_GT(block.header.dwBytesRecorded, 0u);
    EXPECT_LT(block.header.dwBytesRecorded, block.header.dwBufferLength);
    Close(device);

    device = Open();
    Block waiting(kBlockFrames);
    Start(device, waiting);
    ScriptedWaveDevice::Advance(3000 * kMs);
    EXPECT_EQ(waiting.header.dwBytesRecorded, 0u);
    const std::vector<uint64_t> attempts = ScriptedWaveDevice::ConnectAttempts();
    const uint64_t gaps[] = {50, 100, 200, 400, 500, 500};
    ASSERT_GE(attempts.size(), 1 + std::size(gaps));
    uint64_t previous = lostAt;
    for (size_t i = 0; i < std::size(gaps); ++i) {
        EXPECT_EQ(attempts[i + 1] - previous, gaps[i] * kMs) << "attempt " << i;
        previous = attempts[i + 1];
    }

    ScriptedWaveDevice::ServerUp();
    const uint64_t backAt = ScriptedWaveDevice::Now();
    ASSERT_TRUE(AdvanceUntilDone(waiting));
    // Our choice: the user hears of it once when it goes and once when it is back, not at every retry.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "wave_capture_test: the sound server went away; recording waits until it is back\n"
              "wave_capture_test: the sound server is back; recording again\n");
    EXPECT_LE(ScriptedWaveDevice::Now() - backAt, 2000 * kMs);
    EXPECT_EQ(waiting.samples.front(), 0) << "the new stream's first sound, nothing older";
    Close(device);
}

// Our choice: started before the desktop's sound is ready (no server, a server with no microphone, or one
// that takes the connection and answers nothing), the open succeeds within the answer time and its block
// waits, told once; the server or source is asked for again at growing intervals (a stalled one is just
// waited for), and once there the block fills with fresh sound within a second, told once more.
TEST_F(WaveCapture, StartedBeforeTheServerOrItsMicrophoneTheDeviceWaitsForThem) {
    const std::string kBegins =
        "wave_capture_test: the sound server and a microphone are there; recording begins\n";
    struct Case {
        const char* what;
        void (*withhold)();
        void (*give)();
        const char* news;
        std::vector<uint64_t> (*attempts)();
        uint64_t waited;  // what the open waited for an answer, in scripted time
    } cases[] = {
        {"no server", ScriptedWaveDevice::ServerDown, ScriptedWaveDevice::ServerUp,
         "no sound server answers (PulseAudio or PipeWire); recording waits until one does",
         ScriptedWaveDevice::ConnectAttempts, 0},
        {"no microphone", [] { ScriptedWaveDevice::StopSource(false); }, ScriptedWaveDevice::ResumeSource,
         "the sound server has no microphone; recording waits until there is one", ScriptedWaveDevice::StreamAttempts,
         0},
        {"a stalled server", ScriptedWaveDevice::ServerStalls, ScriptedWaveDevice::ServerContinues,
         "no sound server answers (PulseAudio or PipeWire); recording waits until one does", nullptr, 400 * kMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedWaveDevice::Reset();
        ScriptedWaveDevice::CaptureWithClock(kFragment, kLatency, 1, PositionSound);
        c.withhold();
        ::testing::internal::CaptureStderr();
        const uint64_t openedAt = ScriptedWaveDevice::Now();
        HWAVEIN device = Open();
        EXPECT_EQ(ScriptedWaveDevice::Now() - openedAt, c.waited) << "the window waited";
        Close(device);
        window.Pump();
        device = Open();  // the program's next open waits no more
        EXPECT_EQ(ScriptedWaveDevice::Now() - openedAt, c.waited);
        EXPECT_EQ(waveInGetNumDevs(), 1u);
        Block block(kBlockFrames);
        Start(device, block);
        EXPECT_EQ(window.Pump(), (std::vector<Notification>{WimOpen(device)}));
        ScriptedWaveDevice::Advance(3000 * kMs);
        EXPECT_EQ(block.header.dwBytesRecorded, 0u);
        if (c.attempts) {
            const std::vector<uint64_t> all = c.attempts();  // from the last open's on
            const std::vector<uint64_t> attempts(std::upper_bound(all.begin(), all.end(), openedAt) - 1, all.end());
            const uint64_t gaps[] = {50, 100, 200, 400, 500, 500};
            ASSERT_GE(attempts.size(), 1 + std::size(gaps));
            for (size_t i = 0; i < std::size(gaps); ++i)
                EXPECT_EQ(attempts[i + 1] - attempts[i], gaps[i] * kMs) << "attempt " << i;
        } else {
            EXPECT_EQ(ScriptedWaveDevice::ConnectAttempts().size(), 1u) << "a connect under way is waited for";
        }
        c.give();
        const uint64_t readyAt = ScriptedWaveDevice::Now();
        streamOpenedAt = 0;
        ASSERT_TRUE(AdvanceUntilDone(block));
        EXPECT_LE(ScriptedWaveDevice::Now() - readyAt, 1000 * kMs);
        EXPECT_EQ(block.samples.front(), 0) << "the new stream's first sound, nothing older";
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "wave_capture_test: " + std::string(c.news) + "\n" + kBegins);
        Close(device);
    }
}

// The layer mixes the source down itself: the average of its channels, as PulseAudio does, whichever
// server records; a stereo device gets a stereo source's channels as they are.
TEST_F(WaveCapture, SourcesAreMixedDownToTheAverageOfTheirChannels) {
    struct Case {
        uint16_t sourceChannels;
        WORD channels, bits;
        std::vector<uint8_t> expected;  // one frame
    } cases[] = {
        {2, 1, 8, {128 + 15}},
        {2, 1, 16, {0x00, 15}},
        {2, 2, 16, {0x00, 10, 0x00, 20}},
        {1, 2, 8, {128 + 10, 128 + 10}},
        {4, 1, 8, {128 + 25}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sourceChannels << " channels to " << c.channels << "x" << c.bits);
        ScriptedWaveDevice::Reset();
        ScriptedWaveDevice::CaptureWithClock(kFragment, 0, c.sourceChannels,
                                             [](int64_t, int channel) { return static_cast<int16_t>(2560 * (channel + 1)); });
        const WAVEFORMATEX format = PcmFormat(c.channels, kRate, c.bits);
        HWAVEIN device = Open(format);
        std::vector<uint8_t> bytes(format.nBlockAlign * 100, 0x5A);
        WAVEHDR header = {};
        header.lpData = reinterpret_cast<LPSTR>(bytes.data());
        header.dwBufferLength = static_cast<DWORD>(bytes.size());
        ASSERT_EQ(waveInPrepareHeader(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        for (int i = 0; i < 1000 && !(header.dwFlags & WHDR_DONE); ++i) ScriptedWaveDevice::Advance(kMs);
        ASSERT_TRUE(header.dwFlags & WHDR_DONE);
        EXPECT_EQ(std::vector<uint8_t>(bytes.end() - format.nBlockAlign, bytes.end()), c.expected);
        Close(device);
    }
}

}  // namespace
