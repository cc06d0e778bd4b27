// The object behind the program's HINSTANCE: where its compiled resources lie in memory.
// Leaves out parsing; the resource reader walks these bytes.
#ifndef PELOMI_WIN32_MODULE_OBJECT_H
#define PELOMI_WIN32_MODULE_OBJECT_H

#include <cstddef>
#include <cstdint>

#include "handle_table.h"

namespace w32 {

struct ModuleObject : HandleObject {
    static constexpr HandleKind Kind = HandleKind::Module;
    ModuleObject() : HandleObject(Kind) {}
    const uint8_t* resBytes = nullptr;
    size_t resSize = 0;
    uint64_t resGeneration = 0;  // bumped by SetProgramResources, so caches of loaded resources can tell
};

// The module object behind ProgramModule().
ModuleObject* ProgramModuleObject();

}  // namespace w32

#endif
