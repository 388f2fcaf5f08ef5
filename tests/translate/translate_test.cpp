// The code page catalogue (generated data) and the translation object.

#include "configmodul.h"
#include "translate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iconv.h>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const int kPairedNumbers[] = {26, 27, 28, 30, 31, 32, 33, 34, 35, 36};

bool IsPermutationTable(int n)
{
    return (n >= 0 && n <= 25) || n == 29;
}

bool IsPermutation(const unsigned char* t)
{
    std::set<int> seen(t, t + 256);
    return seen.size() == 256;
}

// Bytes through the system converter; empty when the conversion fails.
std::string Iconv(const char* from, const char* to, const std::string& in)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "";
    std::string input(in), out(16, '\0');
    char *ip = &input[0], *op = &out[0];
    size_t il = input.size(), ol = out.size();
    const size_t rc = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return rc == static_cast<size_t>(-1) || il != 0 ? "" : out.substr(0, out.size() - ol);
}

// One byte through the system converter, or -1 when it gives not exactly one byte.
int IconvByte(const char* from, const char* to, unsigned char in)
{
    const std::string out = Iconv(from, to, std::string(1, static_cast<char>(in)));
    return out.size() == 1 ? static_cast<unsigned char>(out[0]) : -1;
}

const CodePageRecord* PairedRecord(const char* name)
{
    for (int i = 0; i < g_iCodePagePairedCatalogueSize; ++i)
        if (std::strcmp(g_CodePagePairedCatalogue[i].displayName, name) == 0)
            return &g_CodePagePairedCatalogue[i];
    return nullptr;
}

// Sets GLOBAL.CODEPAGE (or leaves it absent) in a fresh store and chooses.
int ChooseWith(const char* value, std::string& matched)
{
    ConfigModul store(0, nullptr);
    if (value != nullptr)
        store.SetParm("GLOBAL.CODEPAGE", value);
    ConfigModul* saved = g_pConfigModul;
    g_pConfigModul = &store;
    matched = "stale";
    const int number = Translate::Instance()->ChooseFromConfig(matched);
    g_pConfigModul = saved;
    return number;
}

} // namespace

TEST(TranslateCatalogue, UniqueNamesConvertersAndPermutationInverses)
{
    // The name look-up needs unique display names; double-byte converters belong to mixed pages only.
    Translate* t = Translate::Instance();
    std::set<std::string> names;
    for (int n = 0; n < 37; ++n) {
        names.insert(t->GetDisplayName(n));
        ASSERT_EQ(t->SelectTable(n), 0);
        const bool mixed = (n >= 26 && n <= 28) || n == 30 || (n >= 32 && n <= 36);
        EXPECT_EQ(std::strlen(t->GetConverterName()) > 0, mixed) << n;
        const unsigned char* toPC = t->HostToPCTable(n);
        const unsigned char* toHost = t->PCToHostTable(n);
        EXPECT_EQ(IsPermutation(toPC), IsPermutationTable(n)) << n;
        for (int e = 0; IsPermutationTable(n) && e < 256; ++e)
            ASSERT_EQ(toHost[toPC[e]], e) << "table " << n << " host " << e; // PC-to-host is the inverse
    }
    EXPECT_EQ(names.size(), 37u);
    EXPECT_EQ(t->GetDisplayName(37), nullptr);
    EXPECT_EQ(t->SelectTable(37), -1);
    EXPECT_EQ(t->HostToPCTable(-1), nullptr);
}

