#include "testutil.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdio>

namespace fs = std::filesystem;

namespace hostemu_test {

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

std::string DescribeRecord(const hostemu::Codec& codec, const std::string& block) {
    if (block.size() < 10)
        return "SHORT:" + Hex(block);
    std::string name = codec.ToPC(block.substr(0, 10));
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name + ":" + codec.ToPC(block.substr(10));
}

bool RecordingSink::Send(const std::string& block) {
    m_blocks.push_back(block);
    m_events.push_back(DescribeRecord(m_codec, block));
    return true;
}

bool RecordingSink::Ack(bool handOver) {
    m_blocks.push_back(std::string());
    m_events.push_back(handOver ? "ACK" : "ACK-");
    return true;
}

bool RecordingSink::SendRaw(const std::string& bytes) {
    m_events.push_back("RAW:" + std::to_string(bytes.size()));
    return true;
}

bool RecordingSink::SendOversize(const std::string& block) {
    m_events.push_back("OVERSIZE:" + std::to_string(block.size()));
    return true;
}

PcClient::~PcClient() {
    if (m_bOpen)
        Close();
}

int32_t PcClient::Connect(uint16_t port, const std::string& user, const std::string& password,
                          const std::string& member, int passwordCheck, int timeoutSeconds) {
    int32_t rc = 0;
    cm_set_crypt_mode(m_iCryptMode);
    cm_init(m_cid, member.c_str(), &rc);
    if (rc != CM_OK)
        return rc;
    cm_set_rcv_timeout(m_cid, timeoutSeconds);
    cm_scsu(m_cid, user.c_str(), &rc);
    if (rc != CM_OK)
        return rc;
    cm_scsp(m_cid, password.c_str(), &rc);
    if (rc != CM_OK)
        return rc;
    cm_set_tag(m_cid, user.c_str(), &rc);
    if (rc != CM_OK)
        return rc;
    cm_allc(m_cid, "127.0.0.1", port, 0, timeoutSeconds, passwordCheck, &rc);
    m_bOpen = true;
    return rc;
}

int32_t PcClient::Send(const std::string& name, const std::string& payload, bool handOver) {
    std::string rec = name;
    rec.resize(10, ' ');
    rec += payload;
    m_codec.ToHostInPlace(rec);
    int32_t len = static_cast<int32_t>(rec.size()), status = 0, rc = 0;
    cm_send_bin(m_cid, reinterpret_cast<const unsigned char*>(rec.data()), &len, 0, &status, &rc,
                handOver ? 1 : 0);
    return rc;
}

int32_t PcClient::SendBinary(const std::string& name, const std::string& payload, bool handOver) {
    std::string rec = name;
    rec.resize(10, ' ');
    m_codec.ToHostInPlace(rec);
    rec += payload;
    int32_t len = static_cast<int32_t>(rec.size()), status = 0, rc = 0;
    cm_send_bin(m_cid, reinterpret_cast<const unsigned char*>(rec.data()), &len, 0, &status, &rc,
                handOver ? 1 : 0);
    return rc;
}

int32_t PcClient::Answer(std::vector<Block>& blocks, size_t maxBlocks) {
    std::vector<unsigned char> buf(WC_MAX_BLOCK);
    while (blocks.size() < maxBlocks) {
        int32_t rc = 0, data = 0, status = 0;
        int32_t n = cm_rcv_bin(m_cid, buf.data(), 0, &rc, &data, &status);
        if (rc != CM_OK)
            return rc;
        Block b;
        b.bytes.assign(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
        b.handOver = status == 1;
        blocks.push_back(b);
        if (b.handOver)
            return CM_OK;
    }
    return -1;
}

std::string PcClient::Describe(const Block& b) const {
    if (b.bytes.empty())
        return b.handOver ? "ACK" : "ACK-";
    std::string d = DescribeRecord(m_codec, b.bytes);
    return b.handOver ? d + " (TURN)" : d;
}

std::vector<std::string> PcClient::Ask(const std::string& name, const std::string& payload, int32_t* rcOut) {
    std::vector<std::string> out;
    int32_t rc = Send(name, payload, true);
    if (rc == CM_OK) {
        std::vector<Block> blocks;
        rc = Answer(blocks);
        for (const Block& b : blocks)
            out.push_back(Describe(b));
    }
    if (rcOut != nullptr)
        *rcOut = rc;
    else
        EXPECT_EQ(rc, CM_OK) << cm_rc2str(rc);
    return out;
}

int32_t PcClient::Close() {
    int32_t rc = 0;
    cm_deal(m_cid, &rc);
    m_bOpen = false;
    return rc;
}

} // namespace hostemu_test
