// The PulseAudio backend's main loop: pa_threaded_mainloop's locking on a plain pa_mainloop whose poll we
// make, so that sound nobody can use yet stays in the connection and many pieces cost one wake-up.
// [x] the loop's thread, its lock and signals, a poll deferred until a time we set
// [ ] streams and devices: pulse_wave_device.cpp decides how long to defer
#include "pulse/pulse_loop.h"

#include <poll.h>
#include <pthread.h>
#include <pulse/mainloop.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace w32 {

// All of a loop's state. `readFrom` and `waiters` are also read by the loop thread while it waits unlocked.
struct PulseLoop {
    pa_mainloop* loop = nullptr;
    std::recursive_mutex lock;
    std::condition_variable_any signalled;
    int kick = -1;                          // an eventfd that ends a deferred wait early
    int timer = -1;                         // a timerfd that goes off at readFrom, set by whoever moves it
    std::atomic<pa_usec_t> readFrom{0};     // the connection is left unread until then
    std::atomic<int> waiters{0};            // threads in WaitForPulseLoop: read at once meanwhile
    std::atomic<bool> deferring{false};     // the loop thread is in a deferred wait
    std::atomic<bool> inDeferredWait{false};  // ...and asleep in it
    std::atomic<bool> nudged{false};        // a timer moved earlier: the wait ends
    bool inTurn = false;                    // the latest poll found something (the loop thread's own)
    uint64_t wakeups = 0;                   // polls that found something to read (under the lock)
    std::vector<struct pollfd> watched;        // the loop thread's own, for deferred waits
    void (*released)() = nullptr;
};

namespace {

void Kick(PulseLoop& state) {
    uint64_t one = 1;
    if (write(state.kick, &one, sizeof one) < 0) {
        // The counter is full: the wait ends anyway.
    }
}

void TakeCount(int fd) {
    uint64_t count;
    if (read(fd, &count, sizeof count) < 0) {
        // None waiting.
    }
}

// pa_rtclock time is CLOCK_MONOTONIC's.
struct timespec TimespecOf(pa_usec_t usec) {
    return {static_cast<time_t>(usec / PA_USEC_PER_SEC), static_cast<long>(usec % PA_USEC_PER_SEC * 1000)};
}

// poll's timeout for a wait until `deadline`, rounded up so that it never ends early.
int MillisecondsUntil(pa_usec_t deadline, pa_usec_t now) {
    return deadline <= now ? 0 : static_cast<int>((deadline - now + PA_USEC_PER_MSEC - 1) / PA_USEC_PER_MSEC);
}

// Called by pa_mainloop on the loop thread, which holds the lock once. While the connection is left unread
// the wait watches `fds` for hang-ups and errors only (a server that goes away is noticed at once) and ends
// when `timer` goes off: a thread that moves the time re-arms it without waking the loop (a block placed
// while the loop waits costs no wake-up). A thread that needs the loop at once ends the wait through `kick`
// (WaitForPulseLoop, reading at once); anything else that calls into libpulse meanwhile takes effect when
// it ends.
int PollWithoutLock(struct pollfd* fds, unsigned long count, int timeout, void* userdata) {
    auto& state = *static_cast<PulseLoop*>(userdata);
    state.lock.unlock();
    state.released();
    // A turn goes on while more is there already: libpulse takes one message from the connection a dispatch,
    // and the deferral that reading a piece asks for must not leave the rest of what came before it unread.
    if (state.inTurn) {
        const int ready = poll(fds, count, 0);
        if (ready != 0) {
            state.lock.lock();
            return ready;
        }
        state.inTurn = false;
    }
    const pa_usec_t start = pa_rtclock_now();
    const pa_usec_t deadline = timeout < 0 ? 0 : start + static_cast<pa_usec_t>(timeout) * PA_USEC_PER_MSEC;
    bool nudged = false, slept = false;
    for (;;) {
        state.deferring = true;  // before reading readFrom: a change to "at once" after this read kicks
        const pa_usec_t now = pa_rtclock_now();
        const pa_usec_t from = state.waiters > 0 ? 0 : state.readFrom.load();
        if (from <= now || (timeout >= 0 && deadline <= now)) break;
        const struct timespec untilDeadline = TimespecOf(timeout >= 0 ? deadline - now : 0);
        state.watched.assign(fds, fds + count);
        for (struct pollfd& watched : state.watched) watched.events = 0;  // POLLHUP and POLLERR still come
        state.watched.push_back({state.kick, POLLIN, 0});
        state.watched.push_back({state.timer, POLLIN, 0});
        slept = true;
        state.inDeferredWait = true;
        const int ready = ppoll(state.watched.data(), state.watched.size(), timeout >= 0 ? &untilDeadline : nullptr,
                                nullptr);
        state.inDeferredWait = false;
        if (ready > 0) {
            if (state.watched.back().revents != 0) TakeCount(state.timer);
            if (state.watched[count].revents != 0) TakeCount(state.kick);
            nudged = state.nudged.exchange(false);
            if (nudged) break;
            const bool hungUp = std::any_of(state.watched.begin(), state.watched.begin() + static_cast<long>(count),
                                            [](const struct pollfd& watched) { return watched.revents != 0; });
            if (hungUp) break;
        }
    }
    state.deferring = false;
    const int remaining = nudged ? 0 : timeout < 0 ? -1 : MillisecondsUntil(deadline, pa_rtclock_now());
    // What is there already (the rest of what a wake-up found) is read without sleeping: no wake-up.
    int result = poll(fds, count, 0);
    if (result == 0 && remaining != 0) {
        slept = true;
        result = poll(fds, count, remaining);
    }
    state.lock.lock();
    if (result > 0 && slept) ++state.wakeups;
    state.inTurn = result > 0;
    return result;
}

void Run(PulseLoop* state) {
    pthread_setname_np(pthread_self(), "pulse-capture");  // what pa_threaded_mainloop's thread was to tools
    std::lock_guard<std::recursive_mutex> hold(state->lock);
    int result = 0;
    pa_mainloop_run(state->loop, &result);
}

}  // namespace

