// The capture cycle: the default wave-input device recorded one block at a time, opened anew for every
// block, each finished block measured and drawn. Runs entirely on the window thread, driven by MM_WIM_*.
#ifndef PELOMI_CAPTURE_CAPTURE_CYCLE_H
#define PELOMI_CAPTURE_CAPTURE_CYCLE_H

#include <windows.h>
#include <mmsystem.h>

// One twelfth of a second of 8-bit mono sound at 44100 samples per second.
const DWORD BLOCK_BYTES = 3675;

extern WAVEFORMATEX blockFormat;
extern BYTE* blockBuffer;
extern WAVEHDR blockHeader;
extern HWAVEIN captureDevice;

// Allocates the buffer, fills the format and the header, and opens the device for the first block. When
// the buffer cannot be allocated nothing is opened and false is returned: the window just stays still.
bool StartCapture(HWND window);

// Opens the device with notifications to `window` and prepares the header; failures are ignored (an open
// that fails posts nothing, and the cycle ends there).
void OpenCapture(HWND window);

// MM_WIM_OPEN: queue the buffer and start recording.
void OnCaptureOpened();
// MM_WIM_DATA: the block is full; stop and close the device.
void OnCaptureData();
// MM_WIM_CLOSE: measure the block, request the next one, then draw this one.
void OnCaptureClosed(HWND window);

// Stops the device, whether recording or between blocks; afterwards queued notifications do nothing.
void StopCapture();
// Frees the buffer; called after StopCapture.
void FreeCaptureBuffer();

#endif
