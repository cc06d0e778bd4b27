// Wave input and the capture cycle on a real sound server (PulseAudio, or PipeWire's PulseAudio service), on
// a microphone-like source (the session's virtual microphone) and on an untuned stereo virtual sink made
// here (a null sink whose monitor is the default source, as people set one up): tones of known peak come back as blocks of that level, a stereo source's channels are
// averaged, nothing from before a start or after a stop arrives, devices share one stream per rate, the
// server going away is a pause that recording survives without leaking, and a server stopped for a while
// gives full blocks again. Run under scripts/pulse-session
// (PELOMI_PULSE_DIR and PULSE_SERVER set); skipped without it. With PELOMI_PULSE_LOOP=main-context the
// connection is served on the test's own thread, in turns of GLib's main context, as the program on GTK does.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "capture_cycle_fixture.h"
#include "notification_window.h"
#include "pulse/pulse_wave_device.h"
#include "sound_server.h"
#include "testing/headless_display.h"
#include "wave/wave_device.h"

namespace {

using namespace soundtest;
using Notifications = std::vector<Notification>;

// Before any fixture makes its windows; the fixtures' own UsePulseWaveDevice then keeps the loop hosted.
class LoopOnTheMainContext : public ::testing::Environment {
    void SetUp() override {
        const char* loop = std::getenv("PELOMI_PULSE_LOOP");
        if (loop == nullptr || std::strcmp(loop, "main-context") != 0) return;
        w32::UsePulseWaveDeviceOnThisThread();
        w32::UseHeadlessDisplayOnMainContext();
    }
};
::testing::Environment* const loopOnTheMainContext = ::testing::AddGlobalTestEnvironment(new LoopOnTheMainContext);

// What a test records from: the session's microphone-like source, or a stereo null sink made here whose
// monitor nobody tunes.
struct Source {
    const char* name;
    bool untuned;
    uint8_t channels;
};

void PrintTo(const Source& source, std::ostream* out) { *out << source.name; }

class PulseWaveIn : public ::testing::TestWithParam<Source> {
protected:
    void SetUp() override {
        if (!HaveServer()) GTEST_SKIP() << "no private sound server: run under scripts/pulse-session";
        w32::UsePulseWaveDevice();
        if (!source().untuned) return;
        previousSource = Shell("pactl get-default-source");
        previousSink = Shell("pactl get-default-sink");
        module = Shell("pactl load-module module-null-sink sink_name=pelomi_untuned channels=2 rate=44100");
        ASSERT_FALSE(module.empty());
        ASSERT_TRUE(PumpUntil([] {
            return std::system("pactl set-default-source pelomi_untuned.monitor >/dev/null 2>&1 && "
                               "pactl set-default-sink pelomi_untuned >/dev/null 2>&1") == 0 &&
                   Shell("pactl get-default-source") == "pelomi_untuned.monitor";
        }));
    }
    void TearDown() override {
        if (!HaveServer()) return;
        Session("thaw");
        Session("up");  // whatever a test did to the server, the next one finds it running
        window.Pump();
        // The stream outlives the test by a second; gone, the next test's opens record its default source.
        EXPECT_TRUE(PumpUntil([] { return ServerStreams() == 0; }));
        if (!module.empty()) {
            Shell("pactl unload-module " + module);
            Shell("pactl set-default-source " + previousSource);
            Shell("pactl set-default-sink " + previousSink);
        }
    }
    const Source& source() const { return GetParam(); }
    TonePlayer Player() const { return TonePlayer(source().channels, sink()); }
    const char* sink() const { return source().untuned ? "pelomi_untuned" : nullptr; }

    // Keeps the notifications dispatched to the window, every device's.
    void Pump() {
        Notifications more = window.Pump();
        received.insert(received.end(), more.begin(), more.end());
    }

    bool RecordInto(std::vector<char>& buffer, DWORD* recorded) {
        return RecordOnce(window, format, buffer, recorded, &received);
    }
    int RecordBlockLevel() {
        std::vector<char> block(BLOCK_BYTES);
        DWORD recorded = 0;
        EXPECT_TRUE(RecordInto(block, &recorded));
        EXPECT_EQ(recorded, BLOCK_BYTES);
        return Level(block);
    }
    // Records blocks until one shows `level`: what the player now plays has reached the source.
    bool WaitUntilLevel(int level) {
        return PumpUntil([&] { return std::abs(RecordBlockLevel() - level) <= 1; });
    }