TEST(TranslateCatalogue, PairedTablesUsedForMixedAndHebrewCodePages)
{
    Translate* t = Translate::Instance();
    for (int n : kPairedNumbers) {
        ASSERT_NE(PairedRecord(t->GetDisplayName(n)), nullptr) << n;
        const unsigned char* toPC = t->HostToPCTable(n);
        const unsigned char* toHost = t->PCToHostTable(n);
        // The substitute is the one PC byte that many host bytes share.
        int counts[256] = {};
        for (int e = 0; e < 256; ++e)
            ++counts[toPC[e]];
        const int sub = static_cast<int>(std::max_element(counts, counts + 256) - counts);
        const int expectedSub = n == 31 ? 0xFE : (n <= 28 ? 0x1A : 0x7F);
        EXPECT_EQ(sub, expectedSub) << n;
        EXPECT_GT(counts[sub], 1) << n;
        int converted = 0;
        for (int e = 0; e < 256; ++e) {
            if (toPC[e] == sub)
                continue;
            ++converted;
            EXPECT_EQ(toHost[toPC[e]], e) << "table " << n << " host " << e;
        }
        EXPECT_GE(converted, 100) << n; // at least the invariant EBCDIC set
        // PC bytes no host byte reaches get the EBCDIC substitute 0x3F (an inverse would leave 0).
        int unreached = 0;
        for (int p = 0; p < 256; ++p) {
            if (counts[p] == 0) {
                ++unreached;
                EXPECT_EQ(toHost[p], 0x3F) << "table " << n << " PC " << p;
            }
        }
        EXPECT_GT(unreached, 0) << n;
        EXPECT_EQ(toHost[sub], 0x3F) << n;
        // Shift-out and shift-in are translated like every other byte.
        EXPECT_EQ(toPC[0x0E], 0x0E) << n;
        EXPECT_EQ(toHost[0x0F], 0x0F) << n;
    }
}

TEST(TranslateCatalogue, DefaultTableListedPositionsAndCodePage850)
{
    const int listed[33][2] = {{0x04, 0xDC}, {0x06, 0xC3}, {0x08, 0xCA}, {0x09, 0xB2}, {0x0A, 0xD5}, {0x14, 0xDB},
                               {0x15, 0xDA}, {0x17, 0xC1}, {0x1A, 0xC8}, {0x1B, 0xF2}, {0x20, 0xC4}, {0x21, 0xB3},
                               {0x22, 0xC0}, {0x23, 0xD9}, {0x24, 0xBF}, {0x28, 0xB4}, {0x29, 0xC2}, {0x2A, 0xC5},
                               {0x2B, 0xB0}, {0x2C, 0xB1}, {0x30, 0xCD}, {0x31, 0xBA}, {0x33, 0xBC}, {0x34, 0xBB},
                               {0x35, 0xC9}, {0x36, 0xCC}, {0x38, 0xB9}, {0x39, 0xCB}, {0x3A, 0xCE}, {0x3B, 0xDF},
                               {0x3E, 0xFE}, {0xBC, 0xEE}, {0xFF, 0x9F}};
    Translate* t = Translate::Instance();
    const unsigned char* t0 = t->HostToPCTable(0);
    std::set<int> listedHost;
    for (const auto& l : listed) {
        EXPECT_EQ(t0[l[0]], l[1]) << std::hex << l[0];
        listedHost.insert(l[0]);
    }
    EXPECT_EQ(t0[0x25], 0x0A);
    EXPECT_TRUE(IsPermutation(t0));
    EXPECT_EQ(0, std::memcmp(t0, g_cDefaultHostToPC, 256));

    // The rest as the system converts IBM-273 to 850, but for DEL, SUB and IS4 that IBM places at
    // 0x1C, 0x7F and 0x1A (the IBM PC control convention) and glibc at 0x7F, 0x1A and 0x1C.
    int compared = 0;
    for (int e = 0; e < 256; ++e) {
        if (listedHost.count(e) || e == 0x07 || e == 0x1C || e == 0x3F)
            continue;
        const int expected = IconvByte("IBM273", "IBM850", static_cast<unsigned char>(e));
        if (expected < 0)
            continue;
        ++compared;
        EXPECT_EQ(t0[e], expected) << "host 0x" << std::hex << e;
    }
    EXPECT_GE(compared, 200);
    std::set<int> controls = {t0[0x07], t0[0x1C], t0[0x3F]};
    EXPECT_EQ(controls, (std::set<int>{0x1A, 0x1C, 0x7F}));
}

