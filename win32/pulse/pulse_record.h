// Inside the PulseAudio backend: its record of each server stream and of the connection, shared by the
// stream side (pulse_wave_device.cpp) and the source-following side (pulse_source_choice.cpp). Every field
// is used under the loop's lock.
#ifndef PELOMI_WIN32_PULSE_RECORD_H
#define PELOMI_WIN32_PULSE_RECORD_H

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pulse/pulse_loop.h"
#include "pulse/pulse_wave_device.h"
#include "wave/wave_device.h"

namespace w32 {

struct PulseRecord {
    WaveStream* owner = nullptr;
    pa_stream* stream = nullptr;
    uint32_t rate = 0;
    size_t frameBytes = 2;
    int64_t position = 0;  // frames read so far, holes included
    bool ready = false;
    bool moved = false;  // its sound is another source's now, in a layout it was not opened in
    uint64_t serial = 0;  // names it in answers that may come after it is gone
    std::string source;   // the source it was opened on; empty: the default
    std::string device, former;  // the source it records, and the one it recorded before a move
    bool relinked = false;  // opened again because its layout was not its source's
    bool timingAsked = false;  // its clock asked for, not answered yet
    uint64_t timingAskedAt = 0;
};

struct PulseServer {
    PulseLoop* loop = nullptr;
    pa_context* context = nullptr;
    std::vector<PulseRecord*> records;
    pa_time_event* timer = nullptr;
    uint64_t deferral = 0;  // reading as the capture core last asked for it (0: at once)
    PulseCaptureCounters counters;
    bool counting = false;  // a bench or test has asked for the counters
    uint64_t serials = 0;
    bool relinking = false;  // the next stream opened is one opened again for its layout
    bool piecesFrameShort = false;  // PulseAudio itself: its pieces come a frame shorter than asked for
    // Our choice: the source the user moved our stream to, in the desktop's sound settings, is kept while the
    // program is connected (never given up for the default; the server remembers it for the next start);
    // empty while nobody moved it, or after the user moved it back to the default: then the stream follows
    // the default source.
    std::string chosenSource;
    // The default source as last heard of, and when it changed (0: not since connecting): a move to the
    // default just after it changed is the server's, following it; one at another time is the user's.
    std::string defaultSource;
    uint64_t defaultChangedAt = 0;
};

PulseServer& Pulse();
PulseRecord* Find(WaveStream* owner);
PulseRecord* FindSerial(uint64_t serial);
// A record named in a server call's answer, which may come after the record is gone.
void* Tag(const PulseRecord* record);
PulseRecord* Tagged(void* userdata);

// The source-following side: the stream's callbacks for moves and suspensions, and the check of a new
// stream's layout against its source's.
// Keeps the default source known as it changes, from the moment the context is ready.
void WatchDefaultSource(pa_context* context);
void OnMoved(pa_stream* stream, void* userdata);
void OnSuspended(pa_stream* stream, void* userdata);
void CheckLayout(PulseRecord* record);

}  // namespace w32

#endif
