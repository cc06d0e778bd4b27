// Wave input while the user's sound devices change under it, on a real sound server (PulseAudio, or
// PipeWire's PulseAudio service): the default source switched between mono and stereo sources of every
// rate, a headset's microphone coming and going, the default source pulled while recording, a suspension, a
// profile switch that brings a source back in another layout, and a stream the user moved in the sound
// settings. After each change blocks come back at the new source's level and at the tone's own pitch (a
// stream read in another layout than the one it delivers has its tone an octave off), and stderr says one
// line when recording stops and one when it goes on, nothing else. One table, one body; run under
// scripts/pulse-session (PELOMI_PULSE_DIR and PULSE_SERVER set), skipped without it.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "capture_cycle.h"
#include "notification_window.h"
#include "sound_server.h"
#include "wave/wave_device.h"

namespace {

using namespace soundtest;

// What happens to the sources. Sources are null sinks' monitors at the rate and layout given, each with a
// tone of its own amplitude playing into it; `remapped` ones are recorded through a remapping source
// (NAME_mic), which can be suspended as a microphone can.
// Restart: the program ends and starts again (the server puts its stream where the user last chose).
enum class Does { Add, AddAsDefault, AddRemappedAsDefault, Remove, MakeDefault, Move, Suspend, Resume, Restart };
// Levels: kIdle, nothing recorded yet; kStops, recording stops.
constexpr int kIdle = -1, kStops = -2, kSame = -3;

struct Step {
    Does does;
    const char* name;
    int level;  // what blocks show afterwards (the tone of the source recorded), or kStops
    const char* news = nullptr;  // the one line stderr says meanwhile, or null for none
    // On PipeWire, where it differs: recording goes on through the step at this level, nothing said.
    // WirePlumber puts a dummy source in the place of the last one gone (its silence is recorded), and
    // pipewire-pulse leaves a source that is in use running when asked to suspend it.
    int levelOnPipeWire = kSame;
    // A source added: its rate, layout and the amplitude of its tone.
    uint32_t rate = 0;
    uint8_t channels = 0;
    int amplitude = 0;
};

Step Add(const char* name, uint32_t rate, uint8_t channels, int amplitude, int level, const char* news = nullptr,
         int levelOnPipeWire = kSame, Does does = Does::Add) {
    return {does, name, level, news, levelOnPipeWire, rate, channels, amplitude};
}
Step Change(Does does, const char* name, int level, const char* news = nullptr, int levelOnPipeWire = kSame) {
    return {does, name, level, news, levelOnPipeWire};
}

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

constexpr const char* kStopped = "the microphone stopped";
constexpr const char* kAgain = "the microphone records again";

const Scenario kScenarios[] = {
    {"DefaultSwitchedAmongRatesAndLayouts",
     {Add("a", 48000, 2, 30, kIdle), Add("b", 16000, 1, 60, kIdle), Add("c", 44100, 2, 90, kIdle),
      Add("d", 8000, 1, 45, kIdle), Add("e", 48000, 1, 75, kIdle), Add("f", 16000, 2, 105, kIdle),
      Change(Does::MakeDefault, "a", 30), Change(Does::MakeDefault, "b", 60), Change(Does::MakeDefault, "c", 90),
      Change(Does::MakeDefault, "d", 45), Change(Does::MakeDefault, "e", 75), Change(Does::MakeDefault, "f", 105),
      Change(Does::MakeDefault, "a", 30)}},
    {"AHeadsetComesAndGoes",
     {Add("speakers", 48000, 2, 30, 30, nullptr, kSame, Does::AddAsDefault),
      Add("headset", 16000, 1, 60, 60, nullptr, kSame, Does::AddAsDefault), Change(Does::Remove, "headset", 30)}},
    {"TheDefaultIsPulledAndAnotherPluggedIn",
     {Add("usb", 44100, 1, 30, 30, nullptr, kSame, Does::AddAsDefault),
      Change(Does::Remove, "usb", kStops, kStopped, 0), Add("other", 48000, 2, 60, 60, kAgain, 60)}},
    {"ASuspendedSourceResumes",
     {Add("mic", 44100, 1, 50, 50, nullptr, kSame, Does::AddRemappedAsDefault),
      Change(Does::Suspend, "mic", kStops, kStopped, 50), Change(Does::Resume, "mic", 50, kAgain, 50)}},
    {"AProfileSwitchBringsTheSourceBackInAnotherLayout",
     {Add("card", 48000, 2, 30, 30, nullptr, kSame, Does::AddAsDefault),
      Change(Does::Remove, "card", kStops, kStopped, 0), Add("card", 16000, 1, 60, 60, kAgain, 60)}},
    {"AStreamTheUserMovedStaysWhereItWasMoved",
     {Add("a", 48000, 2, 30, kIdle), Add("b", 16000, 1, 60, kIdle), Add("c", 44100, 1, 90, kIdle),
      Change(Does::MakeDefault, "a", 30), Change(Does::Move, "b", 60), Change(Does::MakeDefault, "c", 60),
      Change(Does::Remove, "b", 90)}},
    // The user's choice both ways: moved on and back to the default, which it then follows again (after a
    // restart too), and moved once more; a and b have the same format.
    {"TheUsersChoiceHoldsBackToTheDefaultAndAtTheNextStart",
     {Add("a", 44100, 1, 30, kIdle), Add("b", 44100, 1, 60, kIdle), Add("c", 48000, 2, 90, kIdle),
      Change(Does::MakeDefault, "a", 30), Change(Does::Move, "b", 60), Change(Does::Move, "c", 90),
      Change(Does::Move, "a", 30), Change(Does::Restart, "a", 30), Change(Does::MakeDefault, "c", 90),
      Change(Does::Move, "b", 60), Change(Does::Restart, "b", 60)}},
};

// The pitch of the tones played: upward crossings of the zero line in a block (441 Hz: 36.75 a block).
int Crossings(const std::vector<char>& block) {
    int crossings = 0;
    for (size_t i = 1; i < block.size(); ++i)
        crossings += static_cast<uint8_t>(block[i - 1]) < 128 && static_cast<uint8_t>(block[i]) >= 128;
    return crossings;
}

class DevicesChange : public ::testing::TestWithParam<Scenario> {
protected:
    struct Source {
        std::vector<std::string> modules;  // unloaded last to first
        std::unique_ptr<TonePlayer> player;
        std::unique_ptr<LatencyAnchor> anchor;
        std::string recorded;  // the source's name
    };