TEST(TranslateCatalogue, SingleByteTablesAgreeWithSystemConversion)
{
    struct Case {
        int number;
        const char* host;
        const char* pc;
        std::set<int> known;
    };
    // Known: glibc's IBM-278 and IBM-871 swap two letters against IBM (its IBM1143 and IBM1149 agree).
    // The euro variants against ISO-8859-15: their euro sign arrives as 0xA4.
    const Case cases[] = {
        {1, "IBM037", "ISO-8859-1", {}},    {2, "IBM273", "ISO-8859-1", {}},
        {4, "IBM277", "ISO-8859-1", {}},    {5, "IBM278", "ISO-8859-1", {0x71, 0xE0}},
        {6, "IBM280", "ISO-8859-1", {}},    {9, "IBM284", "ISO-8859-1", {}},
        {10, "IBM285", "ISO-8859-1", {}},   {11, "IBM297", "ISO-8859-1", {}},
        {12, "IBM500", "ISO-8859-1", {}},   {13, "IBM871", "ISO-8859-1", {0x4A, 0xC0}},
        {14, "IBM875", "ISO-8859-7", {}},   {15, "IBM1026", "ISO-8859-9", {}},
        {16, "IBM1140", "ISO-8859-15", {}}, {17, "IBM1141", "ISO-8859-15", {}},
        {18, "IBM1142", "ISO-8859-15", {}}, {19, "IBM1143", "ISO-8859-15", {}},
        {20, "IBM1144", "ISO-8859-15", {}}, {21, "IBM1145", "ISO-8859-15", {}},
        {22, "IBM1146", "ISO-8859-15", {}}, {23, "IBM1147", "ISO-8859-15", {}},
        {24, "IBM1148", "ISO-8859-15", {}}, {25, "IBM1149", "ISO-8859-15", {}},
        {29, "IBM1047", "ISO-8859-1", {}},  {3, "IBM274", "ISO-8859-1", {}},
        {7, "IBM281", "ISO-8859-1", {}},    {8, "EBCDIC-PT", "ISO-8859-1", {}},
    };
    Translate* t = Translate::Instance();
    for (const Case& c : cases) {
        const unsigned char* toPC = t->HostToPCTable(c.number);
        int compared = 0;
        for (int e = 0; e < 256; ++e) {
            if (e == 0x15 || e == 0x25 || c.known.count(e))
                continue;
            const int expected = IconvByte(c.host, c.pc, static_cast<unsigned char>(e));
            if (expected < 0)
                continue; // no counterpart in the PC code page
            ++compared;
            EXPECT_EQ(toPC[e], expected) << c.host << " host 0x" << std::hex << e;
        }
        EXPECT_GE(compared, 150) << c.host;
        // The line-end convention: NL to LF and LF to NEL.
        EXPECT_EQ(toPC[0x15], 0x0A) << c.number;
        EXPECT_EQ(toPC[0x25], 0x85) << c.number;
    }
}

TEST(TranslateCatalogue, InvariantCharactersAndLineEndsInEveryCatalogueTable)
{
    const std::string pc = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \n";
    const std::string host = "\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xE2\xE3\xE4"
                             "\xE5\xE6\xE7\xE8\xE9\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\x40\x15";
    for (int n = 1; n <= 36; ++n)
        for (size_t i = 0; i < pc.size(); ++i) {
            EXPECT_EQ(Translate::Instance()->HostToPCTable(n)[static_cast<unsigned char>(host[i])],
                      static_cast<unsigned char>(pc[i]))
                << n;
            EXPECT_EQ(Translate::Instance()->PCToHostTable(n)[static_cast<unsigned char>(pc[i])],
                      static_cast<unsigned char>(host[i]))
                << n;
        }
}

// The in-place calls use the selected table's direction (the kernels' bytes: below).
TEST(TranslateObject, InPlaceCallsUseTheSelectedTable)
{
    Translate* t = Translate::Instance();
    for (int n : {0, 17, 31}) {
        ASSERT_EQ(t->SelectTable(n), 0);
        std::string text = "\xC1\x15\xC1", back = "A\nA";
        t->TranslateToPC(&text[0], 2); // the byte behind stays
        t->TranslateToHost(&back[0], 3);
        EXPECT_EQ(text, std::string({static_cast<char>(t->HostToPCTable(n)[0xC1]),
                                     static_cast<char>(t->HostToPCTable(n)[0x15]), '\xC1'}))
            << n;
        EXPECT_EQ(back, std::string({static_cast<char>(t->PCToHostTable(n)['A']),
                                     static_cast<char>(t->PCToHostTable(n)['\n']),
                                     static_cast<char>(t->PCToHostTable(n)['A'])}))
            << n;
    }
    char text[] = "\xC1";
    t->TranslateToPC(text, -5); // nothing at 0 or below
    EXPECT_STREQ(text, "\xC1");
    t->TranslateToPC(static_cast<unsigned char*>(nullptr), 10); // no crash
    ASSERT_EQ(t->SelectTable(17), 0);
}

