// The PulseAudio backend's loop without a server: a pipe stands for the connection. Reading it is left until
// the time asked for, and brought forward by an earlier time and by a hang-up; a turn takes all that waited,
// however it is read; a timer set meanwhile still goes off. Each case runs on the loop's own thread and on a
// main context that another thread iterates; a wait on the host's own thread runs the loop itself.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <poll.h>
#include <unistd.h>

#include "pulse/pulse_loop.h"

namespace {

constexpr pa_usec_t kLong = 30 * PA_USEC_PER_SEC;  // far beyond any test: reaching it means "never"

// A pipe watched by the loop; every readable turn takes what is there and notes when. With `oneByOne`, a
// dispatch reads one byte and defers reading again until `deferAgain`, as libpulse reads one message of the
// connection a dispatch and the core defers again at every piece.
struct WatchedPipe {
    int ends[2] = {-1, -1};
    int reads = 0;
    pa_usec_t readAt = 0;
    bool hungUp = false;
    pa_io_event* watch = nullptr;
    w32::PulseLoop* loop = nullptr;
    bool oneByOne = false;
    pa_usec_t deferAgain = 0;
};

void OnPipeReadable(pa_mainloop_api* api, pa_io_event* event, int fd, pa_io_event_flags_t flags, void* userdata) {
    auto* pipe = static_cast<WatchedPipe*>(userdata);
    if (flags & PA_IO_EVENT_HANGUP) {  // the writing end closed, as a server's socket does when it goes
        pipe->hungUp = true;
        api->io_free(event);
        pipe->watch = nullptr;
        return;
    }
    char bytes[64];
    if (read(fd, bytes, pipe->oneByOne ? 1 : sizeof bytes) > 0) {
        ++pipe->reads;
        pipe->readAt = pa_rtclock_now();
        if (pipe->oneByOne) w32::DeferPulseReading(pipe->loop, pipe->deferAgain);
    }
}

// The loop's own hook for what waits until its lock is free; it proves the lock free by having another
// thread take it (with the lock still held, the join would never return).
std::atomic<w32::PulseLoop*> probedLoop{nullptr};
std::atomic<int> releasesProbed{0};
void ProbeRelease() {
    w32::PulseLoop* loop = probedLoop.load();
    if (loop == nullptr) return;
    std::thread([loop] {
        w32::LockPulseLoop(loop);
        w32::UnlockPulseLoop(loop);
    }).join();
    ++releasesProbed;
}

// A loop on a thread of its own, or hosted on a main context that a thread of the test's iterates for as
// long as the process lives, as the loop does.
enum class Host { OwnThread, MainContext };

w32::PulseLoop* StartLoop(Host host) {
    if (host == Host::OwnThread) return w32::StartPulseLoop(ProbeRelease);
    std::promise<w32::PulseLoop*> started;
    std::future<w32::PulseLoop*> loop = started.get_future();
    std::thread([&started] {
        GMainContext* context = g_main_context_new();
        started.set_value(w32::StartPulseLoop(ProbeRelease, context));
        for (;;) g_main_context_iteration(context, TRUE);
    }).detach();
    return loop.get();
}

class PulseLoopTest : public ::testing::TestWithParam<Host> {
protected:
    void SetUp() override {
        loop = StartLoop(GetParam());
        ASSERT_NE(loop, nullptr);
        ASSERT_EQ(pipe(watched.ends), 0);
        watched.loop = loop;
        w32::LockPulseLoop(loop);
        pa_mainloop_api* api = w32::PulseLoopApi(loop);
        watched.watch = api->io_new(api, watched.ends[0], PA_IO_EVENT_INPUT, OnPipeReadable, &watched);
        // Once a byte was read, the loop waits on the pipe as usual: what the tests defer applies from its
        // next wait.
        Write();
        ASSERT_TRUE(WaitForReads(1, kLong));
        w32::UnlockPulseLoop(loop);
    }
    void TearDown() override {
        w32::LockPulseLoop(loop);
        w32::DeferPulseReading(loop, 0);
        pa_mainloop_api* api = w32::PulseLoopApi(loop);
        if (watched.watch != nullptr) api->io_free(watched.watch);
        w32::UnlockPulseLoop(loop);
        close(watched.ends[0]);
        if (watched.ends[1] >= 0) close(watched.ends[1]);
        // The loop itself lives on, as the backend's does, until the process ends.
    }

    void Write() { ASSERT_EQ(write(watched.ends[1], "x", 1), 1); }

