#pragma once
// Helpers of the emulator tests: an answer sink recording what a session sends.

#include "codec.h"
#include "session.h"
#include "scratchdir.h"

#include <gtest/gtest.h>

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

} // namespace hostemu_test