PulseLoop* StartPulseLoop(void (*released)()) {
    auto* state = new PulseLoop;  // never destroyed: streams may still close while the process ends
    state->released = released;
    state->loop = pa_mainloop_new();
    state->kick = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    state->timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (state->loop == nullptr || state->kick < 0 || state->timer < 0) {
        if (state->loop) pa_mainloop_free(state->loop);
        if (state->kick >= 0) close(state->kick);
        if (state->timer >= 0) close(state->timer);
        delete state;
        return nullptr;
    }
    pa_mainloop_set_poll_func(state->loop, PollWithoutLock, state);
    try {
        std::thread(Run, state).detach();
    } catch (const std::system_error&) {  // no thread to be had: no sound, as without a server
        pa_mainloop_free(state->loop);
        close(state->kick);
        close(state->timer);
        delete state;
        return nullptr;
    }
    return state;
}

pa_mainloop_api* PulseLoopApi(PulseLoop* loop) { return pa_mainloop_get_api(loop->loop); }

void LockPulseLoop(PulseLoop* loop) { loop->lock.lock(); }
void UnlockPulseLoop(PulseLoop* loop) { loop->lock.unlock(); }

void WaitForPulseLoop(PulseLoop* loop) {
    ++loop->waiters;
    if (loop->deferring) Kick(*loop);
    loop->signalled.wait(loop->lock);
    --loop->waiters;
}

void SignalPulseLoop(PulseLoop* loop) { loop->signalled.notify_all(); }

void DeferPulseReading(PulseLoop* loop, pa_usec_t until) {
    loop->readFrom = until;
    if (until == 0) {
        if (loop->deferring) Kick(*loop);
        return;
    }
    const struct itimerspec at = {{0, 0}, TimespecOf(until)};
    timerfd_settime(loop->timer, TFD_TIMER_ABSTIME, &at, nullptr);
}

pa_usec_t PulseReadingDeferredUntil(const PulseLoop* loop) { return loop->readFrom.load(); }

void NudgePulseLoop(PulseLoop* loop) {
    pa_mainloop_wakeup(loop->loop);
    if (loop->deferring) {
        loop->nudged = true;
        Kick(*loop);
    }
}

pa_usec_t PulseLoopWaitingOut(const PulseLoop* loop) { return loop->inDeferredWait ? loop->readFrom.load() : 0; }

uint64_t PulseLoopWakeups(const PulseLoop* loop) { return loop->wakeups; }

}  // namespace w32
