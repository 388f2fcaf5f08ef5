#pragma once
// The host code page of the emulator: text is kept and parsed in the PC code
// page and crosses to EBCDIC through the program's own translation tables
// (the same ones vexlink uses), so both ends agree byte for byte.

#include <string>

namespace hostemu {

class Codec {
public:
    // Table number 0 to 36 as vexlink numbers them; 17 (IBM-1141) by default.
    // Throws std::invalid_argument for a number outside that range.
    explicit Codec(int tableNumber = 17);

    int TableNumber() const { return m_iTable; }
    std::string ToHost(std::string text) const;
    std::string ToPC(std::string text) const;
    void ToHostInPlace(std::string& text) const;
    void ToPCInPlace(std::string& text) const;
    unsigned char HostByte(unsigned char pc) const { return m_pToHost[pc]; }
    unsigned char PCByte(unsigned char host) const { return m_pToPC[host]; }
    // The host's blank (0x40 in every EBCDIC page).
    unsigned char HostBlank() const { return m_pToHost[static_cast<unsigned char>(' ')]; }

private:
    int m_iTable;
    const unsigned char* m_pToPC;
    const unsigned char* m_pToHost;
};

} // namespace hostemu