    // Holding the lock: waits (letting the loop run) until the pipe has been read `count` times, or until
    // `limit` passes; true when it was.
    bool WaitForReads(int count, pa_usec_t limit) {
        const pa_usec_t end = pa_rtclock_now() + limit;
        while (watched.reads < count && pa_rtclock_now() < end) {
            w32::UnlockPulseLoop(loop);
            usleep(1000);
            w32::LockPulseLoop(loop);
        }
        return watched.reads >= count;
    }

    // Holding the lock: asks for reading to be deferred until `until` and waits until the loop is in that
    // deferred wait. It may have been waiting as usual when asked (such a wait ends on the next arrival), so
    // one byte brings it round. Returns the reads so far.
    int SettleIntoDeferredWait(pa_usec_t until) {
        w32::DeferPulseReading(loop, until);
        Write();
        const pa_usec_t end = pa_rtclock_now() + kLong;
        w32::UnlockPulseLoop(loop);
        while (w32::PulseLoopWaitingOut(loop) != until && pa_rtclock_now() < end) usleep(1000);
        w32::LockPulseLoop(loop);
        EXPECT_EQ(w32::PulseLoopWaitingOut(loop), until);
        return watched.reads;
    }

    bool PipeEmpty() const {
        struct pollfd end = {watched.ends[0], POLLIN, 0};
        return poll(&end, 1, 0) == 0;
    }

