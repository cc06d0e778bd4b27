// Inside the capture core: its state, shared by the sound side (wave_capture.cpp: where blocks start, what
// is kept, when to read) and the server side (wave_server.cpp: opens and closes, the idle release, the
// pause and the reconnects). Every field is used under the backend's lock. Leaves out the header queue
// (wave_in.cpp).
#ifndef PELOMI_WIN32_WAVE_CORE_H
#define PELOMI_WIN32_WAVE_CORE_H

#include <cstdint>
#include <vector>

#include "wave/wave_capture.h"

namespace w32 {

// The longest a wave call waits for a server's answer (a connect, a new stream): one that accepts the
// connection and then answers nothing (stopped, swapped out) must not freeze the window; the device waits on.
constexpr uint64_t kAnswerTimeout = 400000;
constexpr uint64_t kIdleRelease = 1000000;   // the program's cycle reopens within milliseconds
constexpr uint64_t kFirstRetry = 50000;      // reconnects: 50 ms after the loss, then twice as long...
constexpr uint64_t kLongestRetry = 500000;   // ...up to half a second, so a server back is heard within 2 s
constexpr uint64_t kReadMargin = 10000;      // for a server clock a little ahead of ours, uneven pieces
constexpr uint64_t kLongestDeferral = 250000;
constexpr uint64_t kShortestHistory = 100000;  // sound kept for starts: at least this, and four fragments

// The server link and each stream, and what moves them (reports come from the backend, calls from wave_in):
//
//   link        event                                   goes to      and then
//   Down        an open (none due), a retry             Connecting   an open waits for it, kAnswerTimeout at most
//   Connecting  WaveServerAnswered                      Up           Waiting streams with devices open
//   Connecting  WaveServerGone                          Down         a retry at the next interval
//   Up          WaveServerGone                          Down         every stream Waiting; retries from 50 ms
//
//   stream      event                                   goes to      and then
//   Waiting     link Up (an open, a retry)              Opening      an open waits for it, kAnswerTimeout at most
//   Opening     WaveStreamReady                         Running      devices placed; intervals from 50 ms again
//   Opening     WaveStreamRefused (no source)           Refused      Waiting at the next retry
//   Running     WaveStreamMoved (another source)        Opening      devices keep their buffers
//   Running     WaveStreamStopped, still open           Stopped      buffers back; WaveStreamMoved resumes it
//   Running     WaveStreamStopped, failed               Refused      buffers back; Waiting at the next retry
//   any         no device for kIdleRelease              (released)
//
// Retries come 50 ms after the first failure, then twice as long each time up to 500 ms. Nothing fails an
// open for want of a server or a source: its device waits.
enum class Link { Down, Connecting, Up };
enum class StreamState { Opening, Running, Waiting, Refused, Stopped };

struct WaveCore {
    const WaveBackend* backend = nullptr;
    Link link = Link::Down;
    uint64_t connectingSince = 0;
    bool recorded = false;  // a source recorded once: from then on what stops it is a pause, told as such
    // What the user was told on stderr, said once each time it changes: before recording first began, why it
    // waits; after, that the server went or the microphone stopped.
    bool toldWaiting = false, toldGone = false, toldStopped = false;
    uint64_t retryAt = 0, retryDelay = kFirstRetry;
    uint64_t timerAt = 0;  // when the backend's timer is set for (0: not set)
    // Reading as last asked of the backend (a time passed: read freely since), and since when it has been
    // asked for at once: pieces handed over in the turn that ended a deferral came before they were read.
    uint64_t readingDeferredUntil = 0, atOnceSince = 0;
    std::vector<WaveStream*> streams;
};

struct WaveStream {
    WaveCore* core = nullptr;
    uint32_t rate = 0;
    StreamState state = StreamState::Waiting;
    uint64_t openingSince = 0;
    uint16_t channels = 1;
    int pins = 0;  // an open waiting on the stream keeps it
    std::vector<WaveListener*> listeners;
    std::vector<int16_t> history;  // the sound of positions [historyStart, received)
    int64_t historyStart = 0, received = 0;
    int64_t lastEnd = -1;  // where the latest block to fill ended, and when it did
    uint64_t lastFilledAt = 0;
    // How far arriving sound trails the clock (the source's latency and the way here), measured on pieces
    // read as they came: the least seen over the latest block that had such pieces, and over the block being
    // filled.
    int64_t lag = 0, leastLag = -1;
    uint64_t deliveredAt = 0;  // when the latest piece came
    uint64_t idleSince = 0;
};

struct WaveListener {
    WaveStream* stream = nullptr;
    WaveInputPort* port = nullptr;
    WaveCaptureFormat format = {};
    bool started = false;
    bool placed = false;  // its buffer takes the stream from `next` on
    int64_t next = 0;
    uint64_t readAt = 0;  // when its block's pieces are read, fixed once it is placed (0: not yet)
};

WaveCore& CoreOf(const WaveBackend& backend);

// No device holds the stream, nor an open waiting on it: it is given back kIdleRelease after the last close.
inline bool Unheld(const WaveStream& stream) { return stream.listeners.empty() && stream.pins == 0; }
inline uint64_t ReleaseDue(const WaveStream& stream) { return stream.idleSince + kIdleRelease; }

// Posts every notification queued, in order, with no lock held: a wave call's last step.
void PostAllPending();

class BackendLock {
public:
    explicit BackendLock(const WaveBackend& backend) : backend_(backend) { backend_.Lock(); }
    ~BackendLock() {
        backend_.Unlock();
        PostAllPending();
    }
    BackendLock(const BackendLock&) = delete;
    BackendLock& operator=(const BackendLock&) = delete;

private:
    const WaveBackend& backend_;
};

inline int64_t UsecToFrames(uint64_t usec, uint32_t rate) { return static_cast<int64_t>(usec * rate / 1000000); }
inline uint64_t FramesToUsec(int64_t frames, uint32_t rate) { return static_cast<uint64_t>(frames) * 1000000 / rate; }
inline size_t FrameBytes(const WaveCaptureFormat& format) { return format.channels * format.bitsPerSample / 8u; }

// Our choice: the sound server's absence at start, its going away and its coming back, and the microphone
// stopping and recording again, are told on stderr, one line each time it changes, for the user of a
// program whose window just stands still meanwhile.
void Tell(const char* news);

// A stream records: the first time, or again after the microphone stopped.
void TellRecording(WaveCore& core);

// The sound side.
void ForgetSound(WaveStream& stream);
// The stream's sound so far is no more: devices that were recording give back their buffers with what they
// hold when `returnBuffers`, or else keep them to go on with the sound that comes next.
void Interrupt(WaveStream& stream, bool returnBuffers);
void Place(WaveListener& listener);
void UpdateReading(WaveCore& core);

// The server side: the backend's timer brought forward to the next reconnect or idle release due.
void Rearm(WaveCore& core);

}  // namespace w32

#endif
