// The PulseAudio backend's main loop: pa_threaded_mainloop's locking on a plain pa_mainloop whose poll we
// make, so that sound nobody can use yet stays in the connection and many pieces cost one wake-up.
// [x] the loop's thread, its lock and signals, a poll deferred until a time we set
// [x] hosted: turns of a GLib main context's thread, and waits on that thread that run the loop themselves
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

#include <glib.h>

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
    // Hosted on a main context: the source that runs the loop's turns there and what it polls (GLib keeps
    // the addresses of `polled`), libpulse's descriptors and next timer as of its latest poll, and the state
    // of a wait on the host's thread.
    std::thread::id hostThread;
    GSource* source = nullptr;
    std::vector<GPollFD> polled;
    GPollFD timerPolled = {};
    std::vector<struct pollfd> wanted;
    pa_usec_t timerDue = 0;            // 0: none
    std::atomic<bool> changed{false};  // libpulse was called outside a turn: what it polls may differ
    bool woke = false;                 // the turn to come was woken by a descriptor or a time
    bool turning = false, waitingHere = false, signalledHere = false;
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

// Whether the connection is left unread now: nobody waits for the loop and the time asked for is ahead.
bool ReadingDeferred(const PulseLoop& state, pa_usec_t now) { return state.waiters == 0 && state.readFrom > now; }

