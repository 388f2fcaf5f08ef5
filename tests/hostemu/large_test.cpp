// A generated catalogue of 20,000 data sets and a library of 100,000
// members (more than a 16-bit count holds): the lists stay exact (every name, in order) through filters,
// conversations, changes and a reopen.

#include "emuserver.h"

#include <cstdio>

using namespace hostemu_test;
using namespace hostemu;

namespace {

const int kGroups = 100;
const int kPerGroup = 200;   // 100 x 200 = 20,000 data sets
const int kMembers = 100000;

std::string DsName(int g, int d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "BIG.G%03d.D%04d", g, d);
    return buf;
}

std::string MemberName(int m) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "M%05d", m);
    return buf;
}

// A scratch catalogue filled with the generated data sets (withDataSets:
// 20,000 sequential data sets and an empty library BIG.LIB) or with the
// library of 100,000 members alone.
class LargeCatalogue : public ::testing::Test {
protected:
    void Generate(bool withDataSets) {
        Catalog c;
        ASSERT_TRUE(c.Open(CatalogueDir()).Ok());
        Codec codec(17);
        DsAttrs attrs;
        attrs.recfm.blocked = true;
        if (withDataSets) {
            for (int g = 0; g < kGroups; ++g) {
                for (int d = 0; d < kPerGroup; ++d) {
                    ASSERT_TRUE(c.CreateWithRecords(DsName(g, d), attrs, {codec.ToHost(DsName(g, d))}).Ok());
                }
            }
        }
        std::vector<NewMember> members(withDataSets ? 0 : kMembers);
        // Given in reverse order: the library sorts them.
        for (size_t m = 0; m < members.size(); ++m) {
            members[members.size() - 1 - m].name = MemberName(static_cast<int>(m));
            members[members.size() - 1 - m].records = {codec.ToHost("MEMBER " + MemberName(static_cast<int>(m)))};
        }
        attrs.dsorg = Dsorg::PO;
        ASSERT_TRUE(c.CreateLibrary("BIG.LIB", attrs, std::move(members)).Ok());
    }
    std::string CatalogueDir() const { return m_dir.path() + "/cat"; }
    ScratchDir m_dir;
};

std::vector<std::string> DataLines(PcClient& pc, const std::string& name, const std::string& payload,
                                   std::string& eod) {
    EXPECT_EQ(pc.Send(name, payload), CM_OK);
    std::vector<Block> blocks;
    EXPECT_EQ(pc.Answer(blocks), CM_OK);
    std::vector<std::string> out;
    for (const Block& b : blocks) {
        std::string d = pc.Describe(b);
        if (d.compare(0, 7, "HPDATA:") == 0)
            out.push_back(d.substr(7));
        else if (d.compare(0, 6, "HPEOD:") == 0)
            eod = d.substr(6);
    }
    return out;
}

} // namespace

TEST_F(LargeCatalogue, DataSetListsAreExact) {
    Generate(true);
    EmuServer emu(nullptr, CatalogueDir());
    ASSERT_TRUE(emu.Started());
    EXPECT_EQ(emu.Get().GetCatalog().Count(), static_cast<size_t>(kGroups * kPerGroup + 1));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1", "VEXSTC", 1, 60), CM_OK);

    std::string eod;
    std::vector<std::string> all = DataLines(pc, "PHGDSLST", "BIG.G*.D*", eod);
    ASSERT_EQ(all.size(), static_cast<size_t>(kGroups * kPerGroup));
    EXPECT_EQ(eod, "ENTRIES=" + std::to_string(kGroups * kPerGroup));
    for (int g = 0, i = 0; g < kGroups; ++g)
        for (int d = 0; d < kPerGroup; ++d, ++i)
            ASSERT_EQ(all[static_cast<size_t>(i)], DsName(g, d));

    std::vector<std::string> group = DataLines(pc, "PHGDSLST", "BIG.G042.*", eod);
    ASSERT_EQ(group.size(), static_cast<size_t>(kPerGroup));
    EXPECT_EQ(group.front(), DsName(42, 0));
    EXPECT_EQ(group.back(), DsName(42, kPerGroup - 1));

    std::vector<std::string> expected;
    for (int g = 7; g < kGroups; g += 10)
        for (int d = 100; d < 200; ++d)
            expected.push_back(DsName(g, d));
    EXPECT_EQ(DataLines(pc, "PHGDSLST", "BIG.G0%7.D01*", eod), expected);

    std::vector<std::string> full = DataLines(pc, "PHGDSLSTF", "BIG.G099.D0199", eod);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_NE(full[0].find(" FB "), std::string::npos);
    EXPECT_EQ(full[0].substr(full[0].size() - 14), "BIG.G099.D0199");
    // The level BIG names everything below it, the library included.
    EXPECT_EQ(DataLines(pc, "PHGDSLST", "BIG", eod).size(), static_cast<size_t>(kGroups * kPerGroup + 1));
}

