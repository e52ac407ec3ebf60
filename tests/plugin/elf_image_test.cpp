// The ELF reader and the plug-in image rules, on small images built here in
// both classes, so the 32-bit path is exercised on a 64-bit build machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "elf_image.h"

namespace {

struct FakeSymbol {
    std::string name;
    unsigned type;         // 1 object, 2 function
    unsigned binding;      // 0 local, 1 global, 2 weak
    unsigned visibility;   // 0 default, 2 hidden
    bool defined;
};

void Put(std::vector<unsigned char>& out, uint64_t at, uint64_t value, unsigned width)
{
    if (out.size() < at + width)
        out.resize(at + width, 0);
    for (unsigned i = 0; i < width; ++i)
        // Fields wider than eight bytes are zero-extended; a shift by 64 or
        // more is undefined.
        out[at + i] = static_cast<unsigned char>(i < 8 ? value >> (8 * i) : 0);
}

// A minimal little-endian shared object: null section, .dynstr, .dynsym,
// .dynamic, then the section header table.
std::vector<unsigned char> BuildElf(bool is64, const std::vector<std::string>& needed,
                                    const std::vector<FakeSymbol>& symbols)
{
    const unsigned word = is64 ? 8 : 4;
    std::string strings(1, '\0');
    auto add = [&strings](const std::string& text) {
        const uint64_t at = strings.size();
        strings += text;
        strings += '\0';
        return at;
    };
    std::vector<uint64_t> neededAt;
    for (const std::string& library : needed)
        neededAt.push_back(add(library));
    std::vector<uint64_t> symbolAt;
    for (const FakeSymbol& symbol : symbols)
        symbolAt.push_back(add(symbol.name));

    std::vector<unsigned char> out;
    const uint64_t header = is64 ? 64 : 52;
    const uint64_t stringsAt = header;
    for (std::size_t i = 0; i < strings.size(); ++i)
        Put(out, stringsAt + i, static_cast<unsigned char>(strings[i]), 1);

    const uint64_t symEntry = is64 ? 24 : 16;
    const uint64_t symAt = (stringsAt + strings.size() + 7) / 8 * 8;
    Put(out, symAt, 0, static_cast<unsigned>(symEntry));   // null symbol
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const uint64_t at = symAt + symEntry * (i + 1);
        const FakeSymbol& s = symbols[i];
        Put(out, at, symbolAt[i], 4);
        Put(out, at + (is64 ? 4 : 12), (s.binding << 4) | s.type, 1);
        Put(out, at + (is64 ? 5 : 13), s.visibility, 1);
        Put(out, at + (is64 ? 6 : 14), s.defined ? 7 : 0, 2);
        Put(out, at + (is64 ? 8 : 4), 0x1000 + i, word);
    }
    const uint64_t symSize = symEntry * (symbols.size() + 1);

    const uint64_t dynEntry = 2 * word;
    const uint64_t dynAt = symAt + symSize;
    for (std::size_t i = 0; i < neededAt.size(); ++i) {
        Put(out, dynAt + dynEntry * i, 1, word);   // DT_NEEDED
        Put(out, dynAt + dynEntry * i + word, neededAt[i], word);
    }
    Put(out, dynAt + dynEntry * neededAt.size(), 0, static_cast<unsigned>(dynEntry));   // DT_NULL
    const uint64_t dynSize = dynEntry * (neededAt.size() + 1);

    const uint64_t shEntry = is64 ? 64 : 40;
    const uint64_t shAt = (dynAt + dynSize + 7) / 8 * 8;
    struct Header { unsigned type; uint64_t offset, size; unsigned link; uint64_t entsize; };
    const Header headers[4] = {{0, 0, 0, 0, 0},
                               {3, stringsAt, strings.size(), 0, 0},
                               {11, symAt, symSize, 1, symEntry},
                               {6, dynAt, dynSize, 1, dynEntry}};
    for (unsigned i = 0; i < 4; ++i) {
        const uint64_t at = shAt + shEntry * i;
        Put(out, at + 4, headers[i].type, 4);
        Put(out, at + (is64 ? 24 : 16), headers[i].offset, word);
        Put(out, at + (is64 ? 32 : 20), headers[i].size, word);
        Put(out, at + (is64 ? 40 : 24), headers[i].link, 4);
        Put(out, at + (is64 ? 56 : 36), headers[i].entsize, word);
    }
    Put(out, shAt + shEntry * 4 - 1, 0, 1);

