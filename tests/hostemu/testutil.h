#pragma once
// Helpers of the emulator tests: an answer sink that
// records what a session sends, and a PC side built on the conversation
// library's cm_* calls.

#include "codec.h"
#include "session.h"

#include "wirecomm.h"

#include <gtest/gtest.h>

#include "scratchdir.h"

#include <filesystem>
#include <string>
#include <vector>

namespace hostemu_test {

using ::ScratchDir;

// The blocks of an answer in readable form: "HPMSG:RC=0 ...", "HPDATA:...",
// "ACK" (the turn back), "ACK-" (an empty block that keeps the turn),
// "RAW:<n>" (bytes outside frames), "OVERSIZE:<n>", "DROP", "PAUSE:<ms>".
// Item payloads are shown in the PC code page.
class RecordingSink : public hostemu::AnswerSink {
public:
    explicit RecordingSink(const hostemu::Codec& codec) : m_codec(codec) {}
    bool Send(const std::string& block) override;
    bool Ack(bool handOver) override;
    bool SendRaw(const std::string& bytes) override;
    bool SendOversize(const std::string& block) override;
    void Drop() override { m_events.push_back("DROP"); }
    bool Pause(int millis) override {
        m_events.push_back("PAUSE:" + std::to_string(millis));
        return true;
    }
    std::vector<std::string> Take() {
        std::vector<std::string> e;
        e.swap(m_events);
        m_blocks.clear();
        return e;
    }
    // The raw blocks sent since the last Take(), as sent (host code page).
    const std::vector<std::string>& Blocks() const { return m_blocks; }

private:
    const hostemu::Codec& m_codec;
    std::vector<std::string> m_events;
    std::vector<std::string> m_blocks;
};

// One block of an answer as the PC receives it.
struct Block {
    std::string bytes; // as received (host code page)
    bool handOver = false;
};

// The PC end of a conversation, over the cm_* calls.
class PcClient {
public:
    explicit PcClient(int codepage = 17) : m_codec(codepage) {}
    ~PcClient();

    // cm_init .. cm_allc; gives the rc of the first call that failed
    // (cm_allc's for a refused allocation).
    int32_t Connect(uint16_t port, const std::string& user, const std::string& password,
                    const std::string& member = "VEXSTC", int passwordCheck = 1, int timeoutSeconds = 10);
    // Sends prefix and payload (PC code page), translated as vexlink does.
    int32_t Send(const std::string& name, const std::string& payload, bool handOver = true);
    // Sends prefix (translated) and payload bytes unchanged (binary PHDATA).
    int32_t SendBinary(const std::string& name, const std::string& payload, bool handOver);
    // Receives blocks until one returns the turn; gives the library's rc
    // (0 when the turn came back).
    int32_t Answer(std::vector<Block>& blocks, size_t maxBlocks = 10000000);
    // The same, in the readable form of RecordingSink.
    std::vector<std::string> Ask(const std::string& name, const std::string& payload, int32_t* rc = nullptr);
    std::string Describe(const Block& b) const;
    int32_t Close();
    const hostemu::Codec& Codec() const { return m_codec; }
    // Crypt mode for the next Connect (1 by default; 3 and 4 are TLS).
    void SetCryptMode(int mode) { m_iCryptMode = mode; }
    unsigned char* Cid() { return m_cid; }

private:
    hostemu::Codec m_codec;
    unsigned char m_cid[WC_CID_SIZE] = {0};
    bool m_bOpen = false;
    int m_iCryptMode = 1;
};

// Readable form of one item record (PC code page).
std::string DescribeRecord(const hostemu::Codec& codec, const std::string& block);
// Bytes as hexadecimal pairs, for messages.
std::string Hex(const std::string& bytes);

} // namespace hostemu_test
