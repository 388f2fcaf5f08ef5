#include "translate.h"

#include "configmodul.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// inverse[table[e]] := e for e ascending, every entry cleared to 0 first.
void BuildInverse(const unsigned char* table, unsigned char* inverse)
{
    std::memset(inverse, 0, 256);
    for (int e = 0; e < 256; ++e)
        inverse[table[e]] = static_cast<unsigned char>(e);
}

// The paired PC-to-host record with this display name (first match), or null.
const CodePageRecord* FindPaired(const char* displayName)
{
    for (int i = 0; i < g_iCodePagePairedCatalogueSize; ++i) {
        if (std::strcmp(g_CodePagePairedCatalogue[i].displayName, displayName) == 0)
            return &g_CodePagePairedCatalogue[i];
    }
    return nullptr;
}

// A decimal number as atoi reads it (leading blanks, sign, digits, stop at the
// first other character, 0 when there are none), without atoi's undefined
// behaviour on overflow: values beyond int are clamped.
int ReadDecimal(const std::string& text)
{
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// One look-up per byte. Eight bytes are read and written as one word: the
// look-ups stay byte-wise, the memory traffic goes word-wise.
inline void TranslateBytes(const unsigned char* table, unsigned char* buf, int len)
{
    if (buf == nullptr || len <= 0)
        return;
    const size_t n = static_cast<size_t>(len);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        unsigned char b[8];
        std::memcpy(b, buf + i, 8);
        b[0] = table[b[0]];
        b[1] = table[b[1]];
        b[2] = table[b[2]];
        b[3] = table[b[3]];
        b[4] = table[b[4]];
        b[5] = table[b[5]];
        b[6] = table[b[6]];
        b[7] = table[b[7]];
        std::memcpy(buf + i, b, 8);
    }
    for (; i < n; ++i)
        buf[i] = table[buf[i]];
}

} // namespace

Translate* Translate::Instance()
{
    // Created on first use (thread-safe initialisation of a local static)
    // and never destroyed: translation may run until the process ends.
    static Translate* const s_pInstance = new Translate();
    return s_pInstance;
}

Translate::Translate()
{
    std::memcpy(m_tables[0].toPC, g_cDefaultHostToPC, 256);
    BuildInverse(m_tables[0].toPC, m_tables[0].toHost);

    for (int number = 1; number < kTableCount; ++number) {
        TablePair& pair = m_tables[number];
        if (number - 1 >= g_iCodePageCatalogueSize) {
            pair = m_tables[0];
            continue;
        }
        const CodePageRecord& record = g_CodePageCatalogue[number - 1];
        std::memcpy(pair.toPC, record.table, 256);
        const CodePageRecord* paired = FindPaired(record.displayName);
        if (paired != nullptr)
            std::memcpy(pair.toHost, paired->table, 256);
        else
            BuildInverse(pair.toPC, pair.toHost);
    }
    m_iTableNumber.store(0, std::memory_order_release);
}

int Translate::SelectTable(int number)
{
    if (number < 0 || number >= kTableCount)
        return -1;
    m_iTableNumber.store(number, std::memory_order_release);
    return 0;
}

int Translate::GetTableNumber() const
{
    return m_iTableNumber.load(std::memory_order_acquire);
}

const char* Translate::GetDisplayName(int number) const
{
    if (number == 0)
        return g_pDefaultTableName;
    if (number < 0 || number >= kTableCount || number - 1 >= g_iCodePageCatalogueSize)
        return nullptr;
    return g_CodePageCatalogue[number - 1].displayName;
}

const char* Translate::GetConverterName() const
{
    const int number = GetTableNumber();
    if (number <= 0 || number - 1 >= g_iCodePageCatalogueSize)
        return "";
    return g_CodePageCatalogue[number - 1].converterName;
}

std::string Translate::GetTableList() const
{
    std::string list;
    for (int number = 0; number < kTableCount; ++number) {
        const char* name = GetDisplayName(number);
        if (number > 0)
            list += ';';
        list += name != nullptr ? name : "";
    }
    return list;
}

void Translate::PrintTableList() const
{
    std::fputs("TRNSLT: PRINT TableList\n", stdout);
    for (int number = 0; number < kTableCount; ++number) {
        const char* name = GetDisplayName(number);
        std::printf("%3d: %s\n", number, name != nullptr ? name : "");
    }
    std::fputs("TRNSLT: END TableList\n", stdout);
    std::fflush(stdout);
}

const unsigned char* Translate::HostToPCTable(int number) const
{
    if (number < 0 || number >= kTableCount)
        return nullptr;
    return m_tables[number].toPC;
}

const unsigned char* Translate::PCToHostTable(int number) const
{
    if (number < 0 || number >= kTableCount)
        return nullptr;
    return m_tables[number].toHost;
}

void Translate::TranslateToHost(unsigned char* buf, int len) const
{
    TranslateBytes(m_tables[GetTableNumber()].toHost, buf, len);
}

void Translate::TranslateToPC(unsigned char* buf, int len) const
{
    TranslateBytes(m_tables[GetTableNumber()].toPC, buf, len);
}

void Translate::TranslateToHost(char* buf, int len) const
{
    TranslateToHost(reinterpret_cast<unsigned char*>(buf), len);
}

void Translate::TranslateToPC(char* buf, int len) const
{
    TranslateToPC(reinterpret_cast<unsigned char*>(buf), len);
}

int Translate::ChooseFromConfig(std::string& matchedName)
{
    matchedName.clear();
    int number = 17; // Austria, Germany (IBM-1141)

    std::string value;
    if (g_pConfigModul != nullptr && g_pConfigModul->GetParm("GLOBAL.CODEPAGE", value)) {
        const int asNumber = ReadDecimal(value);
        if (asNumber != 0) {
            number = asNumber;
        } else {
            for (int n = 0; n < kTableCount; ++n) {
                const char* name = GetDisplayName(n);
                if (name != nullptr && value == name) {
                    number = n;
                    matchedName = name;
                    break;
                }
            }
        }
    }

    // A number outside the catalogue leaves the built-in table 0 in use.
    if (SelectTable(number) != 0)
        SelectTable(0);
    return GetTableNumber();
}
