#include "translate.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define VEXLINK_X86_KERNELS 1
#include <immintrin.h>
#else
#define VEXLINK_X86_KERNELS 0
#endif

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

// Portable loop: one look-up per byte; eight bytes are read and written as
// one word, so the look-ups stay byte-wise while the memory traffic goes
// word-wise.
void TranslateScalar(const unsigned char* table, unsigned char* buf, size_t n)
{
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

#if VEXLINK_X86_KERNELS
// AVX2: the table as sixteen rows of sixteen bytes, one byte shuffle per
// row. Step r looks up y = x - 16r: only bytes of row r give y below 16, and
// the saturating add of 0x70 pushes every other byte to 0x80 or above, which
// the shuffle turns into 0, so OR-ing the sixteen steps leaves exactly
// table[x].
__attribute__((target("avx2"))) void TranslateAvx2(const unsigned char* table, unsigned char* buf, size_t n)
{
    __m256i rows[16];
    for (int r = 0; r < 16; ++r)
        rows[r] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * r)));
    const __m256i lift = _mm256_set1_epi8(0x70);
    const __m256i step = _mm256_set1_epi8(0x10);
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(buf + i));
        __m256i result = _mm256_setzero_si256();
        for (int r = 0; r < 16; ++r) {
            result = _mm256_or_si256(result, _mm256_shuffle_epi8(rows[r], _mm256_adds_epu8(y, lift)));
            y = _mm256_sub_epi8(y, step);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(buf + i), result);
    }
    TranslateScalar(table, buf + i, n - i);
}

// AVX-512 VBMI: two 128-byte permutes cover the table, bit 7 of each byte
// picks the half; the tail goes through masked loads and stores.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void TranslateVbmi(const unsigned char* table,
                                                                          unsigned char* buf, size_t n)
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i x = _mm512_loadu_si512(buf + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
        _mm512_storeu_si512(buf + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high));
    }
    if (i < n) {
        const __mmask64 k = (~0ULL) >> (64 - (n - i));
        const __m512i x = _mm512_maskz_loadu_epi8(k, buf + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
        _mm512_mask_storeu_epi8(buf + i, k, _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high));
    }
}
#endif

using KernelFunction = void (*)(const unsigned char*, unsigned char*, size_t);

KernelFunction KernelFor(Translate::Kernel kernel)
{
    switch (kernel) {
#if VEXLINK_X86_KERNELS
    case Translate::Kernel::Avx512Vbmi:
        return TranslateVbmi;
    case Translate::Kernel::Avx2:
        return TranslateAvx2;
#endif
    default:
        return TranslateScalar;
    }
}

Translate::Kernel BestKernel()
{
    if (Translate::KernelAvailable(Translate::Kernel::Avx512Vbmi))
        return Translate::Kernel::Avx512Vbmi;
    if (Translate::KernelAvailable(Translate::Kernel::Avx2))
        return Translate::Kernel::Avx2;
    return Translate::Kernel::Scalar;
}

// Chosen once (thread-safe initialisation), read-only afterwards.
KernelFunction ActiveKernelFunction()
{
    static const KernelFunction s_function = KernelFor(Translate::ActiveKernel());
    return s_function;
}

inline void TranslateBytes(const unsigned char* table, unsigned char* buf, int len)
{
    if (buf == nullptr || len <= 0)
        return;
    ActiveKernelFunction()(table, buf, static_cast<size_t>(len));
}

} // namespace

bool Translate::KernelAvailable(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Scalar:
        return true;
#if VEXLINK_X86_KERNELS
    case Kernel::Avx2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    case Kernel::Avx512Vbmi:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
#endif
    default:
        return false;
    }
}

Translate::Kernel Translate::ActiveKernel()
{
    static const Kernel s_kernel = BestKernel();
    return s_kernel;
}

void Translate::TranslateWith(Kernel kernel, const unsigned char* table, unsigned char* buf, size_t len)
{
    if (table == nullptr || buf == nullptr || len == 0)
        return;
    KernelFor(KernelAvailable(kernel) ? kernel : Kernel::Scalar)(table, buf, len);
}

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

int Translate::Choose(const std::string* pConfigured, std::string& matchedName)
{
    matchedName.clear();
    int number = 17; // Austria, Germany (IBM-1141)

    if (pConfigured != nullptr) {
        const std::string& value = *pConfigured;
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
