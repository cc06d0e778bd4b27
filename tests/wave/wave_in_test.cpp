// Wave input on the scripted device: notification order, header flags, return codes, what reaches the
// buffers and what never does, through the public winmm calls and a window's message queue.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "notification_window.h"
#include "testing/headless_display.h"
#include "testing/scripted_wave_device.h"
#include "wave/wave_device.h"

namespace {

using w32::ScriptedWaveDevice;
using Notifications = std::vector<Notification>;

constexpr char kSentinel = 0x5A;

// A buffer and its header, the bytes pre-filled with a sentinel to catch stray writes.
struct Buffer {
    explicit Buffer(size_t size) : bytes(size, kSentinel) {
        header.lpData = bytes.data();
        header.dwBufferLength = static_cast<DWORD>(size);
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    bool HoldsFrom(size_t offset, const std::vector<uint8_t>& sound, size_t count) const {
        return std::memcmp(bytes.data() + offset, sound.data(), count) == 0;
    }
    bool UntouchedFrom(size_t offset) const {
        for (size_t i = offset; i < bytes.size(); ++i)
            if (bytes[i] != kSentinel) return false;
        return true;
    }
    std::vector<char> bytes;
    WAVEHDR header = {};
};

std::vector<uint8_t> Sound(size_t size, uint8_t first) {
    std::vector<uint8_t> sound(size);
    for (size_t i = 0; i < size; ++i) sound[i] = static_cast<uint8_t>(first + i * 7);
    return sound;
}

class WaveIn : public ::testing::Test {
protected:
    void SetUp() override {
        ScriptedWaveDevice::Reset();
    }
    void TearDown() override {
        EXPECT_EQ(ScriptedWaveDevice::Counts().openStreams, 0) << "a device was left open";
    }

    HWAVEIN Open() {
        HWAVEIN device = nullptr;
        EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        return device;
    }
    void PrepareAndAdd(HWAVEIN device, Buffer& buffer) {
        ASSERT_EQ(waveInPrepareHeader(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }

    WAVEFORMATEX format = PcmFormat(1, 44100, 8);
    NotificationWindow window;
};

TEST_F(WaveIn, OneBlockIsAnnouncedOpenDataCloseAndHoldsExactlyWhatWasCaptured) {
    HWAVEIN device = Open();
    Buffer buffer(3675);
    PrepareAndAdd(device, buffer);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::vector<uint8_t> sound = Sound(3675, 3);

    // A slow device: the first part alone does not complete the block.
    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound.data(), 2000));
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device)}));
    EXPECT_EQ(buffer.header.dwFlags, DWORD{WHDR_PREPARED | WHDR_INQUEUE});

    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound.data() + 2000, 1675));
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, &buffer.header)}));
    EXPECT_EQ(buffer.header.dwFlags, DWORD{WHDR_PREPARED | WHDR_DONE});
    EXPECT_EQ(buffer.header.dwBytesRecorded, 3675u);
    EXPECT_TRUE(buffer.HoldsFrom(0, sound, 3675));

    EXPECT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimClose(device)}));
    EXPECT_EQ(ScriptedWaveDevice::Counts().startedStreams, 0);
}

TEST_F(WaveIn, SoundOutsideStartedQueuedBuffersNeverReachesABuffer) {
    HWAVEIN device = Open();
    Buffer first(100), second(100), third(100);
    std::vector<uint8_t> early = Sound(50, 200);
    EXPECT_FALSE(ScriptedWaveDevice::Feed(early)) << "sound before the start must be lost";

    PrepareAndAdd(device, first);
    PrepareAndAdd(device, second);
    EXPECT_FALSE(ScriptedWaveDevice::Feed(early)) << "queued but not started";
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);

    // 250 bytes for 200 bytes of buffers: the last 50 find no buffer and are dropped, not kept for later.
    std::vector<uint8_t> sound = Sound(250, 1);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound));
    PrepareAndAdd(device, third);
    std::vector<uint8_t> later = Sound(10, 90);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(later));
    EXPECT_TRUE(first.HoldsFrom(0, sound, 100));
    EXPECT_TRUE(std::memcmp(second.bytes.data(), sound.data() + 100, 100) == 0);
    EXPECT_TRUE(third.HoldsFrom(0, later, 10));
    EXPECT_TRUE(third.UntouchedFrom(10));

    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    EXPECT_FALSE(ScriptedWaveDevice::Feed(early)) << "sound after the stop must be lost";
    EXPECT_TRUE(third.UntouchedFrom(10));
    EXPECT_EQ(third.header.dwBytesRecorded, 10u);

    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device), WimData(device, &first.header),
                                            WimData(device, &second.header), WimData(device, &third.header),
                                            WimClose(device)}));
}

