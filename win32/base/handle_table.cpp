// Handle table: slots indexed by the low bits of a handle value, checked against kind and generation.
// Leaves out shrinking: freed slots are kept on a free list and reused with a new generation.
#include "handle_table.h"

#include <mutex>
#include <vector>

namespace w32 {
namespace {

// Handle value layout: generation in bits 32..63, kind in bits 24..31, slot index + 1 in bits 0..23.
constexpr uintptr_t kIndexBits = 24;
constexpr uintptr_t kIndexMask = (uintptr_t{1} << kIndexBits) - 1;

struct Slot {
    std::unique_ptr<HandleObject> object;
    uint32_t generation = 0;
};

struct HandleTable {
    std::mutex lock;
    std::vector<Slot> slots;
    std::vector<size_t> freeSlots;
    uint32_t nextGeneration = 1;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // never destroyed: handles may be used during exit
    return *table;
}

bool Decode(const void* handle, size_t* index, uint32_t* generation, HandleKind* kind) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    uintptr_t slot = value & kIndexMask;
    if (slot == 0) return false;
    *index = slot - 1;
    *kind = static_cast<HandleKind>((value >> kIndexBits) & 0xFF);
    *generation = static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32);
    return true;
}

Slot* FindLocked(HandleTable& table, const void* handle, HandleKind kind) {
    size_t index;
    uint32_t generation;
    HandleKind encodedKind;
    if (!Decode(handle, &index, &generation, &encodedKind)) return nullptr;
    if (index >= table.slots.size()) return nullptr;
    Slot& slot = table.slots[index];
    if (!slot.object || slot.generation != generation || slot.object->kind != encodedKind) return nullptr;
    if (kind != HandleKind::Any && slot.object->kind != kind) return nullptr;
    return &slot;
}

}  // namespace

static_assert(sizeof(uintptr_t) == 8, "the handle layout needs 64-bit pointers");

uintptr_t InsertHandle(std::unique_ptr<HandleObject> object) {
    if (!object) return 0;
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    size_t index;
    if (!table.freeSlots.empty()) {
        index = table.freeSlots.back();
        table.freeSlots.pop_back();
    } else {
        if (table.slots.size() >= kIndexMask) return 0;
        index = table.slots.size();
        table.slots.emplace_back();
    }
    Slot& slot = table.slots[index];
    slot.generation = table.nextGeneration++;
    auto kind = static_cast<uintptr_t>(object->kind);
    slot.object = std::move(object);
    return (static_cast<uintptr_t>(slot.generation) << 32) | (kind << kIndexBits) | (index + 1);
}

HandleObject* LookupHandle(const void* handle, HandleKind kind) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    Slot* slot = FindLocked(table, handle, kind);
    return slot ? slot->object.get() : nullptr;
}

std::unique_ptr<HandleObject> RemoveHandle(const void* handle, HandleKind kind) {
    HandleTable& table = Table();
    std::unique_ptr<HandleObject> object;
    {
        std::lock_guard<std::mutex> guard(table.lock);
        Slot* slot = FindLocked(table, handle, kind);
        if (!slot) return nullptr;
        object = std::move(slot->object);
        table.freeSlots.push_back(static_cast<size_t>(slot - table.slots.data()));
    }
    return object;
}

size_t LiveHandleCount(HandleKind kind) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    size_t count = 0;
    for (const Slot& slot : table.slots)
        if (slot.object && (kind == HandleKind::Any || slot.object->kind == kind)) ++count;
    return count;
}

}  // namespace w32
