// A libpulse main loop, locked the way pa_threaded_mainloop is, that can be told to leave its connection
// unread until a given time: on a thread of its own, or in turns of a GLib main context's thread. Leaves out
// stopping: the loop runs until the process ends.
#ifndef PELOMI_WIN32_PULSE_LOOP_H
#define PELOMI_WIN32_PULSE_LOOP_H

#include <glib.h>
#include <pulse/mainloop-api.h>
#include <pulse/sample.h>

namespace w32 {

struct PulseLoop;

// A running loop, or null when none could be made. `released` is called on the loop thread each time it
// lets go of the lock to wait, with no lock held: what callbacks left to do outside it.
// Without `host` the loop has a thread of its own. With one, the calling thread is the loop thread: the loop
// runs in turns of `host`, which that thread iterates (a GTK program's main context), and a wait made on it
// (WaitForPulseLoop) runs the loop itself meanwhile. Sound then reaches that thread's windows without a
// second thread waking to read it.
PulseLoop* StartPulseLoop(void (*released)(), GMainContext* host = nullptr);

pa_mainloop_api* PulseLoopApi(PulseLoop* loop);

// Every call into libpulse from another thread is made holding the lock; the loop's callbacks run with it
// held. The lock may be taken again by the thread holding it.
void LockPulseLoop(PulseLoop* loop);
void UnlockPulseLoop(PulseLoop* loop);

// Holding the lock once: releases it until SignalPulseLoop (or a spurious wake-up), and takes it again.
// While anyone waits, the loop reads its connection at once.
void WaitForPulseLoop(PulseLoop* loop);
void SignalPulseLoop(PulseLoop* loop);

// Holding the lock: from the loop's next wait on, sound arriving before `until` (pa_rtclock time; 0 for none)
// is left in the connection and read in one go at that time, or earlier for a timer of the loop's own; a
// wait already deferred ends at `until` instead, earlier or later, without waking the loop to learn it.
// Replaces the time asked for before.
void DeferPulseReading(PulseLoop* loop, pa_usec_t until);

// Holding the lock: the time asked for last (0 for none).
pa_usec_t PulseReadingDeferredUntil(const PulseLoop* loop);

// Holding the lock: a timer of the loop's was set earlier than its wait allows for: the wait ends now, and
// the loop looks at its timers again.
void NudgePulseLoop(PulseLoop* loop);

// Any thread: the time until which the loop thread is leaving its connection unread in the wait it is in now;
// 0 when it is not in such a wait.
pa_usec_t PulseLoopWaitingOut(const PulseLoop* loop);

// Holding the lock: how many times the loop has slept and woken to read or to serve a call (turns that find
// more already waiting are not counted).
uint64_t PulseLoopWakeups(const PulseLoop* loop);

}  // namespace w32

#endif
