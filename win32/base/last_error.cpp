// The calling thread's last-error code (GetLastError, SetLastError).
// Leaves out FormatMessage and error-mode handling.
#include <windows.h>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

extern "C" DWORD WINAPI GetLastError(void) { return lastError; }

extern "C" void WINAPI SetLastError(DWORD error) { lastError = error; }