    void SetUp() override {
        if (!HaveServer()) GTEST_SKIP() << "no private sound server: run under scripts/pulse-session";
        w32::UsePulseWaveDevice();
        // Only the scenario's own sources: where the server falls back to when one goes is then known.
        Shell("pactl unload-module module-null-sink");
        ASSERT_EQ(Shell("pactl list short sources | grep -v auto_null"), "");
    }
    void TearDown() override {
        if (!HaveServer()) return;
        window.Pump();
        EXPECT_TRUE(PumpUntil([] { return ServerStreams() == 0; }));  // gone before its sources
        for (auto& source : sources) Do(Change(Does::Remove, source.first.c_str(), kIdle));
    }

    void Do(const Step& step) {
        Source& source = sources[step.name];
        const std::string name = step.name;
        switch (step.does) {
        case Does::Add:
        case Does::AddAsDefault:
        case Does::AddRemappedAsDefault:
            source.modules.push_back(Shell("pactl load-module module-null-sink sink_name=" + name + " rate=" +
                                           std::to_string(step.rate) + " channels=" + std::to_string(step.channels)));
            source.recorded = name + ".monitor";
            if (step.does == Does::AddRemappedAsDefault) {
                source.modules.push_back(Shell("pactl load-module module-remap-source source_name=" + name +
                                               "_mic master=" + name + ".monitor"));
                source.recorded = name + "_mic";
            }
            // A sink nobody asks for low latency renders far ahead, and its monitor lags like no microphone.
            source.anchor = std::make_unique<LatencyAnchor>("", name + ".monitor");
            source.player = std::make_unique<TonePlayer>(step.channels, step.name);
            source.player->SetAmplitude(step.amplitude);
            if (step.does != Does::Add) Shell("pactl set-default-source " + source.recorded);
            break;
        case Does::Remove:
            source.player.reset();
            source.anchor.reset();
            for (auto module = source.modules.rbegin(); module != source.modules.rend(); ++module)
                Shell("pactl unload-module " + *module);
            source.modules.clear();
            break;
        case Does::MakeDefault:
            Shell("pactl set-default-source " + source.recorded);
            break;
        case Does::Move:
            // As the sound settings do; listed a moment before, the stream may have been opened anew since.
            EXPECT_TRUE(PumpUntil([&] {
                if (OurStream("source") == SourceIndex(source.recorded)) return true;
                Shell("pactl move-source-output " + OurStream("output") + " " + source.recorded);
                return false;
            }));
            break;
        case Does::Restart:
            window.Pump();
            w32::UsePulseWaveDevice();  // with no device open, the backend starts afresh
            break;
        case Does::Suspend:
        case Does::Resume:
            Shell("pactl suspend-source " + source.recorded + (step.does == Does::Suspend ? " 1" : " 0"));
            break;
        }
    }

