// Writing and splitting .res files for tests, and swapping the program's resources in and out.
// Leaves out validation: the splitter trusts its input, which tests take from the resource compiler.
#include "res_builder.h"

#include "base/module.h"
#include "base/module_object.h"

namespace restest {
namespace {

void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, static_cast<uint16_t>(value));
    Put16(out, static_cast<uint16_t>(value >> 16));
}

void PutName(std::vector<uint8_t>& out, uint16_t ordinal, const std::u16string& name) {
    if (name.empty()) {
        Put16(out, 0xFFFF);
        Put16(out, ordinal);
        return;
    }
    for (char16_t c : name) Put16(out, c);
    Put16(out, 0);
}

void Align4(std::vector<uint8_t>& out) {
    while (out.size() % 4) out.push_back(0);
}

uint16_t Get16(const std::vector<uint8_t>& in, size_t at) {
    return static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
}

uint32_t Get32(const std::vector<uint8_t>& in, size_t at) {
    return Get16(in, at) | (uint32_t{Get16(in, at + 2)} << 16);
}

size_t GetName(const std::vector<uint8_t>& in, size_t at, uint16_t* ordinal, std::u16string* name) {
    if (Get16(in, at) == 0xFFFF) {
        *ordinal = Get16(in, at + 2);
        return at + 4;
    }
    while (Get16(in, at) != 0) {
        *name += static_cast<char16_t>(Get16(in, at));
        at += 2;
    }
    return at + 2;
}

}  // namespace

std::vector<uint8_t> BuildRes(const std::vector<Entry>& entries) {
    std::vector<uint8_t> out;
    Entry empty;
    empty.language = 0;
    std::vector<Entry> all{empty};
    all.insert(all.end(), entries.begin(), entries.end());
    for (const Entry& entry : all) {
        std::vector<uint8_t> header;
        PutName(header, entry.typeOrdinal, entry.typeName);
        PutName(header, entry.nameOrdinal, entry.name);
        while ((header.size() + 8) % 4) header.push_back(0);
        Put32(header, 0);                                   // data version
        Put16(header, 0x1030);                              // memory flags
        Put16(header, entry.language);
        Put32(header, 0);                                   // version
        Put32(header, 0);                                   // characteristics
        Put32(out, static_cast<uint32_t>(entry.data.size()));
        Put32(out, static_cast<uint32_t>(header.size() + 8));
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), entry.data.begin(), entry.data.end());
        Align4(out);
    }
    return out;
}

std::vector<Entry> SplitRes(const std::vector<uint8_t>& res) {
    std::vector<Entry> entries;
    size_t at = 0;
    while (at + 8 <= res.size()) {
        uint32_t dataSize = Get32(res, at);
        uint32_t headerSize = Get32(res, at + 4);
        Entry entry;
        size_t p = GetName(res, at + 8, &entry.typeOrdinal, &entry.typeName);
        p = GetName(res, p, &entry.nameOrdinal, &entry.name);
        p = (p + 3) & ~size_t{3};
        entry.language = Get16(res, p + 6);
        size_t data = at + headerSize;
        entry.data.assign(res.begin() + static_cast<long>(data), res.begin() + static_cast<long>(data + dataSize));
        if (at != 0) entries.push_back(std::move(entry));
        at = (data + dataSize + 3) & ~size_t{3};
    }
    return entries;
}

std::vector<uint8_t> StringBlock(const std::vector<std::u16string>& strings) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 16; ++i) {
        const std::u16string text = i < strings.size() ? strings[i] : std::u16string();
        Put16(out, static_cast<uint16_t>(text.size()));
        for (char16_t c : text) Put16(out, c);
    }
    return out;
}

ScopedResources::ScopedResources(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    const w32::ModuleObject* module = w32::ProgramModuleObject();
    previous_ = module->resBytes;
    previousSize_ = module->resSize;
    w32::SetProgramResources(bytes_.data(), bytes_.size());
}

ScopedResources::~ScopedResources() { w32::SetProgramResources(previous_, previousSize_); }

std::vector<uint8_t> ProgramResources() {
    const w32::ModuleObject* module = w32::ProgramModuleObject();
    return std::vector<uint8_t>(module->resBytes, module->resBytes + module->resSize);
}

}  // namespace restest