TEST_F(LargeCatalogue, MemberListsOfAHundredThousandMembersAreExact) {
    Generate(false);
    EmuServer emu(nullptr, CatalogueDir());
    ASSERT_TRUE(emu.Started());
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1", "VEXSTC", 1, 60), CM_OK);
    std::string eod;
    std::vector<std::string> all = DataLines(pc, "PHGPODIR", "BIG.LIB", eod);
    ASSERT_EQ(all.size(), static_cast<size_t>(kMembers));
    EXPECT_EQ(eod, "ENTRIES=" + std::to_string(kMembers));
    for (int m = 0; m < kMembers; ++m)
        ASSERT_EQ(all[static_cast<size_t>(m)], MemberName(m));

    std::vector<std::string> some = DataLines(pc, "PHGPODIR", "BIG.LIB(M123*)", eod);
    ASSERT_EQ(some.size(), 100u);
    EXPECT_EQ(some.front(), "M12300");
    EXPECT_EQ(some.back(), "M12399");
    std::vector<std::string> stats = DataLines(pc, "PHGPODIRF", "BIG.LIB(M99999)", eod);
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].substr(0, 16), "M99999    01.00 ");
    EXPECT_EQ(DataLines(pc, "PHGETFILE", "BIG.LIB(M54321)", eod), (std::vector<std::string>{"MEMBER M54321"}));

    // A new member goes into its place; the others stay as they were.
    ASSERT_EQ(pc.Send("PHMODIFY", "BIG.LIB(M12345A)", false), CM_OK);
    ASSERT_EQ(pc.Send("PHDATA", "NEW ONE", false), CM_OK);
    EXPECT_EQ(pc.Ask("PHEOD", "").at(2), "HPMSG:RC=0 ROWS=1 BIG.LIB(M12345A) STORED");
    std::vector<std::string> around = DataLines(pc, "PHGPODIR", "BIG.LIB(M1234*)", eod);
    ASSERT_EQ(around.size(), 11u);
    EXPECT_EQ(around[5], "M12345");
    EXPECT_EQ(around[6], "M12345A");
    EXPECT_EQ(DataLines(pc, "PHGETFILE", "BIG.LIB(M12346)", eod), (std::vector<std::string>{"MEMBER M12346"}));
    // Deleting it again leaves the library as generated.
    EXPECT_EQ(pc.Ask("PHDELETE", "BIG.LIB(M12345A)").at(0), "HPMSG:RC=0 IDC0549I MEMBER M12345A DELETED FROM BIG.LIB");

    // A reopened catalogue reads the same library from disk.
    Catalog again;
    ASSERT_TRUE(again.Open(CatalogueDir()).Ok());
    EntryPtr lib = again.Find("BIG.LIB");
    ASSERT_TRUE(lib);
    ASSERT_EQ(lib->members.size(), static_cast<size_t>(kMembers));
    EXPECT_EQ(lib->members[54321].name, "M54321");
    EXPECT_EQ(lib->members[54321].section.records, 1u);
}
