// The program's one module handle, carrying the compiled resources it was given, and GetModuleHandleA.
// Leaves out everything about the resources' contents; the resource reader parses them.
#include "module.h"

#include <memory>

#include "handle_table.h"
#include "module_object.h"

namespace w32 {

HINSTANCE ProgramModule() {
    static HINSTANCE handle = InsertAs<HINSTANCE>(std::make_unique<ModuleObject>());
    return handle;
}

ModuleObject* ProgramModuleObject() { return Lookup<ModuleObject>(ProgramModule()); }

void SetProgramResources(const uint8_t* resBytes, size_t size) {
    ModuleObject* module = ProgramModuleObject();
    module->resBytes = resBytes;
    module->resSize = size;
    ++module->resGeneration;
}

}  // namespace w32

// Only the program's own module exists here.
extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName != nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return w32::ProgramModule();
}