    WAVEFORMATEX format = PcmFormat(1, 44100, 8);
    NotificationWindow window;
    Notifications received;
    std::string module, previousSource, previousSink;
};

using PulseWaveInOnDefault = PulseWaveIn;

TEST_P(PulseWaveIn, BlocksComeBackAtThePeakOfTheTonePlayed) {
    TonePlayer player(source().channels, sink());
    for (int amplitude : {0, 12, 45, 90, 127}) {
        SCOPED_TRACE(amplitude);
        player.SetAmplitude(amplitude);
        ASSERT_TRUE(WaitUntilLevel(amplitude));
        for (int block = 0; block < 4; ++block) EXPECT_NEAR(RecordBlockLevel(), amplitude, 1);
    }
    EXPECT_FALSE(player.Failed());
}

// The layer averages a stereo source's channels itself, as PulseAudio does and PipeWire does not.
TEST_P(PulseWaveIn, AStereoSourceReadsTheAverageOfItsChannels) {
    if (source().channels < 2) GTEST_SKIP() << "a mono source";
    TonePlayer player(2, sink());
    player.SetAmplitudes(61, 61);
    ASSERT_TRUE(WaitUntilLevel(61));
    player.SetAmplitudes(60, 0);
    ASSERT_TRUE(WaitUntilLevel(30));
    EXPECT_NEAR(RecordBlockLevel(), 30, 1);
    EXPECT_FALSE(player.Failed());
}

// Block after block, as the program records, every block comes back full and at the tone's peak. On
// PipeWire each piece from the server is exactly the length asked for, a whole number of them to a block:
// a block then ends with a piece and comes back as it arrives (a piece of another length, even a frame
// shorter, would end it inside the next one, up to a piece later, and cost a wake-up more). PulseAudio
// sends pieces as its source posts them, never longer than asked for. The pace and the wake-ups are
// reported, not judged here (the placement and reading rules are pinned on the scripted clock in
// tests/wave; bench/capture measures the pace).
TEST_P(PulseWaveIn, BackToBackBlocksComeBackFullAtTheTonesPeak) {
    TonePlayer player(source().channels, sink());
    player.SetAmplitude(60);
    ASSERT_TRUE(WaitUntilLevel(60));
    const w32::PulseCaptureCounters before = w32::ReadPulseCaptureCounters();
    const Clock::time_point start = Clock::now();
    for (int block = 0; block < 36; ++block) EXPECT_NEAR(RecordBlockLevel(), 60, 1) << block;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const w32::PulseCaptureCounters after = w32::ReadPulseCaptureCounters();
    const uint64_t pieces = after.pieces - before.pieces;
    RecordProperty("blocks_per_second", std::to_string(36 / seconds));
    RecordProperty("pieces_per_block", std::to_string(pieces / 36.0));
    RecordProperty("wakeups_per_block", std::to_string((after.wakeups - before.wakeups) / 36.0));
    EXPECT_EQ(after.longerPieces, before.longerPieces) << "pieces longer than asked for";
    if (Shell("pactl info").find("PipeWire") != std::string::npos) {
        const uint64_t pieceFrames = uint64_t{after.fragmentUsec} * 44100 / 1000000;
        ASSERT_EQ(BLOCK_BYTES % pieceFrames, 0u) << "a block is not a whole number of pieces";
        EXPECT_EQ(after.wholePieces - before.wholePieces, pieces) << "pieces of another length than asked for";
        EXPECT_NEAR(static_cast<double>(pieces), 36.0 * BLOCK_BYTES / pieceFrames, 2) << "pieces lost or split";
    }
    EXPECT_GE(after.clockFrames, 0) << "blocks placed without the stream's clock";
    // Between blocks arriving sound waits with the server, once the clock's answer is in.
    EXPECT_TRUE(PumpUntil([] { return w32::ReadPulseCaptureCounters().readingDeferred; }));
    EXPECT_FALSE(player.Failed());
}

INSTANTIATE_TEST_SUITE_P(Sources, PulseWaveIn,
                         ::testing::Values(Source{"MicrophoneLike", false, 1}, Source{"UntunedVirtualSink", true, 2}),
                         [](const ::testing::TestParamInfo<Source>& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Default, PulseWaveInOnDefault, ::testing::Values(Source{"MicrophoneLike", false, 1}),
                         [](const ::testing::TestParamInfo<Source>& info) { return std::string(info.param.name); });

// Loud sound while the device is open but not started, or stopped, must never show up later; nor the end
// of a loud block in a block started later.
TEST_P(PulseWaveInOnDefault, SoundFromBeforeTheStartIsNeverDelivered) {
    TonePlayer player = Player();
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

    player.SetAmplitude(100);
    ASSERT_TRUE(WaitUntilLevel(100));  // open, not started, while loud...
    player.SetAmplitude(0);
    ASSERT_TRUE(WaitUntilLevel(0));  // ...then quiet
    record(headers[0]);
    EXPECT_LE(Level(buffers[0]), 1);

    player.SetAmplitude(100);
    ASSERT_TRUE(WaitUntilLevel(100));
    record(headers[1]);  // ends loud, in the middle of a piece of loud sound
    EXPECT_NEAR(Level(buffers[1]), 100, 1);
    ASSERT_TRUE(WaitForServerSound(300));  // stopped, still loud
    player.SetAmplitude(0);
    ASSERT_TRUE(WaitUntilLevel(0));
    record(headers[2]);
    EXPECT_LE(Level(buffers[2]), 1);

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    Pump();
    Notifications ours;
    std::copy_if(received.begin(), received.end(), std::back_inserter(ours),
                 [device](const Notification& n) { return n.wParam == reinterpret_cast<WPARAM>(device); });
    EXPECT_EQ(ours, (Notifications{WimOpen(device), WimData(device, &headers[0]),
                                            WimData(device, &headers[1]), WimData(device, &headers[2]),
                                            WimClose(device)}));
}

// The server stream keeps running between blocks; a stopped or reset device must still be cut off from it
// at once. Windows keeps the empty buffers queued through a stop: they too stay untouched until the start.
TEST_P(PulseWaveInOnDefault, NothingReachesABufferOnceStopOrResetHasReturned) {
    TonePlayer player = Player();
    player.SetAmplitude(90);
    ASSERT_TRUE(WaitUntilLevel(90));
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

    for (auto end : {waveInStop, waveInReset}) {
        ASSERT_EQ(end(device), MMSYSERR_NOERROR);
        ASSERT_TRUE(Done(longHeader));
        const DWORD recorded = longHeader.dwBytesRecorded;
        std::fill(tenSeconds.begin(), tenSeconds.end(), '\x5A');
        std::fill(block.begin(), block.end(), '\x5A');
        ASSERT_TRUE(WaitForServerSound(300));
        EXPECT_TRUE(std::all_of(tenSeconds.begin(), tenSeconds.end(), [](char c) { return c == '\x5A'; }));
        EXPECT_EQ(longHeader.dwBytesRecorded, recorded);
        if (end == waveInReset) break;
        EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](char c) { return c == '\x5A'; }));
        EXPECT_FALSE(Done(blockHeader));
        // Started again, the device goes on into the queued buffer, then into the long one added again.
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        ASSERT_TRUE(PumpUntil([&] { return Done(blockHeader); }));
        EXPECT_NEAR(Level(block), 90, 1);
        ASSERT_EQ(waveInAddBuffer(device, &longHeader, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_TRUE(PumpUntil([&] { return longHeader.dwBytesRecorded > 0; }));
    }
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
}

// Devices open at once, in the block format and in 16-bit stereo, each get the tone playing; closing one
// leaves the others recording.
TEST_P(PulseWaveInOnDefault, DevicesOpenAtOnceEachRecordTheSoundInTheirOwnFormat) {
    TonePlayer player = Player();
    WAVEFORMATEX stereo = PcmFormat(2, 44100, 16);
    HWAVEIN devices[3] = {};
    const WAVEFORMATEX* formats[3] = {&format, &format, &stereo};
    std::vector<std::vector<char>> buffers = {std::vector<char>(BLOCK_BYTES), std::vector<char>(BLOCK_BYTES),
                                              std::vector<char>(4 * BLOCK_BYTES)};
    WAVEHDR headers[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(waveInOpen(&devices[i], WAVE_MAPPER, formats[i], window.callback(), 0, CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        Prepare(devices[i], headers[i], buffers[i]);
    }
    for (int amplitude : {60, 30}) {
        player.SetAmplitude(amplitude);
        ASSERT_TRUE(WaitUntilLevel(amplitude));
        for (int i = 0; i < 3; ++i) {
            if (!devices[i]) continue;
            ASSERT_EQ(waveInAddBuffer(devices[i], &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            ASSERT_EQ(waveInStart(devices[i]), MMSYSERR_NOERROR);
        }
        ASSERT_TRUE(PumpUntil([&] { return Done(headers[1]) && Done(headers[2]); }));
        EXPECT_NEAR(Level(buffers[1]), amplitude, 1);
        EXPECT_NEAR(PeakLevel16(buffers[2]), amplitude, 1);
        if (devices[0]) {
            ASSERT_TRUE(PumpUntil([&] { return Done(headers[0]); }));
            EXPECT_NEAR(Level(buffers[0]), amplitude, 1);
            ASSERT_EQ(waveInClose(devices[0]), MMSYSERR_NOERROR);
            devices[0] = nullptr;
        }
    }
    for (int i = 1; i < 3; ++i) ASSERT_EQ(waveInClose(devices[i]), MMSYSERR_NOERROR);
    EXPECT_FALSE(player.Failed());
}

// Opening a device for every block costs no server stream of its own: devices at one rate share one, which
// the server sees go away once no device has been open for a while.
TEST_P(PulseWaveInOnDefault, DevicesShareOneServerStreamPerRateGivenBackAfterTheLastCloses) {
    ASSERT_TRUE(PumpUntil([] { return ServerStreams() == 0; })) << "streams of earlier tests are still held";
    WAVEFORMATEX stereo = PcmFormat(2, 44100, 16), other = PcmFormat(1, 48000, 8);
    HWAVEIN first = nullptr, second = nullptr, third = nullptr;
    ASSERT_EQ(waveInOpen(&first, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&second, WAVE_MAPPER, &stereo, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(ServerStreams(), 1);
    ASSERT_EQ(waveInOpen(&third, WAVE_MAPPER, &other, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(ServerStreams(), 2);

    ASSERT_EQ(waveInClose(third), MMSYSERR_NOERROR);
    EXPECT_TRUE(PumpUntil([] { return ServerStreams() == 1; }));
    ASSERT_EQ(waveInClose(first), MMSYSERR_NOERROR);
    for (int block = 0; block < 20; ++block) {  // the program's cycle: closed and opened again at once
        ASSERT_EQ(waveInClose(second), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInOpen(&second, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(WaitForServerSound(1500));
    EXPECT_EQ(ServerStreams(), 1) << "a device is still open";
    ASSERT_EQ(waveInClose(second), MMSYSERR_NOERROR);
    EXPECT_TRUE(PumpUntil([] { return ServerStreams() == 0; }));
}

// Our choice: once reached, a server that goes away pauses the device. The buffer in flight comes back with
// what it holds, opens and starts still succeed and their blocks wait, and once the server is back the
// block fills with fresh sound. The time that takes is reported, not judged here.
TEST_P(PulseWaveInOnDefault, AServerRestartIsAPauseAfterWhichRecordingResumes) {
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<char> tenSeconds(441000), block(BLOCK_BYTES);
    WAVEHDR header, blockHeader;
    Prepare(device, header, tenSeconds);
    waveInAddBuffer(device, &header, sizeof(WAVEHDR));
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(PumpUntil([&] { return header.dwBytesRecorded > 0; }));

    Session("down");
    ASSERT_TRUE(PumpUntil([&] { return Done(header); }));
    EXPECT_GT(header.dwBytesRecorded, 0u);
    EXPECT_LT(header.dwBytesRecorded, header.dwBufferLength);
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device), WimData(device, &header)}));
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);

    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    Prepare(device, blockHeader, block);
    ASSERT_EQ(waveInAddBuffer(device, &blockHeader, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    EXPECT_EQ(blockHeader.dwBytesRecorded, 0u);

    Session("up");
    const Clock::time_point back = Clock::now();
    TonePlayer player = Player();
    player.SetAmplitude(70);
    ASSERT_TRUE(PumpUntil([&] { return Done(blockHeader); }));
    RecordProperty("resumed_after_ms",
                   std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - back).count()));
    EXPECT_EQ(blockHeader.dwBytesRecorded, BLOCK_BYTES);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaitUntilLevel(70)) << "fresh sound after the restart";
}

// Our choice: an open made before the desktop's sound is ready waits instead of failing: for a server not
// there yet, one with no microphone, or one that takes the connection and answers nothing (a stopped
// process), as the program first connects or as it asks for a new stream. Once there, the block fills with
// the tone played, and stderr said one line when waiting began and one when recording began. PipeWire
// always has a source (a dummy one in the last one's place): there recording begins at once, silent. The
// microphone comes last: the sink loaded anew is no longer kept mixing in small steps.
TEST_P(PulseWaveInOnDefault, AnOpenBeforeTheServerOrItsMicrophoneIsThereWaitsForThem) {
    const bool pipewire = Shell("pactl info").find("PipeWire") != std::string::npos;
    const std::string begins = "the sound server and a microphone are there; recording begins";
    struct Case {
        const char* what;
        void (*withhold)();
        void (*give)();
        const char* news;      // the line said as waiting begins (null: none, nothing waited for)
        bool connectedBefore;  // the program has a stream of another rate: only a new one is asked for
        bool waitsOnPipeWire;
    } cases[] = {
        {"no server", [] { Session("down"); }, [] { Session("up"); },
         "no sound server answers (PulseAudio or PipeWire); recording waits until one does", false, true},
        {"a stopped server", [] { Session("freeze server"); }, [] { Session("thaw"); },
         "no sound server answers (PulseAudio or PipeWire); recording waits until one does", false, true},
        {"a stopped server asked for a new stream", [] { Session("freeze server"); }, [] { Session("thaw"); }, nullptr,
         true, true},
        {"no microphone",
         [] {
             Shell("pactl unload-module module-null-sink");
             // PipeWire's session manager puts its dummy sink in the last one's place a moment later, longer
             // on a busy machine: the case is an open once it is there.
             if (Shell("pactl info").find("PipeWire") != std::string::npos) {
                 EXPECT_TRUE(PumpUntil([] { return !Shell("pactl list short sources").empty(); }));
             }
         },
         [] {
             Shell("pactl load-module module-null-sink sink_name=pelomi_null rate=44100 channels=1");
             Shell("pactl set-default-sink pelomi_null && pactl set-default-source pelomi_null.monitor");
         },
         "the sound server has no microphone; recording waits until there is one", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool waits = !pipewire || c.waitsOnPipeWire;
        w32::UsePulseWaveDevice();  // as at the program's start
        if (c.connectedBefore) {
            std::vector<char> other(4800);
            DWORD recorded = 0;
            const WAVEFORMATEX rate48 = PcmFormat(1, 48000, 8);
            ASSERT_TRUE(RecordOnce(window, rate48, other, &recorded));
        }
        ::testing::internal::CaptureStderr();
        c.withhold();
        HWAVEIN device = nullptr;
        ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
        std::vector<char> block(BLOCK_BYTES);
        WAVEHDR header;
        Prepare(device, header, block);
        ASSERT_EQ(waveInAddBuffer(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device)}));
        if (waits) {
            EXPECT_EQ(header.dwBytesRecorded, 0u);
        }
        c.give();
        const Clock::time_point given = Clock::now();
        TonePlayer player = Player();
        player.SetAmplitude(70);
        ASSERT_TRUE(PumpUntil([&] { return Done(header); }));
        RecordProperty("recording_after_ms_case" + std::to_string(&c - cases),
                       std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - given).count()));
        EXPECT_EQ(header.dwBytesRecorded, BLOCK_BYTES);
        EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
        EXPECT_TRUE(WaitUntilLevel(70)) << "the tone, once there";
        const std::string said = ::testing::internal::GetCapturedStderr();
        const std::string expected = c.news && waits ? "capture_pulse_test: " + std::string(c.news) +
                                                           "\ncapture_pulse_test: " + begins + "\n"
                                                     : "";
        EXPECT_EQ(said, expected);
        window.Pump();
        EXPECT_TRUE(PumpUntil([] { return ServerStreams() == 0; }));
    }
}

// A server stopped for a while and continued hands over what it owes in a burst, with its clock off for
// seconds after: the block waiting through the stop comes back full, and so do the blocks after, at the
// tone's peak (at the program's pace again: bench/capture's stall setups). On PipeWire, its graph's daemon
// alone and the whole server; PulseAudio is one daemon.
TEST_P(PulseWaveInOnDefault, BlocksComeBackFullAtTheTonesPeakAfterTheServerWasStopped) {
    const std::vector<std::string> stops = Shell("pactl info").find("Server Name: pulseaudio") != std::string::npos
                                               ? std::vector<std::string>{"freeze server"}
                                               : std::vector<std::string>{"freeze graph", "freeze all"};
    TonePlayer player = Player();
    player.SetAmplitude(60);
    ASSERT_TRUE(WaitUntilLevel(60));
    for (const std::string& stop : stops) {
        SCOPED_TRACE(stop);
        HWAVEIN device = nullptr;
        ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
        std::vector<char> block(BLOCK_BYTES);
        WAVEHDR header;
        Prepare(device, header, block);
        Session(stop.c_str());
        ASSERT_EQ(waveInAddBuffer(device, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // the stop itself, not a wait for anything
        Session("thaw");
        EXPECT_TRUE(PumpUntil([&] { return Done(header); }));
        EXPECT_EQ(header.dwBytesRecorded, BLOCK_BYTES);
        EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
        // Every block full, and a second of them in a row at the peak. The null sink may make up for the time
        // it stood still at once, faster than the player refills it: the tone has gaps for a moment.
        int inARow = 0;
        EXPECT_TRUE(PumpUntil([&] { return (inARow = std::abs(RecordBlockLevel() - 60) <= 1 ? inARow + 1 : 0) == 12; }));
    }
    EXPECT_FALSE(player.Failed());
}

class PulseCaptureCycle : public CaptureWindowTest {
protected:
    void SetUp() override {
        if (!HaveServer()) GTEST_SKIP() << "no private sound server: run under scripts/pulse-session";
        w32::UsePulseWaveDevice();
        CaptureWindowTest::SetUp();
    }
    void TearDown() override {
        if (!HaveServer()) return;
        CaptureWindowTest::TearDown();
        Session("up");
        anchor.reset();
        if (!control.empty()) Shell("pactl unload-module " + control);
    }
    // Waits until the cycle has drawn `count` more blocks.
    bool Draws(size_t count) {
        size_t closes = 0;
        return PumpUntil([&] {
            for (const Dispatched& d : TakeLog()) closes += d.message == MM_WIM_CLOSE;
            return closes >= count;
        });
    }
    // A restart as clients see it: the server drops every connection and takes none until it is back. On
    // PulseAudio that is its protocol module unloaded and loaded again, through a second socket of its own,
    // in milliseconds; elsewhere, the session's server stopped and started.
    void Restart(bool quick) {
        if (!quick) {
            Session("down");
            Session("up");
            return;
        }
        const std::string socket = std::string(std::getenv("PELOMI_PULSE_DIR")) + "/runtime/native";
        const std::string server = "PULSE_SERVER=unix:" + controlSocket + " ";
        const std::string module =
            Shell(server + "pactl list short modules | grep -F 'socket=" + socket + "' | cut -f1");
        ASSERT_FALSE(module.empty());
        Shell(server + "pactl unload-module " + module);
        Shell(server + "pactl load-module module-native-protocol-unix socket=" + socket + " auth-anonymous=1");
    }
    bool PrepareQuickRestarts() {
        if (Shell("pactl info").find("Server Name: pulseaudio") == std::string::npos) return false;
        controlSocket = std::string(std::getenv("PELOMI_PULSE_DIR")) + "/runtime/control";
        control = Shell("pactl load-module module-native-protocol-unix auth-anonymous=1 socket=" + controlSocket);
        if (!control.empty()) anchor = std::make_unique<LatencyAnchor>("unix:" + controlSocket);
        return !control.empty();
    }
    std::string control, controlSocket;
    std::unique_ptr<LatencyAnchor> anchor;
};

// The cycle survives restarts of its server, drawing again each time it is back, and a hundred of them
// leave no descriptor or thread behind (memory: the sanitizer build runs this too).
TEST_F(PulseCaptureCycle, TheCycleOutlivesServerRestartsWithoutLeaking) {
    const bool quick = PrepareQuickRestarts();
    ASSERT_TRUE(StartCapture(window));
    ASSERT_TRUE(Draws(5));
    EXPECT_EQ(BarWidth(), 5) << "silence";
    const int descriptors = CountEntries("/proc/self/fd"), threads = CountEntries("/proc/self/task");
    const int restarts = quick ? 100 : 3;
    for (int restart = 0; restart < restarts; ++restart) {
        SCOPED_TRACE(restart);
        Restart(quick);
        ASSERT_TRUE(Draws(3));
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
}

}  // namespace
