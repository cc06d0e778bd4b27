// Feeds arbitrary bytes to the compiled-resource reader as the program's .res file: walks its entries, parses
// each one by its type the way the resource calls do (string blocks, menus, dialog templates, accelerator
// tables, icon images), and looks names up as FindResource does. A .res from the resource compiler is a good
// seed as it is. Leaves out LoadIconA and LoadAcceleratorsA themselves: their handles are shared and kept for
// the run, which would fill the handle table over millions of inputs; their parsers are called instead.
#include <windows.h>

#include <stdint.h>

#include <vector>

#include "base/module.h"
#include "resources/accelerator_table.h"
#include "resources/dialog_template.h"
#include "resources/icon_object.h"
#include "resources/menu_object.h"
#include "resources/res_file.h"

namespace {

void ParseByType(const w32::ResourceEntry& entry) {
    if (!entry.type.isOrdinal) return;
    switch (entry.type.ordinal) {
        case 3: {  // RT_ICON
            w32::IconImage image;
            w32::DecodeIconImage(entry.data, entry.size, &image);
            break;
        }
        case 4: {  // RT_MENU
            std::vector<w32::MenuTreeItem> items;
            if (w32::ParseMenuTemplate(entry.data, entry.size, &items))
                if (HMENU menu = w32::CreateMenuFromTree(items)) DestroyMenu(menu);
            break;
        }
        case 5: {  // RT_DIALOG
            w32::DialogTemplate dialog;
            w32::ParseDialogTemplate(entry.data, entry.size, &dialog);
            break;
        }
        case 6: {  // RT_STRING: every slot of the block, through LoadStringA
            if (!entry.name.isOrdinal || entry.name.ordinal == 0) break;
            // What LoadStringA promises whatever the data: a string that fits, terminated after the length
            // returned (strings may hold NULs of their own).
            char text[64];
            const UINT first = (UINT{entry.name.ordinal} - 1) * 16;
            for (UINT slot = 0; slot < 16; ++slot) {
                const int length = LoadStringA(nullptr, first + slot, text, sizeof text);
                if (length < 0 || length >= static_cast<int>(sizeof text) || text[length] != '\0')
                    __builtin_trap();
            }
            break;
        }
        case 9: {  // RT_ACCELERATOR
            std::vector<ACCEL> entries;
            w32::ParseAcceleratorTable(entry.data, entry.size, &entries);
            break;
        }
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The module keeps a pointer to its resources: a copy of its own, alive until the next input.
    static std::vector<uint8_t> resources;
    resources.assign(data, data + size);
    w32::SetProgramResources(resources.data(), resources.size());
    w32::ForEachResourceEntry(resources.data(), resources.size(), [](const w32::ResourceEntry& entry) {
        ParseByType(entry);
        w32::ResourceEntry found;
        w32::FindModuleResource(nullptr, entry.type, entry.name, &found);
        return true;
    });
    return 0;
}
