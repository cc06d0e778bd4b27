// The program's module (HINSTANCE): the compiled resources the Linux build embeds, found by type and name.
// Leaves out loading other modules; there is exactly one module, the program.
#ifndef PELOMI_WIN32_MODULE_H
#define PELOMI_WIN32_MODULE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace w32 {

// The program's module handle; its resources are those installed with SetProgramResources (none before).
HINSTANCE ProgramModule();

// Installs the bytes of a compiled resource file (.res) as the program's resources. The bytes must stay
// alive for the rest of the run (they are normally linked into the executable).
void SetProgramResources(const uint8_t* resBytes, size_t size);

}  // namespace w32

#endif