    const unsigned char ident[] = {0x7F, 'E', 'L', 'F', static_cast<unsigned char>(is64 ? 2 : 1), 1, 1};
    for (unsigned i = 0; i < sizeof(ident); ++i)
        Put(out, i, ident[i], 1);
    Put(out, 16, 3, 2);   // ET_DYN
    Put(out, is64 ? 0x28 : 0x20, shAt, word);
    Put(out, is64 ? 0x3A : 0x2E, shEntry, 2);
    Put(out, is64 ? 0x3C : 0x30, 4, 2);
    return out;
}

const std::vector<std::string> kStandardRuntime = {"libstdc++.so.6", "libm.so.6", "libgcc_s.so.1",
                                                   "libc.so.6"};

std::vector<FakeSymbol> CleanSymbols()
{
    return {{"get_providers", 2, 1, 0, true},
            {"_ZTI15VELTA36Provider", 1, 1, 0, true},
            {"_ZN4Json5Value8asStringB5cxx11Ev", 2, 1, 0, false},   // resolved against the host
            {"helper_kept_local", 2, 0, 0, true},
            {"helper_hidden", 2, 1, 2, true}};
}

const std::vector<std::string> kAllowedObjects = {"_ZTI15VELTA36Provider"};

class ElfClasses : public ::testing::TestWithParam<bool> {};

TEST_P(ElfClasses, ReadsNeededListAndSymbols)
{
    std::vector<std::string> needed = kStandardRuntime;
    needed.push_back(GetParam() ? "ld-linux-x86-64.so.2" : "ld.so.1");
    const elfcheck::ElfImage image = elfcheck::ParseElf(BuildElf(GetParam(), needed, CleanSymbols()));

    EXPECT_EQ(image.is64, GetParam());
    EXPECT_EQ(image.needed, needed);
    ASSERT_EQ(image.symbols.size(), 5u);
    EXPECT_EQ(image.symbols[0].name, "get_providers");
    EXPECT_TRUE(image.symbols[0].exported);
    EXPECT_TRUE(image.symbols[0].function);
    EXPECT_TRUE(image.symbols[1].object);
    EXPECT_FALSE(image.symbols[2].defined);
    EXPECT_FALSE(image.symbols[3].exported);   // local binding
    EXPECT_FALSE(image.symbols[4].exported);   // hidden visibility
    EXPECT_TRUE(elfcheck::PluginImageProblems(image, "get_providers", kAllowedObjects).empty());
}

TEST_P(ElfClasses, FlagsForeignLibrariesExtraFunctionsAndObjects)
{
    std::vector<std::string> needed = kStandardRuntime;
    needed.push_back("libjsoncpp.so.25");
    std::vector<FakeSymbol> symbols = CleanSymbols();
    symbols.push_back({"_ZN7VELTA3613InitSettingERKN4Json5ValueE", 2, 2, 0, true});   // weak counts
    symbols.push_back({"some_table", 1, 1, 0, true});
    const elfcheck::ElfImage image = elfcheck::ParseElf(BuildElf(GetParam(), needed, symbols));

    const std::vector<std::string> problems =
        elfcheck::PluginImageProblems(image, "get_providers", kAllowedObjects);
    const std::vector<std::string> expected = {"needs libjsoncpp.so.25",
                                               "exports function _ZN7VELTA3613InitSettingERKN4Json5ValueE",
                                               "exports object some_table"};
    EXPECT_EQ(problems, expected);
}

TEST_P(ElfClasses, FlagsAMissingEntryPoint)
{
    std::vector<FakeSymbol> symbols = CleanSymbols();
    symbols[0].defined = false;
    const elfcheck::ElfImage image = elfcheck::ParseElf(BuildElf(GetParam(), kStandardRuntime, symbols));
    const std::vector<std::string> problems =
        elfcheck::PluginImageProblems(image, "get_providers", kAllowedObjects);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], "exports 0 definitions of get_providers");
}

TEST_P(ElfClasses, RejectsDamagedImages)
{
    const std::vector<unsigned char> good = BuildElf(GetParam(), kStandardRuntime, CleanSymbols());

    std::vector<unsigned char> bigEndian = good;
    bigEndian[5] = 2;
    EXPECT_THROW(elfcheck::ParseElf(bigEndian), std::runtime_error);

    std::vector<unsigned char> badMagic = good;
    badMagic[1] = 'X';
    EXPECT_THROW(elfcheck::ParseElf(badMagic), std::runtime_error);

    std::vector<unsigned char> truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    EXPECT_THROW(elfcheck::ParseElf(truncated), std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(Elf32AndElf64, ElfClasses, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Elf64" : "Elf32";
                         });

}  // namespace