// A turn goes on while more is there already: libpulse takes one message from the connection a dispatch,
// and the deferral that reading a piece asks for must not leave the rest of what came before it unread.
// What the poll found, or 0 when the turn is over.
int GoOnWithTurn(PulseLoop& state, struct pollfd* fds, unsigned long count) {
    if (!state.inTurn) return 0;
    const int ready = poll(fds, count, 0);
    if (ready == 0) state.inTurn = false;
    return ready;
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
    if (const int ready = GoOnWithTurn(state, fds, count)) {
        state.lock.lock();
        return ready;
    }
    const pa_usec_t start = pa_rtclock_now();
    const pa_usec_t deadline = timeout < 0 ? 0 : start + static_cast<pa_usec_t>(timeout) * PA_USEC_PER_MSEC;
    bool nudged = false, slept = false;
    for (;;) {
        state.deferring = true;  // before reading readFrom: a change to "at once" after this read kicks
        const pa_usec_t now = pa_rtclock_now();
        if (!ReadingDeferred(state, now) || (timeout >= 0 && deadline <= now)) break;
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

// A hosted loop (StartPulseLoop with a host) runs in turns of a GLib source: the host's poll waits on what
// libpulse's latest poll asked for, reading deferred as on a thread of its own (only hang-ups and the timer
// wake it), and a turn runs libpulse's iterations, none of them sleeping, until one dispatches nothing.
constexpr int kTurnIterations = 64;  // then the next turn follows at once, so the host's other sources run

struct HostedSource {
    GSource base;
    PulseLoop* loop;
};

PulseLoop& LoopOf(GSource* source) { return *reinterpret_cast<HostedSource*>(source)->loop; }

// libpulse's poll inside a turn: records what it asks for, for the host's next wait, and reads what is there
// without sleeping; a turn goes on while more is there, as PollWithoutLock's do. Inside a wait on the host's
// thread it sleeps, reading at once.
int PollInTurn(struct pollfd* fds, unsigned long count, int timeout, void* userdata) {
    auto& state = *static_cast<PulseLoop*>(userdata);
    const pa_usec_t now = pa_rtclock_now();
    state.wanted.assign(fds, fds + count);
    state.timerDue = timeout < 0 ? 0 : now + static_cast<pa_usec_t>(timeout) * PA_USEC_PER_MSEC;
    if (state.waitingHere) return poll(fds, count, timeout);
    if (const int ready = GoOnWithTurn(state, fds, count)) return ready;
    int ready = 0;
    if (ReadingDeferred(state, now)) {
        state.watched.assign(fds, fds + count);
        for (struct pollfd& watched : state.watched) watched.events = 0;  // POLLHUP and POLLERR still come
        ready = poll(state.watched.data(), count, 0);
        for (unsigned long i = 0; i < count; ++i) fds[i].revents = state.watched[i].revents;
    } else {
        ready = poll(fds, count, 0);
    }
    state.inTurn = ready > 0;
    return ready;
}

// The host polls the descriptors libpulse polled last: the same ones, or new ones in their place.
void Repoll(PulseLoop& state) {
    bool same = state.polled.size() == state.wanted.size();
    for (size_t i = 0; same && i < state.wanted.size(); ++i) same = state.polled[i].fd == state.wanted[i].fd;
    if (same) return;
    for (GPollFD& polled : state.polled) g_source_remove_poll(state.source, &polled);
    state.polled.assign(state.wanted.size(), GPollFD{});
    for (size_t i = 0; i < state.wanted.size(); ++i) {
        state.polled[i].fd = state.wanted[i].fd;
        g_source_add_poll(state.source, &state.polled[i]);
    }
}

void Turn(PulseLoop& state) {
    state.lock.lock();
    state.turning = true;
    state.changed = false;
    if (state.woke) ++state.wakeups;
    if (state.timerPolled.revents != 0) TakeCount(state.timer);
    for (int i = 0; pa_mainloop_iterate(state.loop, 1, nullptr) > 0; ++i) {  // PollInTurn never sleeps here
        if (i + 1 == kTurnIterations) {
            state.changed = true;
            break;
        }
    }
    Repoll(state);
    state.turning = false;
    state.lock.unlock();
    state.released();
}

gboolean PrepareTurn(GSource* source, gint* timeout) {
    PulseLoop& state = LoopOf(source);
    const pa_usec_t now = pa_rtclock_now();
    *timeout = 0;
    if (state.changed || (state.timerDue != 0 && state.timerDue <= now)) return TRUE;
    const bool deferring = ReadingDeferred(state, now);
    for (size_t i = 0; i < state.polled.size(); ++i)
        state.polled[i].events = deferring ? 0 : static_cast<gushort>(state.wanted[i].events);
    state.inDeferredWait = deferring;
    *timeout = state.timerDue == 0 ? -1 : MillisecondsUntil(state.timerDue, now);
    return FALSE;
}

// What the host's wait found is read in the turn, as a poll of the loop's own thread reads what woke it: the
// deferral asked for meanwhile applies from the next wait.
gboolean CheckTurn(GSource* source) {
    PulseLoop& state = LoopOf(source);
    state.inDeferredWait = false;
    const bool found = std::any_of(state.polled.begin(), state.polled.end(),
                                   [](const GPollFD& polled) { return polled.revents != 0; });
    state.inTurn = state.inTurn || found;
    state.woke = found || state.timerPolled.revents != 0 || (state.timerDue != 0 && state.timerDue <= pa_rtclock_now());
    return state.woke || state.changed;
}

gboolean DispatchTurn(GSource* source, GSourceFunc, gpointer) {
    Turn(LoopOf(source));
    return G_SOURCE_CONTINUE;
}

GSourceFuncs turnFunctions = {PrepareTurn, CheckTurn, DispatchTurn, nullptr, nullptr, nullptr};

void Host(PulseLoop* state, GMainContext* host) {
    pa_mainloop_set_poll_func(state->loop, PollInTurn, state);
    state->hostThread = std::this_thread::get_id();
    state->source = g_source_new(&turnFunctions, sizeof(HostedSource));
    reinterpret_cast<HostedSource*>(state->source)->loop = state;
    state->timerPolled = {state->timer, G_IO_IN, 0};
    g_source_add_poll(state->source, &state->timerPolled);
    // GLib takes a source that may not recurse out of the poll while it dispatches and puts it back after,
    // waking the context once a descriptor: each turn would cost the host's loop another round. A turn never
    // runs the host's loop, and what it calls after its own (`released`) finds the loop idle.
    g_source_set_can_recurse(state->source, TRUE);
    state->changed = true;  // the first turn learns what to poll
    g_source_attach(state->source, host);
}

bool OnHostThread(const PulseLoop& state) {
    return state.source != nullptr && std::this_thread::get_id() == state.hostThread;
}

// Another thread moved what the host's wait must see (an earlier time, reading at once).
void WakeHost(PulseLoop& state) {
    if (state.source == nullptr || state.turning) return;  // a turn polls again before it ends
    state.changed = true;
    if (!OnHostThread(state)) g_main_context_wakeup(g_source_get_context(state.source));
}

}  // namespace

PulseLoop* StartPulseLoop(void (*released)(), GMainContext* host) {
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
    if (host != nullptr) {
        Host(state, host);
        return state;
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
// A hosted loop's turns record what libpulse polls; calls made between them may change it.
void UnlockPulseLoop(PulseLoop* loop) {
    if (loop->source != nullptr && !loop->turning) loop->changed = true;
    loop->lock.unlock();
}

// On a hosted loop's own thread nobody else runs the loop: the wait runs it, reading at once, with the lock
// kept (no other thread takes it there). Never from the loop's callbacks.
void WaitForPulseLoop(PulseLoop* loop) {
    if (OnHostThread(*loop)) {
        if (loop->turning || loop->waitingHere) return;
        loop->waitingHere = true;
        loop->signalledHere = false;
        while (!loop->signalledHere && pa_mainloop_iterate(loop->loop, 1, nullptr) >= 0) {
        }
        loop->waitingHere = false;
        loop->changed = true;
        return;
    }
    ++loop->waiters;
    if (loop->deferring) Kick(*loop);
    WakeHost(*loop);
    loop->signalled.wait(loop->lock);
    --loop->waiters;
}

void SignalPulseLoop(PulseLoop* loop) {
    loop->signalledHere = true;
    loop->signalled.notify_all();
}

void DeferPulseReading(PulseLoop* loop, pa_usec_t until) {
    loop->readFrom = until;
    if (until == 0) {
        if (loop->deferring) Kick(*loop);
        WakeHost(*loop);
        return;
    }
    const struct itimerspec at = {{0, 0}, TimespecOf(until)};
    timerfd_settime(loop->timer, TFD_TIMER_ABSTIME, &at, nullptr);
}

pa_usec_t PulseReadingDeferredUntil(const PulseLoop* loop) { return loop->readFrom.load(); }

void NudgePulseLoop(PulseLoop* loop) {
    pa_mainloop_wakeup(loop->loop);
    WakeHost(*loop);
    if (loop->deferring) {
        loop->nudged = true;
        Kick(*loop);
    }
}

pa_usec_t PulseLoopWaitingOut(const PulseLoop* loop) { return loop->inDeferredWait ? loop->readFrom.load() : 0; }

uint64_t PulseLoopWakeups(const PulseLoop* loop) { return loop->wakeups; }

}  // namespace w32
