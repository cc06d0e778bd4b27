// The capture cycle on the scripted device: the order of the wave calls and notifications of a block, what
// each completed block draws, the next block requested before the draw, stopping at every point of the
// cycle, and devices that fail or go away. Observed through the window's messages and pixels.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <vector>

#include "capture_cycle_fixture.h"
#include "testing/scripted_wave_device.h"
#include "wave/wave_device.h"

namespace {

using w32::ScriptedWaveDevice;
using Dispatches = std::vector<Dispatched>;

class CaptureCycle : public CaptureWindowTest {
protected:
    void SetUp() override {
        ScriptedWaveDevice::Reset();
        CaptureWindowTest::SetUp();
    }
    void TearDown() override {
        CaptureWindowTest::TearDown();
        EXPECT_EQ(ScriptedWaveDevice::Counts().openStreams, 0) << "the cycle left a device open";
        ScriptedWaveDevice::Reset();
    }

    // Starts the cycle and lets the first open notification start the recording.
    HWAVEIN StartRecording() {
        EXPECT_TRUE(StartCapture(window));
        HWAVEIN first = captureDevice;
        testwin::PumpMessages();
        EXPECT_EQ(TakeLog(), (Dispatches{{MM_WIM_OPEN, first}}));
        EXPECT_EQ(ScriptedWaveDevice::Counts().startedStreams, 1);
        return first;
    }
};

TEST_F(CaptureCycle, OneBlockOpensRecordsClosesThenDrawsAndReopens) {
    ASSERT_TRUE(StartCapture(window));
    EXPECT_EQ(blockHeader.lpData, reinterpret_cast<LPSTR>(blockBuffer));
    EXPECT_EQ(blockHeader.dwBufferLength, BLOCK_BYTES);
    EXPECT_EQ(blockHeader.dwFlags, DWORD{WHDR_PREPARED});
    EXPECT_EQ(blockFormat.nSamplesPerSec, 44100u);
    EXPECT_EQ(blockFormat.nChannels, 1);
    EXPECT_EQ(blockFormat.wBitsPerSample, 8);
    HWAVEIN first = captureDevice;
    EXPECT_EQ(ScriptedWaveDevice::Counts().starts, 0) << "recording starts only at the open notification";

    testwin::PumpMessages();
    EXPECT_EQ(TakeLog(), (Dispatches{{MM_WIM_OPEN, first}}));
    EXPECT_EQ(blockHeader.dwFlags, DWORD{WHDR_PREPARED | WHDR_INQUEUE});
    EXPECT_EQ(BarWidth(), 0) << "nothing is drawn before a block is complete";

    ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(60)));
    testwin::PumpMessages();
    HWAVEIN second = captureDevice;
    EXPECT_NE(second, first);
    EXPECT_EQ(TakeLog(), (Dispatches{{MM_WIM_DATA, first}, {MM_WIM_CLOSE, first}, {MM_WIM_OPEN, second}}));
    w32::ScriptedWaveCounts counts = ScriptedWaveDevice::Counts();
    EXPECT_EQ(counts.opens, 2);
    EXPECT_EQ(counts.stops, 1);
    EXPECT_EQ(counts.closes, 1);
    EXPECT_EQ(counts.startedStreams, 1) << "the next block is recording";
    EXPECT_EQ(BarWidth(), 60 + 5);
    EXPECT_EQ(CellCorner(), CornerOfStep(2));
}

TEST_F(CaptureCycle, EveryCompletedBlockIsDrawnOnceFromTheWholeBuffer) {
    StartRecording();
    struct Expected {
        int level;
        int step;
    } blocks[] = {{0, 0}, {22, 0}, {23, 1}, {127, 4}, {71, 2}, {72, 3}};
    for (const Expected& block : blocks) {
        SCOPED_TRACE(block.level);
        ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(block.level)));
        testwin::PumpMessages();
        EXPECT_EQ(BarWidth(), block.level + 5);
        EXPECT_EQ(CellCorner(), CornerOfStep(block.step));
        // Nothing is drawn again until the next block is complete.
        Blank();
        ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(100).data(), BLOCK_BYTES - 1));
        testwin::PumpMessages();
        EXPECT_EQ(BarWidth(), 0);
        ScriptedWaveDevice::LoseSource();  // give the partial block back, as a lost source does
        testwin::PumpMessages();
        EXPECT_EQ(BarWidth(), 100 + 5);
    }
    EXPECT_EQ(ScriptedWaveDevice::Counts().opens, 1 + 2 * 6);
}

// A short block is measured over all BLOCK_BYTES: what the previous block left beyond the recorded bytes
// counts too.
TEST_F(CaptureCycle, AShortBlockIsMeasuredOverTheWholeBuffer) {
    StartRecording();
    ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(90)));
    testwin::PumpMessages();
    ASSERT_EQ(BarWidth(), 90 + 5);

    std::vector<uint8_t> quiet(100, 128);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(quiet));
    ScriptedWaveDevice::LoseSource();
    testwin::PumpMessages();
    EXPECT_EQ(blockHeader.dwBytesRecorded, 0u) << "the header was queued again for the next block";
    EXPECT_EQ(BarWidth(), 90 + 5);
    TakeLog();
    EXPECT_EQ(ScriptedWaveDevice::Counts().startedStreams, 1) << "the cycle goes on after a lost source";
}

