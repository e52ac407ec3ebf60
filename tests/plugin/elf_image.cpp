#include "elf_image.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace elfcheck {

namespace {

const unsigned kShtDynsym = 11;
const unsigned kShtDynamic = 6;
const uint64_t kDtNull = 0;
const uint64_t kDtNeeded = 1;
const uint64_t kDtFlags1 = 0x6ffffffb;
const unsigned kSttObject = 1;
const unsigned kSttFunc = 2;
const unsigned kSttGnuIfunc = 10;
const unsigned kStbGlobal = 1;
const unsigned kStbWeak = 2;
const unsigned kStvDefault = 0;
const unsigned kStvProtected = 3;

// Bounds-checked little-endian reads from the file image.
class Reader {
public:
    explicit Reader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

    uint64_t read(uint64_t offset, unsigned width) const
    {
        if (offset > bytes_.size() || width > bytes_.size() - offset)
            throw std::runtime_error("ELF: read past the end of the file");
        uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i)
            value |= static_cast<uint64_t>(bytes_[offset + i]) << (8 * i);
        return value;
    }

    std::string string(uint64_t tableOffset, uint64_t tableSize, uint64_t index) const
    {
        if (index >= tableSize)
            throw std::runtime_error("ELF: string index outside its table");
        std::string text;
        for (uint64_t at = tableOffset + index;; ++at) {
            if (at >= tableOffset + tableSize)
                throw std::runtime_error("ELF: unterminated string");
            const char c = static_cast<char>(read(at, 1));
            if (c == '\0')
                return text;
            text += c;
        }
    }

private:
    const std::vector<unsigned char>& bytes_;
};

struct Section {
    unsigned type;
    uint64_t offset;
    uint64_t size;
    unsigned link;
    uint64_t entrySize;
};

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsStandardRuntime(const std::string& library)
{
    static const char* const prefixes[] = {"libstdc++.so", "libm.so", "libgcc_s.so", "libc.so",
                                           "ld-linux", "ld.so"};
    for (const char* prefix : prefixes) {
        if (StartsWith(library, prefix))
            return true;
    }
    return false;
}

}  // namespace

ElfImage ParseElf(const std::vector<unsigned char>& bytes)
{
    const Reader in(bytes);
    if (bytes.size() < 16 || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' || bytes[3] != 'F')
        throw std::runtime_error("ELF: bad magic");
    if (bytes[4] != 1 && bytes[4] != 2)
        throw std::runtime_error("ELF: unknown class");
    if (bytes[5] != 1)
        throw std::runtime_error("ELF: not little-endian");

    ElfImage image;
    image.is64 = bytes[4] == 2;
    const unsigned word = image.is64 ? 8 : 4;

    const uint64_t sectionTable = in.read(image.is64 ? 0x28 : 0x20, word);
    const unsigned sectionEntry = static_cast<unsigned>(in.read(image.is64 ? 0x3A : 0x2E, 2));
    const unsigned sectionCount = static_cast<unsigned>(in.read(image.is64 ? 0x3C : 0x30, 2));
    if (sectionEntry < (image.is64 ? 64u : 40u))
        throw std::runtime_error("ELF: section header too small");

    std::vector<Section> sections;
    for (unsigned i = 0; i < sectionCount; ++i) {
        const uint64_t at = sectionTable + static_cast<uint64_t>(i) * sectionEntry;
        Section s;
        s.type = static_cast<unsigned>(in.read(at + 4, 4));
        s.offset = in.read(at + (image.is64 ? 24 : 16), word);
        s.size = in.read(at + (image.is64 ? 32 : 20), word);
        s.link = static_cast<unsigned>(in.read(at + (image.is64 ? 40 : 24), 4));
        s.entrySize = in.read(at + (image.is64 ? 56 : 36), word);
        sections.push_back(s);
    }
    auto stringTable = [&](const Section& owner) -> const Section& {
        if (owner.link >= sections.size())
            throw std::runtime_error("ELF: string table link out of range");
        return sections[owner.link];
    };

    bool sawDynamic = false;
    for (const Section& s : sections) {
        if (s.type == kShtDynamic) {
            sawDynamic = true;
            const Section& strings = stringTable(s);
            const uint64_t entry = image.is64 ? 16 : 8;
            for (uint64_t at = s.offset; at + entry <= s.offset + s.size; at += entry) {
                const uint64_t tag = in.read(at, word);
                if (tag == kDtNull)
                    break;
                if (tag == kDtNeeded)
                    image.needed.push_back(in.string(strings.offset, strings.size, in.read(at + word, word)));
                else if (tag == kDtFlags1)
                    image.flags1 = in.read(at + word, word);
            }
        } else if (s.type == kShtDynsym) {
            const Section& strings = stringTable(s);
            const uint64_t entry = image.is64 ? 24 : 16;
            if (s.entrySize != entry)
                throw std::runtime_error("ELF: unexpected symbol entry size");
            // Entry 0 is the reserved null symbol.
            for (uint64_t at = s.offset + entry; at + entry <= s.offset + s.size; at += entry) {
                const unsigned info = static_cast<unsigned>(in.read(at + (image.is64 ? 4 : 12), 1));
                const unsigned other = static_cast<unsigned>(in.read(at + (image.is64 ? 5 : 13), 1));
                const unsigned section = static_cast<unsigned>(in.read(at + (image.is64 ? 6 : 14), 2));
                const unsigned type = info & 0xF;
                const unsigned binding = info >> 4;
                const unsigned visibility = other & 0x3;
                DynamicSymbol symbol;
                symbol.name = in.string(strings.offset, strings.size, in.read(at, 4));
                symbol.defined = section != 0;
                symbol.exported = symbol.defined && (binding == kStbGlobal || binding == kStbWeak) &&
                                  (visibility == kStvDefault || visibility == kStvProtected);
                symbol.function = type == kSttFunc || type == kSttGnuIfunc;
                symbol.object = type == kSttObject;
                image.symbols.push_back(symbol);
            }
        }
    }
    if (!sawDynamic)
        throw std::runtime_error("ELF: no dynamic section");
    return image;
}

ElfImage ReadElfFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open " + path);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    return ParseElf(bytes);
}

std::vector<std::string> PluginImageProblems(const ElfImage& image, const std::string& entry,
                                             const std::vector<std::string>& allowedObjects)
{
    std::vector<std::string> problems;
    for (const std::string& library : image.needed) {
        if (!IsStandardRuntime(library))
            problems.push_back("needs " + library);
    }
    int entries = 0;
    for (const DynamicSymbol& symbol : image.symbols) {
        if (!symbol.exported)
            continue;
        if (symbol.function) {
            if (symbol.name == entry)
                ++entries;
            else
                problems.push_back("exports function " + symbol.name);
        } else if (symbol.object) {
            if (std::find(allowedObjects.begin(), allowedObjects.end(), symbol.name) == allowedObjects.end())
                problems.push_back("exports object " + symbol.name);
        }
    }
    if (entries != 1)
        problems.push_back("exports " + std::to_string(entries) + " definitions of " + entry);
    return problems;
}

}  // namespace elfcheck