TEST_F(WaveIn, ClosedForgedAndForeignHandlesFailEveryCallAndTouchNothing) {
    HWAVEIN closed = Open();
    ASSERT_EQ(waveInClose(closed), MMSYSERR_NOERROR);
    window.Pump();
    HWAVEIN reopened = Open();
    EXPECT_NE(reopened, closed) << "a closed handle must not come back";

    const HWAVEIN refused[] = {closed, nullptr, reinterpret_cast<HWAVEIN>(uintptr_t{0x12345}),
                               reinterpret_cast<HWAVEIN>(window.handle())};
    for (HWAVEIN device : refused) {
        Buffer buffer(64);
        buffer.header.dwFlags = WHDR_PREPARED | 0x80;
        buffer.header.dwBytesRecorded = 0x1234;
        WAVEHDR before = buffer.header;
        EXPECT_EQ(waveInPrepareHeader(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInUnprepareHeader(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInAddBuffer(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInStart(device), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInStop(device), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInReset(device), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInClose(device), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(std::memcmp(&before, &buffer.header, sizeof(WAVEHDR)), 0);
        EXPECT_TRUE(buffer.UntouchedFrom(0));
    }
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(reopened)}));
    EXPECT_EQ(waveInClose(reopened), MMSYSERR_NOERROR);
    window.Pump();
}

TEST_F(WaveIn, HeaderFlagsAndTheirReturnCodes) {
    HWAVEIN device = Open();
    Buffer buffer(32);
    WAVEHDR* header = &buffer.header;

    EXPECT_EQ(waveInAddBuffer(device, header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    EXPECT_EQ(waveInUnprepareHeader(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR) << "never prepared";
    EXPECT_EQ(header->dwFlags, 0u);
    EXPECT_EQ(waveInPrepareHeader(device, header, sizeof(WAVEHDR) - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInPrepareHeader(device, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(header->dwFlags, 0u);

    ASSERT_EQ(waveInPrepareHeader(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(header->dwFlags, DWORD{WHDR_PREPARED});
    EXPECT_EQ(waveInPrepareHeader(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR) << "prepared twice";

    // Adding clears what the last use left: the done mark and the recorded count.
    header->dwFlags |= WHDR_DONE;
    header->dwBytesRecorded = 77;
    ASSERT_EQ(waveInAddBuffer(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(header->dwFlags, DWORD{WHDR_PREPARED | WHDR_INQUEUE});
    EXPECT_EQ(header->dwBytesRecorded, 0u);

    EXPECT_EQ(waveInAddBuffer(device, header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(device, header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);
    EXPECT_EQ(header->dwFlags, DWORD{WHDR_PREPARED | WHDR_INQUEUE});
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device)})) << "a refused close posts nothing";

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInUnprepareHeader(device, header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(header->dwFlags, DWORD{WHDR_DONE});
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, header), WimClose(device)}));
}

TEST_F(WaveIn, ResetReturnsEveryQueuedBufferInOrderWithWhatItHolds) {
    HWAVEIN device = Open();
    Buffer first(100), second(100), third(100);
    PrepareAndAdd(device, first);
    PrepareAndAdd(device, second);
    PrepareAndAdd(device, third);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::vector<uint8_t> sound = Sound(130, 9);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound));
    window.Pump();

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, &second.header), WimData(device, &third.header)}));
    EXPECT_EQ(second.header.dwBytesRecorded, 30u);
    EXPECT_EQ(third.header.dwBytesRecorded, 0u);
    for (Buffer* buffer : {&first, &second, &third})
        EXPECT_EQ(buffer->header.dwFlags, DWORD{WHDR_PREPARED | WHDR_DONE});

    // Reset also stops: sound captured afterwards reaches nothing.
    EXPECT_FALSE(ScriptedWaveDevice::Feed(sound));
    EXPECT_TRUE(second.UntouchedFrom(30));
    EXPECT_TRUE(third.UntouchedFrom(0));
    EXPECT_EQ(waveInReset(device), MMSYSERR_NOERROR) << "a second reset finds nothing to return";
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimClose(device)}));
}

