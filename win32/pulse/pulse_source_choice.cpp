// Which source the PulseAudio backend's stream records as the user's devices change: the default source,
// followed through the server's moves, or the one the user moved the stream to in the desktop's sound
// settings. A moved stream is opened again by the capture core, since its layout and clock may differ.
// [x] moves by the server and by the user, told apart   [x] suspension and resumption   [x] a new stream's layout
// [ ] choosing a source itself (the desktop's sound settings do)
#include <pulse/rtclock.h>

#include <string>
#include <utility>

#include "pulse/pulse_record.h"

namespace w32 {
namespace {

// PipeWire may link a new stream to another source than the one its layout was fixed for (the default
// changing as it connects) without a move to tell us: a stream whose layout is not its source's is opened
// again, once; should the next one still differ, the server knows better and it is kept.
void OnSourceOfNewStream(pa_context*, const pa_source_info* info, int, void* userdata) {
    PulseRecord* record = Tagged(userdata);
    if (!record || !info) return;
    const bool differs = info->sample_spec.channels != pa_stream_get_sample_spec(record->stream)->channels;
    if (differs && !record->relinked) {
        record->moved = true;
        Pulse().relinking = true;
        WaveStreamMoved(record->owner);
        Pulse().relinking = false;
    }
}

// A server follows a new default within moments: PulseAudio moves the streams on the old default before it
// tells of the change, WirePlumber relinks them after pipewire-pulse told of it.
constexpr pa_usec_t kFollowingTheDefault = 2 * PA_USEC_PER_SEC;

// Notes the default source as the server names it now; whether it changed moments ago.
bool DefaultJustChanged(const pa_server_info* info) {
    PulseServer& server = Pulse();
    const std::string now = info && info->default_source_name ? info->default_source_name : "";
    if (now != server.defaultSource) {
        if (!server.defaultSource.empty()) server.defaultChangedAt = pa_rtclock_now();
        server.defaultSource = now;
    }
    return server.defaultChangedAt != 0 && pa_rtclock_now() - server.defaultChangedAt < kFollowingTheDefault;
}

void OnServerInfoWatched(pa_context*, const pa_server_info* info, void*) { DefaultJustChanged(info); }

void OnServerEvent(pa_context* context, pa_subscription_event_type_t, uint32_t, void*) {
    if (pa_operation* operation = pa_context_get_server_info(context, OnServerInfoWatched, nullptr))
        pa_operation_unref(operation);
}

// Where a moved stream went decides what it records from then on, the rule for the user's choice in one
// place. Away from a source still there to one not the default: the user chose it in the desktop's sound
// settings. To the default just after the default changed, while the source the user chose is still there:
// the server's doing (PipeWire links even a stream opened on a named source to a new default), and the
// stream goes back to the chosen one. To the default at any other time: the user's move back to it, or the
// server's when a source went; the stream follows the default from then on, as it does otherwise.
void Moved(PulseRecord* record, std::string chosen) {
    Pulse().chosenSource = std::move(chosen);
    WaveStreamMoved(record->owner);
}

// Whether `source` is still there decides, with Decide(record, there).
template <void (*Decide)(PulseRecord*, bool)>
void AskWhetherThere(pa_context* context, PulseRecord* record, const std::string& source) {
    auto answer = [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
        if (PulseRecord* asked = Tagged(userdata); asked && (info || eol)) Decide(asked, info != nullptr);
    };
    pa_operation* operation = pa_context_get_source_info_by_name(context, source.c_str(), answer, Tag(record));
    if (operation)
        pa_operation_unref(operation);
    else
        Decide(record, false);
}

void FormerIsThere(PulseRecord* record, bool there) { Moved(record, there ? record->device : std::string()); }
void ChosenIsThere(PulseRecord* record, bool there) { Moved(record, there ? Pulse().chosenSource : std::string()); }

void OnServerInfoAfterMove(pa_context* context, const pa_server_info* info, void* userdata) {
    PulseRecord* record = Tagged(userdata);
    if (!record) return;
    const bool followed = DefaultJustChanged(info);
    const bool toDefault = Pulse().defaultSource.empty() || record->device == Pulse().defaultSource;
    const std::string& chosen = Pulse().chosenSource;
    if (!toDefault && !record->former.empty())
        AskWhetherThere<FormerIsThere>(context, record, record->former);
    else if (toDefault && followed && !chosen.empty() && chosen != record->device)
        AskWhetherThere<ChosenIsThere>(context, record, chosen);
    else
        Moved(record, std::string());
}

}  // namespace

void WatchDefaultSource(pa_context* context) {
    Pulse().defaultSource.clear();
    Pulse().defaultChangedAt = 0;
    pa_context_set_subscribe_callback(context, OnServerEvent, nullptr);
    if (pa_operation* operation = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
        pa_operation_unref(operation);
    OnServerEvent(context, PA_SUBSCRIPTION_EVENT_SERVER, 0, nullptr);
}

void CheckLayout(PulseRecord* record) {
    pa_operation* operation = pa_context_get_source_info_by_index(
        Pulse().context, pa_stream_get_device_index(record->stream), OnSourceOfNewStream, Tag(record));
    if (operation) pa_operation_unref(operation);
}

void OnMoved(pa_stream* stream, void* userdata) {
    auto* record = static_cast<PulseRecord*>(userdata);
    record->moved = true;
    record->former = record->device;
    const char* device = pa_stream_get_device_name(stream);
    record->device = device ? device : "";
    if (pa_operation* operation = pa_context_get_server_info(Pulse().context, OnServerInfoAfterMove, Tag(record)))
        pa_operation_unref(operation);
    else
        Moved(record, std::string());
}

// A suspended source records nothing; resumed, it may come back in another layout, so the stream is made anew.
void OnSuspended(pa_stream* stream, void* userdata) {
    auto* record = static_cast<PulseRecord*>(userdata);
    if (pa_stream_is_suspended(stream) > 0)
        WaveStreamStopped(record->owner, true);
    else
        WaveStreamMoved(record->owner);
}

}  // namespace w32
