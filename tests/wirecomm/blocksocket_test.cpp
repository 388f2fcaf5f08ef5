// BlockSocket's reading of its settings. Its conversation on 127.0.0.1 runs
// in the engine's tests (tests/engine/host_test.cpp) and end to end; the
// library's block limit is wirecomm_test.cpp's.

#include "blockSocket.h"
#include "configmodul.h"

#include "wctest.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace {

class BlockSocketTest : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { g_pConfigModul = nullptr; }
    // An empty configuration (SetParm does not replace keys before an INI
    // file is loaded).
    void fresh()
    {
        m_store.reset(new ConfigModul(0, nullptr));
        g_pConfigModul = m_store.get();
    }
    std::unique_ptr<ConfigModul> m_store;
};

} // namespace

// Passwords "*", "" and "notused" switch the host's password check off; an
// empty user id is "notused"; PASCHK only "YES" or empty keeps the check.
TEST_F(BlockSocketTest, ConstructionValues)
{
    for (const char* pw : {"*", "", "notused"}) {
        BlockSocket s("h", pw, "M", "");
        EXPECT_STREQ(s.m_cPasswd, "notused") << pw;
        EXPECT_STREQ(s.m_cUserid, "notused");
        EXPECT_EQ(s.m_iPasChk, 0) << pw;
    }
    for (auto c : std::vector<std::pair<const char*, uint16_t>>{{"YES", 1}, {"", 1}, {"yes", 0}, {"NO", 0}}) {
        m_store->SetParm("TCP.PASCHK", c.first);
        BlockSocket s("h", "pw", "M", "U");
        EXPECT_EQ(s.m_iPasChk, c.second) << c.first;
        fresh();
    }
}