TEST_F(WaveIn, StopReturnsOnlyTheBufferBeingFilled) {
    HWAVEIN device = Open();
    EXPECT_EQ(waveInStop(device), MMSYSERR_NOERROR) << "stop before any start";
    Buffer first(100), second(100);
    PrepareAndAdd(device, first);
    PrepareAndAdd(device, second);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInStart(device), MMSYSERR_NOERROR) << "start twice";
    EXPECT_EQ(ScriptedWaveDevice::Counts().starts, 1);

    // Our choice: a buffer that received nothing is empty and stays queued.
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device)}));
    EXPECT_EQ(first.header.dwFlags, DWORD{WHDR_PREPARED | WHDR_INQUEUE});

    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::vector<uint8_t> sound = Sound(10, 40);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound));
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, &first.header)}));
    EXPECT_EQ(first.header.dwBytesRecorded, 10u);
    EXPECT_EQ(second.header.dwFlags, DWORD{WHDR_PREPARED | WHDR_INQUEUE});
    EXPECT_EQ(waveInStop(device), MMSYSERR_NOERROR) << "stop twice";
    EXPECT_EQ(window.Pump(), Notifications{});

    // Started again, recording carries on into the buffer left queued.
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound));
    EXPECT_TRUE(second.HoldsFrom(0, sound, 10));
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, &second.header), WimClose(device)}));
}

TEST_F(WaveIn, RefusedOpensReturnTheirCodeLeaveTheHandleAndPostNothing) {
    HWND gone = testwin::CreateClientWindow(10, 10);
    ASSERT_TRUE(DestroyWindow(gone));
    const WAVEFORMATEX pcm = format;
    WAVEFORMATEX floatFormat = PcmFormat(1, 44100, 32);
    floatFormat.wFormatTag = 3;
    WAVEFORMATEX wrongAlign = pcm;
    wrongAlign.nBlockAlign = 2;
    WAVEFORMATEX noChannels = pcm;
    noChannels.nChannels = 0;
    const WAVEFORMATEX deep = PcmFormat(1, 44100, 24);

    struct Case {
        const char* what;
        UINT id;
        const WAVEFORMATEX* format;
        DWORD_PTR callback;
        DWORD flags;
        MMRESULT expected;
    } cases[] = {
        {"second device", 1, &pcm, window.callback(), CALLBACK_WINDOW, MMSYSERR_BADDEVICEID},
        {"float samples", WAVE_MAPPER, &floatFormat, window.callback(), CALLBACK_WINDOW, WAVERR_BADFORMAT},
        {"24-bit samples", WAVE_MAPPER, &deep, window.callback(), CALLBACK_WINDOW, WAVERR_BADFORMAT},
        {"wrong alignment", WAVE_MAPPER, &wrongAlign, window.callback(), CALLBACK_WINDOW, WAVERR_BADFORMAT},
        {"no channels", WAVE_MAPPER, &noChannels, window.callback(), CALLBACK_WINDOW, WAVERR_BADFORMAT},
        {"no format", WAVE_MAPPER, nullptr, window.callback(), CALLBACK_WINDOW, MMSYSERR_INVALPARAM},
        {"destroyed window", WAVE_MAPPER, &pcm, reinterpret_cast<DWORD_PTR>(gone), CALLBACK_WINDOW,
         MMSYSERR_INVALPARAM},
        {"function callback", WAVE_MAPPER, &pcm, 0, CALLBACK_FUNCTION, MMSYSERR_NOTSUPPORTED},
        {"unknown callback kind", WAVE_MAPPER, &pcm, 0, 0x00040000, MMSYSERR_INVALFLAG},
        {"unknown flag", WAVE_MAPPER, &pcm, window.callback(), CALLBACK_WINDOW | 0x100, MMSYSERR_INVALFLAG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto sentinel = reinterpret_cast<HWAVEIN>(uintptr_t{0xDEAD});
        HWAVEIN device = sentinel;
        EXPECT_EQ(waveInOpen(&device, c.id, c.format, c.callback, 0, c.flags), c.expected);
        EXPECT_EQ(device, sentinel);
        EXPECT_EQ(window.Pump(), Notifications{});
    }
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &pcm, window.callback(), 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(ScriptedWaveDevice::Counts().opens, 0);
}

TEST_F(WaveIn, QueriesAndSilentDevicesOpenWithoutNotifications) {
    // A format query opens nothing that stays open, and a null device pointer is fine for it.
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW | WAVE_FORMAT_QUERY),
              MMSYSERR_NOERROR);
    const WAVEFORMATEX stereo16 = PcmFormat(2, 48000, 16);
    EXPECT_EQ(waveInOpen(nullptr, 0, &stereo16, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(ScriptedWaveDevice::Counts().openStreams, 0);
    EXPECT_EQ(waveInGetNumDevs(), 1u);

    // CALLBACK_NULL: the program learns of the block only from the header.
    HWAVEIN device = nullptr;
    ASSERT_EQ(waveInOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Buffer buffer(16);
    PrepareAndAdd(device, buffer);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(Sound(16, 0)));
    EXPECT_EQ(buffer.header.dwFlags, DWORD{WHDR_PREPARED | WHDR_DONE});
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), Notifications{});
}

