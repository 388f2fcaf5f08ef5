#pragma once
// Helpers of the emulator tests: an answer sink recording what a session sends, the PC side of a
// conversation, and an emulator in the test process on 127.0.0.1 over a copy of the sample catalogue.

#include "codec.h"
#include "server.h"
#include "session.h"
#include "scratchdir.h"
#include "wctest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hostemu_test {

// Readable form of one item record: "NAME:payload" in the PC code page.
inline std::string DescribeRecord(const hostemu::Codec& codec, const std::string& block)
{
    std::string name = codec.ToPC(block.substr(0, 10));
    name.erase(name.find_last_not_of(' ') + 1);
    return name + ":" + codec.ToPC(block.substr(std::min<size_t>(10, block.size())));
}

// Events of an answer: "HPMSG:RC=0 ...", "ACK" (the turn back), "ACK-" (an
// empty block that keeps the turn), "RAW:<n>", "OVERSIZE:<n>", "DROP", "PAUSE:<ms>".
class RecordingSink : public hostemu::AnswerSink {
public:
    explicit RecordingSink(const hostemu::Codec& codec) : m_codec(codec) {}
    bool Send(const std::string& block) override { return Add(DescribeRecord(m_codec, block)); }
    bool Ack(bool handOver) override { return Add(handOver ? "ACK" : "ACK-"); }
    bool SendRaw(const std::string& bytes) override { return Add("RAW:" + std::to_string(bytes.size())); }
    bool SendOversize(const std::string& block) override { return Add("OVERSIZE:" + std::to_string(block.size())); }
    void Drop() override { Add("DROP"); }
    bool Pause(int millis) override { return Add("PAUSE:" + std::to_string(millis)); }
    std::vector<std::string> Take() { return std::move(m_events); }

private:
    bool Add(const std::string& e)
    {
        m_events.push_back(e);
        return true;
    }
    const hostemu::Codec& m_codec;
    std::vector<std::string> m_events;
};

struct Block {
    std::string bytes; // as received (host code page)
    bool handOver = false;
};

// The PC end of a conversation.
class PcClient {
public:
    explicit PcClient(int codepage = 17) : m_codec(codepage) {}
    ~PcClient()
    {
        if (m_bOpen)
            Close();
    }
    // cm_init .. cm_allc with the user as tag; the rc of the first call that failed.
    int32_t Connect(uint16_t port, const std::string& user, const std::string& password,
                    const std::string& member = "VEXSTC", int passwordCheck = 1, int timeoutSeconds = 10)
    {
        const wctest::PcConv pc = wctest::allocate(port, user.c_str(), password.c_str(), member.c_str(), user.c_str(),
                                                   timeoutSeconds, passwordCheck);
        std::memcpy(m_cid, pc.cid, sizeof m_cid);
        cm_set_rcv_timeout(m_cid, timeoutSeconds);
        m_bOpen = true;
        return pc.rc;
    }
    // Prefix and payload translated as vexlink does.
    int32_t Send(const std::string& name, const std::string& payload, bool handOver = true)
    {
        std::string rec = name;
        rec.resize(10, ' ');
        return SendBytes(m_codec.ToHost(rec + payload), handOver);
    }
    int32_t SendBytes(const std::string& rec, bool handOver) { return wctest::sendText(m_cid, rec, handOver ? 1 : 0); }
    // Receives blocks until one returns the turn; the library's rc.
    int32_t Answer(std::vector<Block>& blocks)
    {
        for (;;) {
            int32_t rc = 0, handOver = 0;
            const std::string bytes = wctest::receiveText(m_cid, rc, &handOver);
            if (rc != CM_OK)
                return rc;
            blocks.push_back({bytes, handOver == 1});
            if (handOver == 1)
                return CM_OK;
        }
    }
    std::string Describe(const Block& b) const
    {
        return b.bytes.empty() ? (b.handOver ? "ACK" : "ACK-") : DescribeRecord(m_codec, b.bytes);
    }
    // Request and answer in readable form.
    std::vector<std::string> Ask(const std::string& name, const std::string& payload, int32_t* rcOut = nullptr)
    {
        std::vector<std::string> out;
        std::vector<Block> blocks;
        int32_t rc = Send(name, payload, true);
        if (rc == CM_OK)
            rc = Answer(blocks);
        for (const Block& b : blocks)
            out.push_back(Describe(b));
        if (rcOut != nullptr)
            *rcOut = rc;
        else
            EXPECT_EQ(rc, CM_OK) << cm_rc2str(rc);
        return out;
    }
    // The PHDATA payloads of an answer; eod gets the HPEOD payload.
    std::vector<std::string> Data(const std::string& name, const std::string& payload, std::string* eod = nullptr)
    {
        std::vector<std::string> out;
        for (const std::string& a : Ask(name, payload)) {
            if (a.compare(0, 7, "HPDATA:") == 0)
                out.push_back(a.substr(7));
            else if (eod != nullptr && a.compare(0, 6, "HPEOD:") == 0)
                *eod = a.substr(6);
        }
        return out;
    }
    int32_t Close()
    {
        m_bOpen = false;
        return wctest::deal(m_cid);
    }

private:
    hostemu::Codec m_codec;
    unsigned char m_cid[WC_CID_SIZE] = {0};
    bool m_bOpen = false;
};

class EmuServer {
public:
    explicit EmuServer(const std::function<void(hostemu::EmuConfig&)>& tweak = nullptr,
                       const std::string& catalogDir = std::string())
    {
        hostemu::EmuConfig cfg;
        cfg.listen = "127.0.0.1";
        cfg.port = 0;
        cfg.seedDir = std::string(HOSTEMU_SAMPLE_DIR) + "/seed";
        cfg.catalogDir = catalogDir.empty() ? m_scratch.file("catalog") : catalogDir;
        cfg.members = {"VEXSTC"};
        hostemu::UserEntry user;
        user.name = "VEXUSR1";
        user.password = "VEXPWD1";
        cfg.AddUser(user);
        if (tweak)
            tweak(cfg);
        m_server.reset(new hostemu::Server(cfg));
        std::string error;
        m_bStarted = m_server->Start(error);
        EXPECT_TRUE(m_bStarted) << error;
        if (m_bStarted)
            m_server->RunInBackground();
    }
    ~EmuServer() { m_server->Shutdown(); }
    uint16_t Port() const { return m_server->Port(); }
    hostemu::Server& Get() { return *m_server; }
    bool Started() const { return m_bStarted; }

private:
    ScratchDir m_scratch;
    std::unique_ptr<hostemu::Server> m_server;
    bool m_bStarted = false;
};

inline hostemu::UserEntry User(const std::string& name, const std::string& password)
{
    hostemu::UserEntry u;
    u.name = name;
    u.password = password;
    return u;
}

} // namespace hostemu_test