    // Our record stream's index on the server, or that of the source it records.
    static std::string OurStream(const char* what) {
        return Shell(std::string("pactl list source-outputs | awk '/^Source Output #/ { output = substr($3, 2) } "
                                 "/^\tSource: / { source = $2 } /media.name = \"Pelomi capture\"/ { print ") +
                     what + " }' | tail -1");
    }
    static std::string SourceIndex(const std::string& name) {
        return Shell("pactl list short sources | awk '$2 == \"" + name + "\" { print $1 }'");
    }

    // Whether the next block is full, at `level` and at the tone's pitch; `lastBlock` says what it was.
    bool BlockShows(int level) {
        std::vector<char> block(BLOCK_BYTES);
        DWORD recorded = 0;
        const bool done = RecordOnce(window, format, block, &recorded);
        lastBlock = "bytes " + std::to_string(recorded) + ", level " + std::to_string(Level(block)) + ", crossings " +
                    std::to_string(Crossings(block));
        return done && recorded == BLOCK_BYTES && std::abs(Level(block) - level) <= 1 &&
               (level == 0 || std::abs(Crossings(block) - 37) <= 2);
    }

    WAVEFORMATEX format = PcmFormat(1, 44100, 8);
    NotificationWindow window;
    std::map<std::string, Source> sources;
    std::string lastBlock;
};

TEST_P(DevicesChange, RecordingFollowsTheSourcesWithOneLineWhenItStopsAndOneWhenItGoesOn) {
    bool recording = false;
    std::vector<char> longBuffer(2 * 44100);
    const char* server = std::getenv("PELOMI_SOUND_SERVER");
    const bool pipewire = server && std::string(server) == "pipewire";
    for (Step step : GetParam().steps) {
        if (pipewire && step.levelOnPipeWire != kSame) {
            step.level = step.levelOnPipeWire;
            step.news = nullptr;
        }
        SCOPED_TRACE(std::string(step.name) + ", step to level " + std::to_string(step.level));
        ::testing::internal::CaptureStderr();
        // A block being recorded as the change comes: kept through a move, given back when recording stops.
        HWAVEIN device = nullptr;
        WAVEHDR header = {};
        if (recording) {
            ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, window.callback(), 0, CALLBACK_WINDOW),
                      MMSYSERR_NOERROR);
            Prepare(device, header, longBuffer);
            waveInAddBuffer(device, &header, sizeof(WAVEHDR));
            waveInStart(device);
            ASSERT_TRUE(PumpUntil([&] { return header.dwBytesRecorded > 0; }));
        }
        Do(step);
        if (step.level == kStops) {
            EXPECT_TRUE(PumpUntil([&] { return Done(header); })) << "the block in flight did not come back";
            EXPECT_LT(header.dwBytesRecorded, header.dwBufferLength);
        }
        if (device) {
            waveInReset(device);
            waveInClose(device);
            window.Pump();
        }
        recording = step.level >= 0;
        // Back at the source's level and pitch for four blocks in a row. A server that moves the stream again
        // on its own (PipeWire's policy, under load) may slip a block of it in before telling us.
        int inARow = 0;
        if (recording) {
            EXPECT_TRUE(PumpUntil([&] { return (inARow = BlockShows(step.level) ? inARow + 1 : 0) == 4; }))
                << "not back for good: " << lastBlock;
        }
        if (step.does == Does::Move || step.does == Does::Restart) {
            EXPECT_EQ(OurStream("source"), SourceIndex(sources[step.name].recorded)) << "not where the user put it";
        }
        const std::string said = ::testing::internal::GetCapturedStderr();
        if (step.news) {
            EXPECT_NE(said.find(step.news), std::string::npos) << said;
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        } else {
            EXPECT_EQ(said, "");
        }
    }
    // What the sound settings show the stream as, and what the server remembers a user's choice by.
    if (!recording) return;
    const std::string listing = Shell("pactl list source-outputs");
    for (const char* property :
         {"application.name = \"Pelomi\"", "application.id = \"pelomi\"", "application.icon_name = \"pelomi\""}) {
        EXPECT_NE(listing.find(property), std::string::npos) << property;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, DevicesChange, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