TEST_F(CaptureCycle, TheNextBlockIsRequestedBeforeTheBlockIsDrawn) {
    StartRecording();
    int barAtReopen = -1;
    int closesAtReopen = -1;
    ScriptedWaveDevice::OnOpen([&] {
        barAtReopen = BarWidth();
        closesAtReopen = ScriptedWaveDevice::Counts().closes;
    });
    ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(40)));
    testwin::PumpMessages();
    EXPECT_EQ(closesAtReopen, 1) << "the finished block's device is closed first";
    EXPECT_EQ(barAtReopen, 0) << "the block was drawn before the next one was requested";
    EXPECT_EQ(BarWidth(), 40 + 5);
}

TEST_F(CaptureCycle, StoppingWhileRecordingEndsTheDeviceBeforeTheBufferGoes) {
    StartRecording();
    std::vector<uint8_t> part(1000, 200);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(part));
    Blank();

    StopCapture();
    w32::ScriptedWaveCounts counts = ScriptedWaveDevice::Counts();
    EXPECT_EQ(counts.stops, 1);
    EXPECT_EQ(counts.closes, 1);
    EXPECT_EQ(counts.openStreams, 0);
    EXPECT_EQ(blockHeader.dwFlags & (WHDR_DONE | WHDR_INQUEUE), DWORD{WHDR_DONE});
    EXPECT_EQ(blockHeader.dwBytesRecorded, 1000u);

    FreeCaptureBuffer();
    EXPECT_FALSE(ScriptedWaveDevice::Feed(part)) << "no device is left to write into the freed buffer";
    // The notifications the stop caused still arrive; the stopped cycle neither reopens nor draws.
    testwin::PumpMessages();
    EXPECT_EQ(TakeLog().size(), 2u);
    EXPECT_EQ(ScriptedWaveDevice::Counts().opens, 1);
    EXPECT_EQ(BarWidth(), 0);
}

TEST_F(CaptureCycle, StoppingBetweenDataAndCloseFindsTheDeviceClosed) {
    HWAVEIN first = StartRecording();
    ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(50)));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    ASSERT_EQ(msg.message, static_cast<UINT>(MM_WIM_DATA));
    DispatchMessageA(&msg);  // stops and closes; the close notification waits in the queue
    Blank();

    StopCapture();
    w32::ScriptedWaveCounts counts = ScriptedWaveDevice::Counts();
    EXPECT_EQ(counts.stops, 1);
    EXPECT_EQ(counts.closes, 1);
    EXPECT_EQ(waveInReset(first), MMSYSERR_INVALHANDLE);
    FreeCaptureBuffer();

    testwin::PumpMessages();
    EXPECT_EQ(TakeLog(), (Dispatches{{MM_WIM_DATA, first}, {MM_WIM_CLOSE, first}}));
    EXPECT_EQ(ScriptedWaveDevice::Counts().opens, 1) << "a stopped cycle does not reopen";
    EXPECT_EQ(BarWidth(), 0) << "nor draw";
}

TEST_F(CaptureCycle, ALostServerOnlyPausesTheCycle) {
    // The block in flight comes back and is drawn (over the whole buffer, so as the last one), the cycle
    // opens again and its block waits, without sound, until the server is back.
    HWAVEIN first = StartRecording();
    ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(30)));
    testwin::PumpMessages();
    HWAVEIN second = captureDevice;
    TakeLog();
    ScriptedWaveDevice::ServerDown();
    testwin::PumpMessages();
    EXPECT_EQ(TakeLog(), (Dispatches{{MM_WIM_DATA, second}, {MM_WIM_CLOSE, second}, {MM_WIM_OPEN, captureDevice}}));
    EXPECT_NE(first, second);
    EXPECT_EQ(BarWidth(), 30 + 5);
    ScriptedWaveDevice::Advance(3000000);
    EXPECT_FALSE(ScriptedWaveDevice::Feed(BlockOfLevel(80)));
    testwin::PumpMessages();
    EXPECT_EQ(TakeLog(), Dispatches{});

    ScriptedWaveDevice::ServerUp();
    ScriptedWaveDevice::Advance(600000);  // the next reconnect
    ASSERT_TRUE(ScriptedWaveDevice::Feed(BlockOfLevel(80)));
    testwin::PumpMessages();
    EXPECT_EQ(BarWidth(), 80 + 5);
}

TEST_F(CaptureCycle, ImmediateBlocksKeepTheCycleGoingAtTheDevicesPace) {
    for (int level : {10, 20, 30, 40}) ScriptedWaveDevice::QueueImmediate(BlockOfLevel(level));
    ASSERT_TRUE(StartCapture(window));
    int dispatched = 0;
    while (testwin::PumpMessages() > 0) ++dispatched;
    // Four blocks drawn, the fifth open waits on a device with nothing more to give.
    EXPECT_EQ(BarWidth(), 40 + 5);
    w32::ScriptedWaveCounts counts = ScriptedWaveDevice::Counts();
    EXPECT_EQ(counts.opens, 5);
    EXPECT_EQ(counts.closes, 4);
    EXPECT_EQ(counts.startedStreams, 1);
    EXPECT_GT(dispatched, 0);
}

}  // namespace
