// Test support: compiled resource files (.res) written from code, and installing bytes as the program's
// resources for the length of a test. Leaves out resource kinds the tests do not build.
#ifndef PELOMI_TESTS_RES_BUILDER_H
#define PELOMI_TESTS_RES_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

namespace restest {

// One entry: type and name are ordinals unless the string form is given.
struct Entry {
    uint16_t typeOrdinal = 0;
    std::u16string typeName;
    uint16_t nameOrdinal = 0;
    std::u16string name;
    uint16_t language = 0x0411;
    std::vector<uint8_t> data;
};

// A .res file: the leading empty entry, then each entry DWORD-aligned, as resource compilers write them.
std::vector<uint8_t> BuildRes(const std::vector<Entry>& entries);

// The entries of a .res file in order, the leading empty one left out; the walk of the layer is not used,
// so tests can compare against it.
std::vector<Entry> SplitRes(const std::vector<uint8_t>& res);

// An RT_STRING block: up to sixteen strings, the rest empty.
std::vector<uint8_t> StringBlock(const std::vector<std::u16string>& strings);

// Installs bytes as the program's resources, and puts the previous ones back when it goes out of scope.
class ScopedResources {
public:
    explicit ScopedResources(std::vector<uint8_t> bytes);
    ~ScopedResources();
    ScopedResources(const ScopedResources&) = delete;
    ScopedResources& operator=(const ScopedResources&) = delete;

private:
    std::vector<uint8_t> bytes_;
    const uint8_t* previous_;
    size_t previousSize_;
};

// The resources the program was built with (installed before main).
std::vector<uint8_t> ProgramResources();

}  // namespace restest

#endif
