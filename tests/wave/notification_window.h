// A test window that records, in order, the wave notifications dispatched to it, and the PCM formats the
// wave tests open. Leaves out everything else a window receives: it goes to DefWindowProcA.
#ifndef PELOMI_TESTS_NOTIFICATION_WINDOW_H
#define PELOMI_TESTS_NOTIFICATION_WINDOW_H

#include <windows.h>
#include <mmsystem.h>

#include <ostream>
#include <vector>

#include "test_window.h"

struct Notification {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Notification& other) const {
        return message == other.message && wParam == other.wParam && lParam == other.lParam;
    }
};

inline void PrintTo(const Notification& n, std::ostream* out) {
    const char* name = n.message == MM_WIM_OPEN ? "OPEN" : n.message == MM_WIM_DATA ? "DATA" : "CLOSE";
    *out << name << "(device " << n.wParam << ", header " << n.lParam << ")";
}

inline WAVEFORMATEX PcmFormat(WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

inline Notification WimOpen(HWAVEIN device) { return {MM_WIM_OPEN, reinterpret_cast<WPARAM>(device), 0}; }
inline Notification WimData(HWAVEIN device, WAVEHDR* header) {
    return {MM_WIM_DATA, reinterpret_cast<WPARAM>(device), reinterpret_cast<LPARAM>(header)};
}
inline Notification WimClose(HWAVEIN device) { return {MM_WIM_CLOSE, reinterpret_cast<WPARAM>(device), 0}; }

class NotificationWindow {
public:
    NotificationWindow() : window_(testwin::CreateClientWindow(200, 100, Procedure)) { Received().clear(); }
    ~NotificationWindow() {
        if (IsWindow(window_)) DestroyWindow(window_);
    }
    NotificationWindow(const NotificationWindow&) = delete;
    NotificationWindow& operator=(const NotificationWindow&) = delete;

    HWND handle() const { return window_; }
    DWORD_PTR callback() const { return reinterpret_cast<DWORD_PTR>(window_); }

    // Dispatches everything the thread's queue holds; returns the notifications received since last time.
    std::vector<Notification> Pump() {
        testwin::PumpMessages();
        std::vector<Notification> taken;
        taken.swap(Received());
        return taken;
    }

private:
    static std::vector<Notification>& Received() {
        static std::vector<Notification> received;
        return received;
    }
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == MM_WIM_OPEN || message == MM_WIM_DATA || message == MM_WIM_CLOSE) {
            Received().push_back({message, wParam, lParam});
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    HWND window_;
};

#endif
