// A main window for capture tests: its procedure hands the wave notifications to the capture cycle, as the
// program's does, logs them in order, and its client area shows the sheet the cycle draws on.
#ifndef PELOMI_TESTS_CAPTURE_CYCLE_FIXTURE_H
#define PELOMI_TESTS_CAPTURE_CYCLE_FIXTURE_H

#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <string>
#include <vector>

#include "bmp_file.h"
#include "capture_cycle.h"
#include "level.h"
#include "meter_state.h"
#include "picture_bank.h"
#include "test_window.h"

struct Dispatched {
    UINT message;
    HWAVEIN device;
    bool operator==(const Dispatched& other) const { return message == other.message && device == other.device; }
};

inline void PrintTo(const Dispatched& d, std::ostream* out) {
    const char* name = d.message == MM_WIM_OPEN ? "OPEN" : d.message == MM_WIM_DATA ? "DATA" : "CLOSE";
    *out << name << "(device " << d.device << ")";
}

class CaptureWindowTest : public ::testing::Test {
protected:
    static constexpr int kClientWidth = 216;
    static constexpr int kClientHeight = 196;
    static constexpr int kCell = 160;  // of the 800 x 480 sheet
    static constexpr uint32_t kWhite = 0xFFFFFF;

    void SetUp() override {
        Received().clear();
        window = testwin::CreateClientWindow(kClientWidth, kClientHeight, Procedure);
        ASSERT_NE(window, nullptr);
        pictureBank.Attach(GetModuleHandleA(nullptr), window);
        std::string sheet = testbmp::TempDir() + "/sheet.bmp";
        testbmp::WritePositionSheet(sheet, 5 * kCell, 3 * kCell);
        pictureBank.Load(0, sheet.c_str(), false, 0);
        ResetForSheet();
        InitStepThresholds();
    }
    void TearDown() override {
        // The destroy sequence of the program.
        StopCapture();
        FreeCaptureBuffer();
        pictureBank.Detach();
        DestroyWindow(window);
        testwin::PumpMessages();
    }

    // The messages the window procedure has handled since the last call.
    static std::vector<Dispatched> TakeLog() {
        std::vector<Dispatched> taken;
        taken.swap(Received());
        return taken;
    }

    std::vector<uint32_t> Client() const { return testwin::ReadClient(window); }

    // The white bar's width on the window (level + 5 after a block), 0 when none is shown.
    int BarWidth() const {
        std::vector<uint32_t> pixels = Client();
        int width = 0;
        while (5 + width < kClientWidth && pixels[15 * kClientWidth + 5 + width] == kWhite) ++width;
        return width;
    }

    // The top-left pixel of the cell shown under the bar.
    uint32_t CellCorner() const { return Client()[30 * kClientWidth]; }
    static uint32_t CornerOfStep(int step) { return testbmp::PositionColour(step * kCell, 0); }

    // Blacks out the window's client area, so that any later draw shows.
    void Blank() const {
        HDC dc = GetDC(window);
        PatBlt(dc, 0, 0, kClientWidth, kClientHeight, BLACKNESS);
        ReleaseDC(window, dc);
    }

    HWND window = nullptr;

private:
    static std::vector<Dispatched>& Received() {
        static std::vector<Dispatched> log;
        return log;
    }
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case MM_WIM_OPEN:
            Received().push_back({message, reinterpret_cast<HWAVEIN>(wParam)});
            OnCaptureOpened();
            return 0;
        case MM_WIM_DATA:
            Received().push_back({message, reinterpret_cast<HWAVEIN>(wParam)});
            OnCaptureData();
            return 0;
        case MM_WIM_CLOSE:
            Received().push_back({message, reinterpret_cast<HWAVEIN>(wParam)});
            OnCaptureClosed(window);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

// A block of BLOCK_BYTES samples around the zero line whose highest sample is 128 + level.
inline std::vector<uint8_t> BlockOfLevel(int level) {
    std::vector<uint8_t> block(BLOCK_BYTES);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i % 2 ? 128 - level / 2 : 128);
    block[block.size() / 3] = static_cast<uint8_t>(128 + level);
    return block;
}

#endif
