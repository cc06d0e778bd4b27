// The capture cycle: open, add and start, stop and close when full, then measure, reopen and draw.
// Leaves out retries: a failed open or start ends the animation quietly, as the wave results are ignored.
#include "capture_cycle.h"

#include <new>

#include "level.h"
#include "meter_state.h"

WAVEFORMATEX blockFormat;
BYTE* blockBuffer;
WAVEHDR blockHeader;
HWAVEIN captureDevice;

bool StartCapture(HWND window)
{
    blockBuffer = new (std::nothrow) BYTE[BLOCK_BYTES];
    if (blockBuffer == NULL)
        return false;

    blockFormat.wFormatTag = WAVE_FORMAT_PCM;
    blockFormat.nChannels = 1;
    blockFormat.nSamplesPerSec = 44100;
    blockFormat.nAvgBytesPerSec = 44100;
    blockFormat.nBlockAlign = 1;
    blockFormat.wBitsPerSample = 8;
    blockFormat.cbSize = 0;

    blockHeader = WAVEHDR();
    blockHeader.lpData = (LPSTR)blockBuffer;
    blockHeader.dwBufferLength = BLOCK_BYTES;
    blockHeader.dwLoops = 1;

    OpenCapture(window);
    return true;
}

void OpenCapture(HWND window)
{
    waveInOpen(&captureDevice, WAVE_MAPPER, &blockFormat, (DWORD_PTR)window, 0, CALLBACK_WINDOW);
    waveInPrepareHeader(captureDevice, &blockHeader, sizeof(WAVEHDR));
}

// The handlers check for a stopped cycle: a notification posted before StopCapture may still be queued.
void OnCaptureOpened()
{
    if (blockBuffer == NULL || captureDevice == NULL)
        return;
    waveInAddBuffer(captureDevice, &blockHeader, sizeof(WAVEHDR));
    waveInStart(captureDevice);
}

void OnCaptureData()
{
    if (blockBuffer == NULL || captureDevice == NULL)
        return;
    waveInStop(captureDevice);
    waveInClose(captureDevice);
}

void OnCaptureClosed(HWND window)
{
    if (blockBuffer == NULL || captureDevice == NULL)
        return;
    // The handle was closed by OnCaptureData; the call is kept for drivers that want the header back.
    waveInUnprepareHeader(captureDevice, &blockHeader, sizeof(WAVEHDR));
    // The whole buffer, whatever the device reported as recorded: a short block keeps older samples.
    uint8_t level = PeakLevel(blockBuffer, BLOCK_BYTES);
    // The next block is requested before this one is drawn, so drawing never delays recording.
    OpenCapture(window);
    int step = StepForLevel(level);
    RenderBlock(level, step);
}

void StopCapture()
{
    // A failed reset means the device is already closed (between a block's data and close notifications).
    if (waveInReset(captureDevice) == MMSYSERR_NOERROR) {
        waveInStop(captureDevice);
        waveInClose(captureDevice);
        waveInUnprepareHeader(captureDevice, &blockHeader, sizeof(WAVEHDR));
    }
    captureDevice = NULL;
}

void FreeCaptureBuffer()
{
    delete[] blockBuffer;
    blockBuffer = NULL;
}