TEST(TranslateObject, EveryKernelGivesTheScalarBytes)
{
    using K = Translate::Kernel;
    EXPECT_TRUE(Translate::KernelAvailable(K::Scalar));
    EXPECT_TRUE(Translate::KernelAvailable(Translate::ActiveKernel()));
    std::mt19937 rng(777);
    std::vector<unsigned char> original(70000);
    for (auto& b : original)
        b = static_cast<unsigned char>(rng());
    // A table that is not a permutation (table 31) and one that is.
    for (int n : {17, 31}) {
        const unsigned char* table = Translate::Instance()->HostToPCTable(n);
        for (K kernel : {K::Scalar, K::Avx2, K::Avx512Vbmi}) {
            if (!Translate::KernelAvailable(kernel))
                continue;
            // Every length up to 200 at three offsets (all tails, first full vectors), then a long one.
            std::vector<std::pair<size_t, size_t>> cuts;
            for (size_t len = 0; len <= 200; ++len)
                for (size_t offset : {0u, 1u, 33u})
                    cuts.emplace_back(offset, len);
            cuts.emplace_back(5, 65537);
            for (const auto& cut : cuts) {
                const size_t size = cut.first + cut.second + 40; // guard bytes behind
                std::vector<unsigned char> buf(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(size));
                Translate::TranslateWith(kernel, table, buf.data() + cut.first, cut.second);
                for (size_t i = 0; i < buf.size(); ++i) {
                    const bool inside = i >= cut.first && i < cut.first + cut.second;
                    ASSERT_EQ(buf[i], inside ? table[original[i]] : original[i])
                        << "kernel " << static_cast<int>(kernel) << " offset " << cut.first << " len " << cut.second
                        << " at " << i;
                }
            }
        }
    }
}

TEST(TranslateObject, ChoiceFromConfiguration)
{
    // Absent: 17 (IBM-1141); a number (atoi rules); the exact display name, whole and case
    // sensitive; out of range: the built-in table 0.
    Translate* t = Translate::Instance();
    std::string matched;
    struct Case {
        const char* value;
        int number;
        const char* matched;
    };
    const Case cases[] = {
        {nullptr, 17, ""},
        {"1", 1, ""},
        {"USA, Canada, Brazil (IBM-037)", 1, "USA, Canada, Brazil (IBM-037)"},
        {"usa, canada, brazil (ibm-037)", 17, ""},
        {"USA, Canada, Brazil (IBM-037) ", 17, ""},
        {"(Old) TALVERIX Default", 0, "(Old) TALVERIX Default"},
        {"HEBREW (424<->1255)", 31, "HEBREW (424<->1255)"},
        {"37", 0, ""},
        {"-3", 0, ""},
        {"99999999999999999999", 0, ""},
        {"0", 17, ""},
        {"", 17, ""},
        {"IBM-1141", 17, ""},
        {"  2", 2, ""},
        {"26abc", 26, ""},
        {"36", 36, ""},
    };
    for (const Case& k : cases) {
        ASSERT_EQ(t->SelectTable(5), 0);
        SCOPED_TRACE(k.value ? k.value : "(absent)");
        EXPECT_EQ(ChooseWith(k.value, matched), k.number);
        EXPECT_EQ(matched, k.matched);
        EXPECT_EQ(t->GetTableNumber(), k.number);
    }

    ConfigModul* saved = g_pConfigModul; // without a store the key counts as absent
    g_pConfigModul = nullptr;
    matched = "x";
    EXPECT_EQ(t->ChooseFromConfig(matched), 17);
    EXPECT_EQ(matched, "");
    g_pConfigModul = saved;
}
