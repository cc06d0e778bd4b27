// The .res walk and FindResource's lookup over the program's embedded resources.
// Leaves out language fallbacks beyond "Japanese, else the first one": the program has one language.
#include "resources/res_file.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/ansi_codepage.h"
#include "base/module.h"
#include "base/module_object.h"

namespace w32 {
namespace {

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// "#123" names the ordinal 123, as FindResource documents.
bool ParseOrdinalString(const char* text, WORD* ordinal) {
    if (text[0] != '#' || text[1] == '\0') return false;
    unsigned value = 0;
    for (const char* p = text + 1; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xFFFF) return false;
    }
    *ordinal = static_cast<WORD>(value);
    return true;
}

}  // namespace

ResourceName ResourceName::FromAnsi(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return Ordinal(static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
    WORD ordinal;
    if (ParseOrdinalString(name, &ordinal)) return Ordinal(ordinal);
    ResourceName result;
    result.isOrdinal = false;
    result.text = AnsiToUtf16(name, std::strlen(name));
    return result;
}

bool ResourceName::Matches(const ResourceName& other) const {
    if (isOrdinal != other.isOrdinal) return false;
    if (isOrdinal) return ordinal == other.ordinal;
    if (text.size() != other.text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (AsciiUpper(text[i]) != AsciiUpper(other.text[i])) return false;
    return true;
}

bool ResourceCursor::ReadBytes(size_t count, const uint8_t** bytes) {
    if (count > remaining()) return false;
    *bytes = data_ + offset_;
    offset_ += count;
    return true;
}

bool ResourceCursor::Skip(size_t count) {
    const uint8_t* ignored;
    return ReadBytes(count, &ignored);
}

bool ResourceCursor::ReadWord(WORD* value) {
    const uint8_t* p;
    if (!ReadBytes(2, &p)) return false;
    *value = static_cast<WORD>(p[0] | (p[1] << 8));
    return true;
}

bool ResourceCursor::ReadShort(short* value) {
    WORD word;
    if (!ReadWord(&word)) return false;
    *value = static_cast<short>(word);
    return true;
}

bool ResourceCursor::ReadDword(DWORD* value) {
    const uint8_t* p;
    if (!ReadBytes(4, &p)) return false;
    *value = static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
             (static_cast<DWORD>(p[3]) << 24);
    return true;
}

bool ResourceCursor::ReadString(std::u16string* text) {
    size_t start = offset_;
    std::u16string result;
    WORD c;
    while (true) {
        if (!ReadWord(&c)) {
            offset_ = start;
            return false;
        }
        if (c == 0) break;
        result += static_cast<char16_t>(c);
    }
    *text = std::move(result);
    return true;
}

bool ResourceCursor::ReadNameOrOrdinal(ResourceName* name) {
    size_t start = offset_;
    WORD first;
    if (!ReadWord(&first)) return false;
    if (first == 0xFFFF) {
        WORD ordinal;
        if (!ReadWord(&ordinal)) {
            offset_ = start;
            return false;
        }
        *name = ResourceName::Ordinal(ordinal);
        return true;
    }
    offset_ = start;
    ResourceName result;
    result.isOrdinal = false;
    if (!ReadString(&result.text)) return false;
    *name = std::move(result);
    return true;
}

bool ResourceCursor::Align(size_t alignment) {
    size_t padding = (alignment - offset_ % alignment) % alignment;
    return Skip(padding);
}

bool ForEachResourceEntry(const uint8_t* bytes, size_t size,
                          const std::function<bool(const ResourceEntry&)>& visit) {
    if (bytes == nullptr) return size == 0;
    ResourceCursor file(bytes, size);
    while (file.remaining() > 0) {
        size_t entryStart = file.offset();
        DWORD dataSize, headerSize;
        if (!file.ReadDword(&dataSize) || !file.ReadDword(&headerSize)) return false;
        if (headerSize < 8 || headerSize - 8 > file.remaining()) return false;

        ResourceCursor header(bytes + entryStart, headerSize);
        ResourceEntry entry;
        DWORD dataVersion, version, characteristics;
        if (!header.Skip(8) || !header.ReadNameOrOrdinal(&entry.type) || !header.ReadNameOrOrdinal(&entry.name) ||
            !header.Align(4) || !header.ReadDword(&dataVersion) || !header.ReadWord(&entry.memoryFlags) ||
            !header.ReadWord(&entry.language) || !header.ReadDword(&version) ||
            !header.ReadDword(&characteristics))
            return false;

        file.Skip(headerSize - 8);
        if (!file.ReadBytes(dataSize, &entry.data)) return false;
        entry.size = dataSize;
        if (!visit(entry)) return true;
        // The next entry starts DWORD-aligned; the last one may end the file unpadded.
        if (!file.Align(4)) return file.remaining() == 0;
    }
    return true;
}

bool FindModuleResource(HINSTANCE instance, const ResourceName& type, const ResourceName& name,
                        ResourceEntry* found) {
    if (instance == nullptr) instance = ProgramModule();
    const ModuleObject* module = Lookup<ModuleObject>(instance);
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (module->resBytes == nullptr) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    bool typeSeen = false;
    bool nameSeen = false;
    ForEachResourceEntry(module->resBytes, module->resSize, [&](const ResourceEntry& entry) {
        if (!entry.type.Matches(type)) return true;
        typeSeen = true;
        if (!entry.name.Matches(name)) return true;
        if (!nameSeen || entry.language == kPreferredLanguage) *found = entry;
        nameSeen = true;
        return entry.language != kPreferredLanguage;
    });
    if (!nameSeen) {
        SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return false;
    }
    return true;
}

namespace {

struct SharedResourceHandle {
    HINSTANCE instance;
    uint64_t generation;
    ResourceName type;
    ResourceName name;
    uintptr_t handle;
};

struct SharedResourceHandles {
    std::mutex lock;
    std::vector<SharedResourceHandle> entries;
};

SharedResourceHandles& SharedHandles() {
    static SharedResourceHandles* handles = new SharedResourceHandles;  // used until exit
    return *handles;
}

uint64_t ResourcesGeneration(HINSTANCE* instance) {
    if (*instance == nullptr) *instance = ProgramModule();
    const ModuleObject* module = Lookup<ModuleObject>(*instance);
    return module ? module->resGeneration : 0;
}

}  // namespace

uintptr_t FindSharedResourceHandle(HINSTANCE instance, const ResourceName& type, const ResourceName& name,
                                   HandleKind kind) {
    uint64_t generation = ResourcesGeneration(&instance);
    SharedResourceHandles& shared = SharedHandles();
    std::lock_guard<std::mutex> guard(shared.lock);
    for (const SharedResourceHandle& entry : shared.entries) {
        if (entry.instance == instance && entry.generation == generation && entry.type.Matches(type) &&
            entry.name.Matches(name) && LookupHandle(reinterpret_cast<void*>(entry.handle), kind) != nullptr)
            return entry.handle;
    }
    return 0;
}

uintptr_t InsertSharedResourceHandle(HINSTANCE instance, const ResourceName& type, const ResourceName& name,
                                     std::unique_ptr<HandleObject> object) {
    uintptr_t handle = InsertHandle(std::move(object));
    if (handle == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    uint64_t generation = ResourcesGeneration(&instance);
    SharedResourceHandles& shared = SharedHandles();
    std::lock_guard<std::mutex> guard(shared.lock);
    auto stale = [&](const SharedResourceHandle& entry) {
        return entry.instance == instance && entry.generation != generation;
    };
    shared.entries.erase(std::remove_if(shared.entries.begin(), shared.entries.end(), stale), shared.entries.end());
    shared.entries.push_back({instance, generation, type, name, handle});
    return handle;
}

}  // namespace w32
