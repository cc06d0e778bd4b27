// The capture core's sound side: one record stream per sample rate shared by every device open at that
// rate and kept running between the program's opens; blocks placed on the stream's own sample clock; the
// sound kept for starts; reading left until a block can fill. Leaves out resampling (the server records at
// the rate the device asked for) and the server's comings and goings (wave_server.cpp).
#include <algorithm>
#include <cstring>

#include "wave/wave_core.h"

namespace w32 {

namespace {

// Whether sound handed over at `at` may have waited to be read: while reading was deferred, or in the turn
// that ended a deferral (within kReadMargin / 2 of its end). Only pieces read as they came show the lag.
bool CameBeforeRead(const WaveCore& core, uint64_t at) {
    const uint64_t readFreelySince = core.readingDeferredUntil != 0 ? core.readingDeferredUntil : core.atOnceSince;
    return at < readFreelySince + kReadMargin / 2;
}

// A block filled: it marks where the next one continues, and the lag its pieces read as they came showed
// replaces the last.
void BlockFilled(WaveStream& stream, int64_t end) {
    stream.lastEnd = end;
    stream.lastFilledAt = stream.core->backend->Now();
    if (stream.leastLag >= 0) stream.lag = stream.leastLag;
    stream.leastLag = -1;
}

// Converts what the history holds from the listener's position on straight into its buffers, each frame
// once; the last queued buffer filled ends its placement.
void HandOver(WaveListener& listener) {
    WaveStream& stream = *listener.stream;
    if (listener.next < stream.historyStart) listener.next = stream.historyStart;
    const size_t frameBytes = FrameBytes(listener.format);
    while (listener.placed && listener.next < stream.received) {
        size_t room = 0;
        uint8_t* space = WaveInputSpace(listener.port, &room);
        const size_t frames = std::min(room / frameBytes, static_cast<size_t>(stream.received - listener.next));
        if (frames == 0) break;
        ConvertCapturedFrames(&stream.history[(listener.next - stream.historyStart) * stream.channels], frames,
                              stream.channels, listener.format, space);
        listener.next += static_cast<int64_t>(frames);
        if (WaveInputFilled(listener.port, frames * frameBytes) && WaveInputRoom(listener.port) == 0) {
            listener.placed = false;  // the next buffer queued goes on from here; none: placed again when added
            BlockFilled(stream, listener.next);
        }
    }
}

// How much sound the history keeps for starts: at least kShortestHistory, and four fragments.
int64_t HistoryCapacity(const WaveStream& stream) {
    return UsecToFrames(std::max<uint64_t>(kShortestHistory, 4 * stream.core->backend->FragmentUsec()),
                        stream.rate);
}

// Keeps what came in the history, gaps as silence, so that positions map onto it directly.
void Append(WaveStream& stream, int64_t position, const int16_t* samples, size_t frames) {
    const int64_t capacity = HistoryCapacity(stream);
    int64_t end = position + static_cast<int64_t>(frames);
    if (end <= stream.received) return;  // already had it
    if (position - stream.received > capacity) {
        stream.history.clear();
        stream.historyStart = stream.received = position;
    }
    const int64_t from = std::max(position, stream.received);
    stream.history.resize(static_cast<size_t>(end - stream.historyStart) * stream.channels, 0);
    if (samples)
        std::memcpy(&stream.history[(from - stream.historyStart) * stream.channels],
                    samples + (from - position) * stream.channels,
                    static_cast<size_t>(end - from) * stream.channels * sizeof(int16_t));
    stream.received = end;
}

void Trim(WaveStream& stream) {
    const int64_t drop = stream.received - stream.historyStart - HistoryCapacity(stream);
    if (drop <= 0) return;
    stream.history.erase(stream.history.begin(), stream.history.begin() + drop * stream.channels);
    stream.historyStart += drop;
}

}  // namespace

void ForgetSound(WaveStream& stream) {
    stream.history.clear();
    stream.historyStart = stream.received = 0;
    stream.lastEnd = -1;
    stream.lag = 0;
    stream.leastLag = -1;
}

void Interrupt(WaveStream& stream, bool returnBuffers) {
    const bool recording = stream.state == StreamState::Running;
    ForgetSound(stream);
    for (WaveListener* listener : stream.listeners) {
        listener->placed = false;
        if (returnBuffers && listener->started && recording) WaveInputPaused(listener->port);
    }
}

// Where a block begins, on the stream's clock. A start that comes within a fragment of the previous block
// filling continues exactly where that block ended, so that blocks tile the stream and keep its pace; a
// later one begins within the fragment before the sound being captured now (no backlog, however long the
// program stalled), on a fragment's boundary: a block a whole number of fragments long then ends with a
// piece, and comes back as soon as its last sample arrives. It never repeats sound the previous block held.
void Place(WaveListener& listener) {
    WaveStream& stream = *listener.stream;
    const WaveBackend& backend = *stream.core->backend;
    if (!listener.started || listener.placed || stream.state != StreamState::Running ||
        WaveInputRoom(listener.port) == 0)
        return;
    int64_t now = stream.received;
    backend.StreamNow(&stream, &now);
    const int64_t fragment = UsecToFrames(backend.FragmentUsec(), stream.rate);
    // The boundary in [now - fragment, now).
    int64_t start = fragment > 0 ? std::max<int64_t>(0, now - 1) / fragment * fragment : now;
    if (stream.lastEnd >= 0)
        start = backend.Now() - stream.lastFilledAt < backend.FragmentUsec() ? stream.lastEnd
                                                                             : std::max(start, stream.lastEnd);
    listener.next = std::max(start, stream.historyStart);
    listener.placed = true;
    listener.readAt = 0;
    HandOver(listener);
}

// Reading can wait until the piece holding the block's last frame can have come: not before the stream's
// clock reaches the block's end plus the lag of arriving sound, nor before the sound still missing could
// follow the latest piece at the stream's rate, which comes first on a sink's monitor, whose sound runs
// ahead of its clock. Meanwhile pieces stay with the server and many are read in one wake-up.
// - The wait ends kReadMargin before that time (for a clock a little off and pieces that come in the
//   server's own batches), and the block's last pieces are read as they come: the block costs two wake-ups
//   however many pieces it has, and comes back as soon as its last piece is there.
// - The time is fixed when the block is placed: once it has passed, the block's last pieces are read as they
//   come (a deferral each time would cost a wake-up each).
// - With nothing placed (between the program's blocks), reading waits kLongestDeferral: the next block,
//   placed meanwhile, moves the time without a wake-up.
namespace {

// When the listener's block can be read, per the rule above; `now` when it must be read as pieces come.
uint64_t BlockReadTime(WaveStream& stream, const WaveListener& listener, uint64_t now) {
    const WaveBackend& backend = *stream.core->backend;
    const int64_t end =
        listener.next + static_cast<int64_t>(WaveInputRoom(listener.port) / FrameBytes(listener.format));
    const int64_t missing = end - stream.received;
    int64_t clock = 0;
    if (!backend.StreamNow(&stream, &clock)) return now;
    const int64_t due = end + stream.lag - clock;
    const uint64_t at = std::min(now + (due > 0 ? FramesToUsec(due, stream.rate) : 0),
                                 stream.deliveredAt + FramesToUsec(missing, stream.rate));
    return at > kReadMargin ? at - kReadMargin : 0;
}

}  // namespace

void UpdateReading(WaveCore& core) {
    const uint64_t now = core.backend->Now();
    uint64_t until = now + kLongestDeferral;
    for (WaveStream* stream : core.streams) {
        if (stream->state != StreamState::Running) continue;
        // One nobody holds is read when it is due to be given back: its sound then releases it (Rearm).
        if (Unheld(*stream)) until = std::min(until, ReleaseDue(*stream));
        for (WaveListener* listener : stream->listeners) {
            if (!listener->started || !listener->placed) continue;
            // Fixed once: after it, the block's last pieces are read as they come.
            if (listener->readAt == 0) listener->readAt = std::max<uint64_t>(1, BlockReadTime(*stream, *listener, now));
            until = std::min(until, std::max(listener->readAt, now));
        }
    }
    if (until <= now) until = 0;
    if (until == 0 && core.readingDeferredUntil != 0) core.atOnceSince = now;
    core.readingDeferredUntil = until;
    core.backend->DeferReading(until);
}

void WaveStreamReady(WaveStream* stream, uint16_t channels) {
    TellRecording(*stream->core);
    stream->state = StreamState::Running;
    stream->channels = channels;
    ForgetSound(*stream);
    for (WaveListener* listener : stream->listeners) Place(*listener);
    UpdateReading(*stream->core);
}

bool WaveSoundCaptured(WaveStream* stream, int64_t position, const int16_t* samples, size_t frames) {
    if (stream->state != StreamState::Running) return false;
    Append(*stream, position, samples, frames);
    WaveCore& core = *stream->core;
    stream->deliveredAt = core.backend->Now();
    const bool readAsItCame = !CameBeforeRead(core, stream->deliveredAt);
    int64_t clock = 0;
    if (readAsItCame && core.backend->StreamNow(stream, &clock)) {
        const int64_t lag = std::max<int64_t>(0, clock - stream->received);
        stream->leastLag = stream->leastLag < 0 ? lag : std::min(stream->leastLag, lag);
    }
    bool listening = false;
    for (WaveListener* listener : stream->listeners) {
        listening |= listener->started;
        if (listener->started) HandOver(*listener);
    }
    Trim(*stream);
    UpdateReading(core);
    if (stream->listeners.empty()) Rearm(core);
    return listening;
}

void StartWaveListener(WaveListener* listener) {
    const WaveBackend& backend = *listener->stream->core->backend;
    BackendLock guard(backend);
    listener->started = true;
    Place(*listener);
    UpdateReading(*listener->stream->core);
}

void StopWaveListener(WaveListener* listener) {
    const WaveBackend& backend = *listener->stream->core->backend;
    BackendLock guard(backend);
    listener->started = listener->placed = false;
    UpdateReading(*listener->stream->core);
}

void WaveBufferAdded(WaveListener* listener) {
    const WaveBackend& backend = *listener->stream->core->backend;
    BackendLock guard(backend);
    Place(*listener);
    UpdateReading(*listener->stream->core);
}

}  // namespace w32
