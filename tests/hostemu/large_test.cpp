// 20,000 data sets and a library of 100,000 members (beyond a 16-bit count): the lists through a
// conversation stay exact, every name in order.

#include "testutil.h"

#include <cstdio>

using namespace hostemu_test;
using namespace hostemu;

namespace {

std::string Name(const char* format, int a, int b = 0)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}
std::string DsName(int g, int d)
{
    return Name("BIG.G%03d.D%04d", g, d);
}
std::string Member(int m)
{
    return Name("M%05d", m);
}

} // namespace

TEST(LargeCatalogue, DataSetAndMemberListsAreExact)
{
    ScratchDir dir;
    {
        Catalog c;
        ASSERT_TRUE(c.Open(dir.file("cat")).Ok());
        Codec codec(17);
        DsAttrs attrs;
        attrs.recfm.blocked = true;
        for (int g = 0; g < 100; ++g)
            for (int d = 0; d < 200; ++d)
                ASSERT_TRUE(c.CreateWithRecords(DsName(g, d), attrs, {codec.ToHost(DsName(g, d))}).Ok());
        std::vector<NewMember> members(100000);
        for (size_t m = 0; m < members.size(); ++m) { // given in reverse order: the library sorts them
            members[members.size() - 1 - m].name = Member(static_cast<int>(m));
            members[members.size() - 1 - m].records = {codec.ToHost("MEMBER " + Member(static_cast<int>(m)))};
        }
        attrs.dsorg = Dsorg::PO;
        ASSERT_TRUE(c.CreateLibrary("BIG.LIB", attrs, std::move(members)).Ok());
    }
    EmuServer emu(nullptr, dir.file("cat"));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1", "VEXSTC", 1, 60), CM_OK);
    std::string eod;
    std::vector<std::string> want;
    for (int g = 0; g < 100; ++g)
        for (int d = 0; d < 200; ++d)
            want.push_back(DsName(g, d));
    EXPECT_EQ(pc.Data("PHGDSLST", "BIG.G*.D*", &eod), want);
    EXPECT_EQ(eod, "ENTRIES=20000");
    want.clear();
    for (int m = 0; m < 100000; ++m)
        want.push_back(Member(m));
    EXPECT_EQ(pc.Data("PHGPODIR", "BIG.LIB", &eod), want);
    EXPECT_EQ(eod, "ENTRIES=100000");
    EXPECT_EQ(pc.Data("PHGPODIRF", "BIG.LIB(M99999)").at(0).substr(0, 16), "M99999    01.00 ");
}