    w32::PulseLoop* loop = nullptr;
    WatchedPipe watched;
};

// Read in one go, or a byte a dispatch with reading deferred far again after each (a server's pieces queued
// in the connection while the core waited for a block's end: a turn reading only the first of them left the
// rest until the next deferral, and the next, and blocks came late for as long as the backlog lasted).
TEST_P(PulseLoopTest, WhatArrivesWhileDeferredIsReadInOneTurnAtTheTimeAskedForAndNotBefore) {
    for (bool oneByOne : {false, true}) {
        SCOPED_TRACE(oneByOne ? "a byte a dispatch, deferring again" : "in one go");
        w32::LockPulseLoop(loop);
        const pa_usec_t until = pa_rtclock_now() + 300 * PA_USEC_PER_MSEC;
        const int before = SettleIntoDeferredWait(until);
        EXPECT_EQ(w32::PulseReadingDeferredUntil(loop), until);
        watched.oneByOne = oneByOne;
        watched.deferAgain = until + kLong;
        Write();
        Write();
        const int reads = oneByOne ? 2 : 1;
        EXPECT_TRUE(WaitForReads(before + reads, kLong / 2)) << "what waited was left for the next deferral";
        EXPECT_GE(watched.readAt, until);
        EXPECT_EQ(watched.reads, before + reads) << "what waited was taken in one turn";
        EXPECT_TRUE(PipeEmpty());
        watched.oneByOne = false;
        w32::DeferPulseReading(loop, 0);
        w32::UnlockPulseLoop(loop);
    }
}

// A new time moves a deferral already under way, earlier (a block placed) or later (a block placed while
// reading waited for nothing placed), and what came meanwhile is read then, not at the old time.
TEST_P(PulseLoopTest, ANewTimeMovesADeferralAlreadyUnderWay) {
    struct Case {
        const char* what;
        pa_usec_t first, then;  // from now
    } cases[] = {
        {"earlier", kLong, 50 * PA_USEC_PER_MSEC},
        {"later", 50 * PA_USEC_PER_MSEC, 150 * PA_USEC_PER_MSEC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w32::LockPulseLoop(loop);
        const int before = SettleIntoDeferredWait(pa_rtclock_now() + c.first);
        Write();
        const pa_usec_t then = pa_rtclock_now() + c.then;
        w32::DeferPulseReading(loop, then);
        ASSERT_TRUE(WaitForReads(before + 1, kLong / 2));
        EXPECT_GE(watched.readAt, then);
        EXPECT_TRUE(PipeEmpty());
        w32::DeferPulseReading(loop, 0);
        w32::UnlockPulseLoop(loop);
    }
}

void OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    *static_cast<bool*>(userdata) = true;
}

// A timer set while the loop waits with reading deferred goes off at its time, not when the deferral ends.
TEST_P(PulseLoopTest, ATimerSetDuringADeferredWaitGoesOff) {
    w32::LockPulseLoop(loop);
    SettleIntoDeferredWait(pa_rtclock_now() + kLong);
    bool fired = false;
    struct timeval at;
    pa_timeval_add(pa_gettimeofday(&at), 50 * PA_USEC_PER_MSEC);
    pa_mainloop_api* api = w32::PulseLoopApi(loop);
    pa_time_event* timer = api->time_new(api, &at, OnTimer, &fired);
    w32::NudgePulseLoop(loop);
    const pa_usec_t end = pa_rtclock_now() + kLong / 2;
    while (!fired && pa_rtclock_now() < end) {
        w32::UnlockPulseLoop(loop);
        usleep(1000);
        w32::LockPulseLoop(loop);
    }
    EXPECT_TRUE(fired);
    api->time_free(timer);
    w32::UnlockPulseLoop(loop);
}

// What the callbacks leave for later (the wave layer's notifications) is handed over with the lock free: a
// program woken by a notification must not sleep again on the lock the loop thread still holds.
TEST_P(PulseLoopTest, WhatCallbacksLeaveIsHandedOverWithTheLockFree) {
    probedLoop = loop;
    const int before = releasesProbed;
    w32::LockPulseLoop(loop);
    Write();
    ASSERT_TRUE(WaitForReads(2, kLong));
    w32::UnlockPulseLoop(loop);
    const pa_usec_t end = pa_rtclock_now() + kLong;
    while (releasesProbed == before && pa_rtclock_now() < end) usleep(1000);
    probedLoop = nullptr;
    EXPECT_GT(releasesProbed, before);
}

// A server that goes away while reading is deferred is noticed at once, not when the deferral ends.
TEST_P(PulseLoopTest, AHangUpEndsADeferredWait) {
    w32::LockPulseLoop(loop);
    SettleIntoDeferredWait(pa_rtclock_now() + kLong);
    close(watched.ends[1]);
    watched.ends[1] = -1;
    const pa_usec_t end = pa_rtclock_now() + kLong / 2;
    while (!watched.hungUp && pa_rtclock_now() < end) {
        w32::UnlockPulseLoop(loop);
        usleep(1000);
        w32::LockPulseLoop(loop);
    }
    EXPECT_TRUE(watched.hungUp);
    w32::UnlockPulseLoop(loop);
}

INSTANTIATE_TEST_SUITE_P(Hosts, PulseLoopTest, ::testing::Values(Host::OwnThread, Host::MainContext),
                         [](const ::testing::TestParamInfo<Host>& info) {
                             return info.param == Host::OwnThread ? "OwnThread" : "MainContext";
                         });

void OnPipeSignalling(pa_mainloop_api* api, pa_io_event* event, int fd, pa_io_event_flags_t flags, void* pipe) {
    OnPipeReadable(api, event, fd, flags, pipe);
    w32::SignalPulseLoop(static_cast<WatchedPipe*>(pipe)->loop);
}

// The host's own thread: nobody else runs the loop, so a wait there (a wave call waiting for the server)
// runs it, reading at once whatever reading was deferred to; between waits, iterating the host runs it.
TEST(PulseLoopOnTheHostsThread, AWaitRunsTheLoopItselfAndTheHostRunsItBetween) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    const int before = releasesProbed;
    WatchedPipe watched;
    ASSERT_EQ(pipe(watched.ends), 0);
    watched.loop = w32::StartPulseLoop(ProbeRelease, context);
    ASSERT_NE(watched.loop, nullptr);
    w32::LockPulseLoop(watched.loop);
    pa_mainloop_api* api = w32::PulseLoopApi(watched.loop);
    watched.watch = api->io_new(api, watched.ends[0], PA_IO_EVENT_INPUT, OnPipeSignalling, &watched);
    w32::DeferPulseReading(watched.loop, pa_rtclock_now() + kLong);
    ASSERT_EQ(write(watched.ends[1], "x", 1), 1);
    w32::WaitForPulseLoop(watched.loop);
    EXPECT_EQ(watched.reads, 1);
    w32::UnlockPulseLoop(watched.loop);

    ASSERT_EQ(write(watched.ends[1], "x", 1), 1);
    w32::LockPulseLoop(watched.loop);
    w32::DeferPulseReading(watched.loop, 0);
    w32::UnlockPulseLoop(watched.loop);
    probedLoop = watched.loop;
    while (watched.reads < 2) g_main_context_iteration(context, TRUE);
    probedLoop = nullptr;
    EXPECT_GT(releasesProbed, before) << "a turn hands over what its callbacks left, with the lock free";
    g_main_context_pop_thread_default(context);
}

}  // namespace
