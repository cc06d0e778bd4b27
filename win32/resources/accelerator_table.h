// Accelerator tables behind HACCEL handles, and the Shift/Ctrl state TranslateAcceleratorA matches
// virtual-key entries against. Leaves out CreateAcceleratorTable and DestroyAcceleratorTable (unused).
#ifndef PELOMI_WIN32_ACCELERATOR_TABLE_H
#define PELOMI_WIN32_ACCELERATOR_TABLE_H

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/handle_table.h"

namespace w32 {

// 0x80 in a compiled table's fVirt marks its last entry; loaded tables keep fVirt without it.
constexpr BYTE kLastAcceleratorEntry = 0x80;

struct AcceleratorTableObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Accelerators;
    AcceleratorTableObject() : HandleObject(Kind) {}
    std::vector<ACCEL> entries;
};

// Parses an RT_ACCELERATOR resource: 8-byte entries up to the one flagged kLastAcceleratorEntry. False for
// an empty, truncated or unterminated table.
bool ParseAcceleratorTable(const uint8_t* data, size_t size, std::vector<ACCEL>* entries);

}  // namespace w32

#endif
