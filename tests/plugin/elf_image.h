// Reads what the dynamic loader sees of a shared object: its needed-library
// list and its dynamic symbol table. Written out by hand (no readelf, no
// <elf.h> structs) so that it reads 32-bit and 64-bit little-endian files
// the same way on any host, including a 32-bit MIPS board under qemu.
#ifndef VELTA36_TESTS_PLUGIN_ELF_IMAGE_H
#define VELTA36_TESTS_PLUGIN_ELF_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace elfcheck {

struct DynamicSymbol {
    std::string name;
    bool defined;      // has a section (not undefined)
    bool exported;     // defined, global or weak binding, default or protected visibility
    bool function;     // STT_FUNC or STT_GNU_IFUNC
    bool object;       // STT_OBJECT
};

// DF_1_NODELETE of DT_FLAGS_1: dlclose never unmaps the object.
const uint64_t kFlag1NoDelete = 0x8;

struct ElfImage {
    bool is64;
    uint64_t flags1 = 0;                    // DT_FLAGS_1, 0 when absent
    std::vector<std::string> needed;        // DT_NEEDED entries, in order
    std::vector<DynamicSymbol> symbols;     // .dynsym without the null entry
};

// Parses the image; throws std::runtime_error on anything that is not a
// well-formed little-endian ELF32/ELF64 file with a dynamic section.
ElfImage ParseElf(const std::vector<unsigned char>& bytes);
ElfImage ReadElfFile(const std::string& path);

// What a plug-in may show to the host: needed libraries only from the
// standard runtime (libstdc++, libm, libgcc_s, libc, the dynamic loader),
// exactly one exported function named entry, and exported objects only from
// allowedObjects. Returns one line per violation; empty when clean.
std::vector<std::string> PluginImageProblems(const ElfImage& image, const std::string& entry,
                                             const std::vector<std::string>& allowedObjects);

}  // namespace elfcheck

#endif