// Our choice: a server that goes away pauses the device rather than removing it: the buffer being filled
// comes back with what it holds, and the device goes on once the server answers again.
TEST_F(WaveIn, ALostServerReturnsTheBufferWithWhatItHoldsAndTheDeviceGoesOn) {
    HWAVEIN device = Open();
    Buffer buffer(3675), spare(100);
    PrepareAndAdd(device, buffer);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    std::vector<uint8_t> sound = Sound(1000, 17);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound));

    ScriptedWaveDevice::LoseSource();
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device), WimData(device, &buffer.header)}));
    EXPECT_EQ(buffer.header.dwFlags, DWORD{WHDR_PREPARED | WHDR_DONE});
    EXPECT_EQ(buffer.header.dwBytesRecorded, 1000u);
    EXPECT_TRUE(buffer.HoldsFrom(0, sound, 1000));
    EXPECT_TRUE(buffer.UntouchedFrom(1000));

    PrepareAndAdd(device, spare);
    ASSERT_TRUE(ScriptedWaveDevice::Feed(sound));
    EXPECT_TRUE(spare.HoldsFrom(0, sound, 100));
    EXPECT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, &spare.header), WimClose(device)}));
}

// A second thread captures without pause, as a real device does. Whenever reset or close returns, the
// buffer must stay as it was left, and every block must still be announced OPEN, DATA, CLOSE.
TEST_F(WaveIn, NothingIsWrittenAfterResetWhileAnotherThreadCaptures) {
    std::atomic<bool> running{true};
    std::thread capturing([&running] {
        std::vector<uint8_t> sound = Sound(64, 1);
        while (running.load()) ScriptedWaveDevice::Feed(sound);
    });
    Buffer buffer(3675);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        HWAVEIN device = Open();
        PrepareAndAdd(device, buffer);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        if (round % 2) std::this_thread::yield();
        ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
        DWORD recorded = buffer.header.dwBytesRecorded;
        std::memset(buffer.bytes.data(), kSentinel, buffer.bytes.size());
        std::this_thread::yield();
        EXPECT_TRUE(buffer.UntouchedFrom(0));
        EXPECT_EQ(buffer.header.dwBytesRecorded, recorded);
        EXPECT_EQ(window.Pump(),
                  (Notifications{WimOpen(device), WimData(device, &buffer.header), WimClose(device)}));
    }
    running = false;
    capturing.join();
}

// The headless display, with a hook run on every wake-up of a thread's queue: a post from another thread.
std::function<void()>& OnWake() {
    static std::function<void()> hook;
    return hook;
}
void UseDisplayWithWakeHook() {
    static w32::DisplayBackend display = [] {
        w32::DisplayBackend backend = w32::HeadlessDisplayBackend();
        static void (*headlessWake)(w32::MessageWait&) = backend.Wake;
        backend.name = "headless, wake hook";
        backend.Wake = [](w32::MessageWait& wait) {
            if (OnWake()) OnWake()();
            headlessWake(wait);
        };
        return backend;
    }();
    w32::InstallDisplayBackend(display);
}

// Our choice: a wave call with no notification of its own returns while the capture thread is still posting
// its DATA, as the program's thread, woken by that very DATA, calls back at once: were it to wait for the
// capture thread to finish, it would only sleep and be woken again.
TEST_F(WaveIn, ACallWithNothingToPostDoesNotWaitForTheCaptureThreadPosting) {
    UseDisplayWithWakeHook();
    HWAVEIN device = Open();
    Buffer first(100), second(100);
    PrepareAndAdd(device, first);
    ASSERT_EQ(waveInPrepareHeader(device, &second.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimOpen(device)}));

    std::promise<void> posting, release;
    std::shared_future<void> released = release.get_future().share();
    const std::thread::id tester = std::this_thread::get_id();
    OnWake() = [&posting, released, tester] {
        if (std::this_thread::get_id() == tester) return;
        posting.set_value();
        released.wait();
    };
    std::thread capturing([] { ScriptedWaveDevice::Feed(Sound(100, 1)); });
    posting.get_future().wait();  // the capture thread is inside the DATA's post
    auto added = std::async(std::launch::async,
                            [device, &second] { return waveInAddBuffer(device, &second.header, sizeof(WAVEHDR)); });
    // Bounded only so that a failure ends the test instead of hanging it.
    const bool returned = added.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    release.set_value();
    capturing.join();
    OnWake() = nullptr;
    EXPECT_TRUE(returned) << "waveInAddBuffer waited for the capture thread's post";
    EXPECT_EQ(added.get(), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, &first.header)}));

    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(window.Pump(), (Notifications{WimData(device, &second.header), WimClose(device)}));
}

}  // namespace
