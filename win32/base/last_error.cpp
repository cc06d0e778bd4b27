// The calling thread's last-error code (GetLastError, SetLastError) and GetModuleHandleA.
// Leaves out FormatMessage and error-mode handling.
#include <windows.h>

#include "module.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

extern "C" DWORD WINAPI GetLastError(void) { return lastError; }

extern "C" void WINAPI SetLastError(DWORD error) { lastError = error; }

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    // Only the program's own module exists here.
    if (moduleName != nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return w32::ProgramModule();
}
