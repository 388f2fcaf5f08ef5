#include "codec.h"

#include "translate.h"

#include <stdexcept>

namespace hostemu {

Codec::Codec(int tableNumber) : m_iTable(tableNumber)
{
    Translate* tr = Translate::Instance();
    m_pToPC = tr->HostToPCTable(tableNumber);
    m_pToHost = tr->PCToHostTable(tableNumber);
    if (m_pToPC == nullptr || m_pToHost == nullptr)
        throw std::invalid_argument("code page table number must be 0 to 36");
}

void Codec::ToHostInPlace(std::string& text) const
{
    for (char& c : text)
        c = static_cast<char>(m_pToHost[static_cast<unsigned char>(c)]);
}

void Codec::ToPCInPlace(std::string& text) const
{
    for (char& c : text)
        c = static_cast<char>(m_pToPC[static_cast<unsigned char>(c)]);
}

std::string Codec::ToHost(std::string text) const
{
    ToHostInPlace(text);
    return text;
}

std::string Codec::ToPC(std::string text) const
{
    ToPCInPlace(text);
    return text;
}

} // namespace hostemu
