#pragma once
// Code page translation between the host's EBCDIC code page and the PC's
// single-byte code page: one process-wide object holding the table pair in
// use, translating buffers in place, one table look-up per byte.

#include "cobject.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// One record of the code page catalogue, 476 bytes, kept in this layout in
// the generated constant data (codepagetables.cpp).
struct CodePageRecord {
    char shortCode[20];       // ASCII, NUL-padded ("EAI1", "HEBREW 424")
    char displayName[100];    // ASCII, NUL-padded, shorter than 100 characters
    char converterName[100];  // double-byte converter, empty for single-byte pages
    unsigned char table[256]; // main catalogue: PC byte for host byte e;
                              // paired catalogue: host byte for PC byte p
};
static_assert(sizeof(CodePageRecord) == 476, "catalogue record must stay 476 bytes");

// Generated constant data (tools/gen_codepages.py writes codepagetables.cpp).
extern const CodePageRecord g_CodePageCatalogue[];       // main catalogue, tables 1 to 36
extern const int g_iCodePageCatalogueSize;               // 36
extern const CodePageRecord g_CodePagePairedCatalogue[]; // explicit PC-to-host tables
extern const int g_iCodePagePairedCatalogueSize;         // 10
extern const unsigned char g_cDefaultHostToPC[256];      // table 0, host to PC
extern const char* const g_pDefaultTableName;            // "(Old) TALVERIX Default"

class Translate : public CObject {
public:
    static constexpr int kTableCount = 37; // 0 built in, 1 to 36 the catalogue

    // The process-wide object; the first call creates it with table 0 loaded.
    // It is never destroyed.
    static Translate* Instance();

    // Loads table number: 0 on success, -1 when number is outside 0 to 36
    // (the table in use is then unchanged).
    int SelectTable(int number);
    int GetTableNumber() const;

    // All display names in number order, separated by ";".
    std::string GetTableList() const;
    // The listing of the -t option on standard output.
    void PrintTableList() const;

    // In place, one table look-up per byte; len <= 0 translates nothing.
    void TranslateToHost(unsigned char* buf, int len) const;
    void TranslateToPC(unsigned char* buf, int len) const;
    void TranslateToHost(char* buf, int len) const;
    void TranslateToPC(char* buf, int len) const;

    // Double-byte converter name of the table in use ("" for table 0 and the
    // single-byte code pages).
    const char* GetConverterName() const;
    // Display name of table number, nullptr when number is outside 0 to 36.
    const char* GetDisplayName(int number) const;

    // Chooses the table from "GLOBAL.CODEPAGE" (a number, or an exact display
    // name, else 17) and selects it. Returns the number in use; matchedName
    // receives the matched display name (empty when the value was a number).
    // Defined with the configuration (codepagechoice.cpp), which the host
    // emulator does not link.
    int ChooseFromConfig(std::string& matchedName);
    // The same choice from the setting's value (null: the key is absent).
    int Choose(const std::string* pConfigured, std::string& matchedName);

    // The table bytes of table number (host to PC / PC to host), nullptr when
    // number is outside 0 to 36.
    const unsigned char* HostToPCTable(int number) const;
    const unsigned char* PCToHostTable(int number) const;

    // The byte-wise look-up loops. All give the same bytes; the widest one
    // the processor offers is chosen once, at first use.
    enum class Kernel { Scalar, Avx2, Avx512Vbmi };
    static bool KernelAvailable(Kernel kernel);
    static Kernel ActiveKernel();
    // buf[i] := table[buf[i]] for i below len, with the given kernel (which
    // must be available).
    static void TranslateWith(Kernel kernel, const unsigned char* table, unsigned char* buf, size_t len);

    ~Translate() override = default;

private:
    Translate();
    Translate(const Translate&) = delete;
    Translate& operator=(const Translate&) = delete;

    struct TablePair {
        unsigned char toPC[256];
        unsigned char toHost[256];
    };

    // Every table pair is built once at creation and only read afterwards;
    // selecting a table only switches the number, so threads translating
    // while another selects never see a half-loaded table.
    TablePair m_tables[kTableCount];
    std::atomic<int32_t> m_iTableNumber{0};
};
