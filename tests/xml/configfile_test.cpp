#include "xml/configfile.h"

#include "scratchdir.h"

using TempDir = ScratchDir;

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using Xml::ConfigFile;
using Xml::Node;

namespace {

// The program log's configuration text with the INI path and the log path.
std::string programLogTemplate(const std::string& ini, const std::string& logPath)
{
    const char* format =
        "<talverix>   <ini path='%s' hook=':INI:'><item name='[*]MSGLEVEL' default='1' /></ini>   <logger>       "
        "<target level=':INI:[*]MSGLEVEL' include='date;time;program' formatter='line' sender='file'>           "
        "<file pathMask='%s'/>       </target>   </logger></talverix>";
    char buf[2000];
    std::snprintf(buf, sizeof(buf), format, ini.c_str(), logPath.c_str());
    return buf;
}

Node* child(Node* n, const char* name)
{
    for (Node* c = n ? n->firstChild() : nullptr; c; c = c->next())
        if (std::string(c->name()) == name)
            return c;
    return nullptr;
}

std::vector<Node*> children(Node* n, const char* name)
{
    std::vector<Node*> out;
    for (Node* c = n ? n->firstChild() : nullptr; c; c = c->next())
        if (std::string(c->name()) == name)
            out.push_back(c);
    return out;
}

std::string attr(Node* n, const char* name)
{
    const Xml::Attribute* a = n ? n->findAttribute(name) : nullptr;
    return a ? std::string(a->value()) : std::string("<absent>");
}

// A document around the given INI text: <talverix><ini .../>body</talverix>.
std::string doc(const std::string& iniPath, const std::string& rules, const std::string& body)
{
    return "<talverix><ini path='" + iniPath + "' hook=':INI:'>" + rules + "</ini>" + body + "</talverix>";
}

struct LeakCheck {
    int32_t nodes = Node::liveCount();
    ~LeakCheck() { EXPECT_EQ(Node::liveCount(), nodes); }
};

} // namespace

TEST(ConfigHooks, ProgramLogLevelFromIni)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("vexlink.ini", "[GLOBAL]\nMSGLEVEL=3\n[TCP]\nMSGLEVEL=5\n");
    ConfigFile cfg("string", "vexlink");
    ASSERT_TRUE(cfg.load(programLogTemplate(ini, "log_*.txt").c_str())) << cfg.messages();
    Node* target = child(child(cfg.root(), "logger"), "target");
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(attr(target, "level"), "3");
    EXPECT_EQ(attr(target, "include"), "date;time;program");
    EXPECT_EQ(attr(target, "sender"), "file");
    EXPECT_EQ(target->findAttribute("level")->literal(), 1u);
    EXPECT_EQ(target->flags(), 0u);
    EXPECT_EQ(child(cfg.root(), "logger")->flags(), 0u);
    EXPECT_EQ(attr(child(target, "file"), "pathMask"), "log_*.txt");
    // The ini element itself is no reference, though its hook attribute
    // begins with the hook text.
    EXPECT_EQ(attr(child(cfg.root(), "ini"), "hook"), ":INI:");

    // No MSGLEVEL anywhere: the item's default.
    const std::string none = dir.write("none.ini", "[GLOBAL]\nOTHER=1\n");
    ASSERT_TRUE(cfg.load(programLogTemplate(none, "x").c_str()));
    EXPECT_EQ(attr(child(child(cfg.root(), "logger"), "target"), "level"), "1");

    // An unreadable INI file or an empty path does not fail the document.
    ASSERT_TRUE(cfg.load(programLogTemplate(dir.path() + "/missing.ini", "x").c_str()));
    EXPECT_EQ(attr(child(child(cfg.root(), "logger"), "target"), "level"), "1");
    ASSERT_TRUE(cfg.load(programLogTemplate("", "x").c_str()));
    EXPECT_EQ(attr(child(child(cfg.root(), "logger"), "target"), "level"), "1");
}

TEST(ConfigHooks, DuplicateRules)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("d.ini", "[s]\nport=21\nport=22\n");
    struct Case {
        const char* duplicate;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"last", {"22"}}, {"LAST", {"22"}}, {"first", {"21"}}, {"error", {"21"}},
        {"List", {"21", "22"}}, {"bogus", {"22"}},
    };
    for (const Case& c : cases) {
        ConfigFile cfg("string", nullptr);
        const std::string rules = std::string("<item name='[s]port' duplicate='") + c.duplicate + "'/>";
        ASSERT_TRUE(cfg.load(doc(ini, rules, "<before/><conn port=':INI:[s]port' x='1'><sub/></conn><after/>").c_str()));
        std::vector<std::string> got;
        for (Node* n : children(cfg.root(), "conn")) {
            got.push_back(attr(n, "port"));
            EXPECT_EQ(attr(n, "x"), "1");
            EXPECT_NE(child(n, "sub"), nullptr);
            EXPECT_EQ(n->parent(), cfg.root());
        }
        EXPECT_EQ(got, c.expected) << c.duplicate;
        // The copies stand where the original stood.
        std::vector<std::string> order;
        for (Node* n = cfg.root()->firstChild(); n; n = n->next())
            order.push_back(n->name());
        std::vector<std::string> expectedOrder{"ini", "before"};
        for (size_t i = 0; i < c.expected.size(); ++i)
            expectedOrder.push_back("conn");
        expectedOrder.push_back("after");
        EXPECT_EQ(order, expectedOrder) << c.duplicate;
    }
    // Without a rule the last value is taken.
    ConfigFile cfg("string", nullptr);
    ASSERT_TRUE(cfg.load(doc(ini, "", "<conn port=':INI:[s]port'/>").c_str()));
    EXPECT_EQ(attr(child(cfg.root(), "conn"), "port"), "22");
}

TEST(ConfigHooks, SplitRules)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("s.ini", "[net]\nhost=a.b:21\nthree=1;2,3;4\nshort=x\nempty=\n");
    ConfigFile cfg("string", nullptr);
    const std::string rules = "<item name='[net]host' split='host:port'/>"
                              "<item name='[net]three' split='a;b,c' splitDelim=';,'/>"
                              "<item name='[net]short' split='p:q:r'/>"
                              "<item name='[net]empty' split='e1:e2' default='d1:d2'/>"
                              "<item name='[net]moved' split='other' default='dflt'/>";
    ASSERT_TRUE(cfg.load(doc(ini, rules,
                             "<h ref=':INI:[net]host' keep='k'/>"
                             "<t ref=':INI:[net]three'/>"
                             "<s ref=':INI:[net]short' q='old' r='old'/>"
                             "<e ref=':INI:[net]empty'/>"
                             "<m ref=':INI:[net]moved'/>")
                             .c_str()));
    Node* h = child(cfg.root(), "h");
    EXPECT_EQ(attr(h, "host"), "a.b");
    EXPECT_EQ(attr(h, "port"), "21");
    EXPECT_EQ(attr(h, "ref"), "<absent>");
    EXPECT_EQ(attr(h, "keep"), "k");
    Node* t = child(cfg.root(), "t");
    EXPECT_EQ(attr(t, "a"), "1");
    EXPECT_EQ(attr(t, "b"), "2");
    EXPECT_EQ(attr(t, "c"), "3"); // the surplus piece 4 is dropped
    EXPECT_EQ(t->attributeCount(), 3);
    Node* s = child(cfg.root(), "s");
    EXPECT_EQ(attr(s, "p"), "x");
    EXPECT_EQ(attr(s, "q"), "<absent>"); // names without a piece are removed
    EXPECT_EQ(attr(s, "r"), "<absent>");
    Node* e = child(cfg.root(), "e");
    EXPECT_EQ(attr(e, "e1"), "d1"); // empty INI value: the default, split too
    EXPECT_EQ(attr(e, "e2"), "d2");
    Node* m = child(cfg.root(), "m");
    EXPECT_EQ(attr(m, "other"), "dflt");
    EXPECT_EQ(attr(m, "ref"), "<absent>");
}

TEST(ConfigHooks, MissingValuesAndBrokenReferences)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("m.ini", "unnamed = u\n[ Sec ]\nitem = v\namp = a&b\n");
    ConfigFile cfg("string", nullptr);
    ASSERT_TRUE(cfg.load(doc(ini, "",
                             "<a gone=':INI:[Sec]nothing' stays='1'/>"
                             "<b broken=':INI:[Sec item' other='2'/>"
                             "<c v=':INI:[ sec ]  item  ' u=':INI:unnamed' w=':INI:[]unnamed'/>"
                             "<d raw=':INI:[Sec]amp'/>")
                             .c_str()));
    Node* a = child(cfg.root(), "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(attr(a, "gone"), "<absent>");
    EXPECT_EQ(attr(a, "stays"), "1");
    Node* b = child(cfg.root(), "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(attr(b, "broken"), "<absent>");
    EXPECT_EQ(attr(b, "other"), "2");
    // Several references in one element, section names trimmed and without case.
    Node* c = child(cfg.root(), "c");
    EXPECT_EQ(attr(c, "v"), "v");
    EXPECT_EQ(attr(c, "u"), "u");
    EXPECT_EQ(attr(c, "w"), "u");
    // INI values are literal: no entity decoding.
    EXPECT_STREQ(child(cfg.root(), "d")->attributeDecoded("raw"), "a&b");
}

TEST(ConfigHooks, VanishingRoot)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("r.ini", "[s]\nother=1\n");
    ConfigFile cfg("string", nullptr);
    ASSERT_TRUE(cfg.load(("<talverix list=':INI:[s]missing'><ini path='" + ini +
                          "' hook=':INI:'><item name='[s]missing' duplicate='list'/></ini></talverix>")
                             .c_str()));
    EXPECT_EQ(cfg.root(), nullptr);

    // With a default the root stays, once.
    ASSERT_TRUE(cfg.load(("<talverix list=':INI:[s]missing'><ini path='" + ini +
                          "' hook=':INI:'><item name='[s]missing' duplicate='list' default='x'/></ini></talverix>")
                             .c_str()));
    ASSERT_NE(cfg.root(), nullptr);
    EXPECT_EQ(attr(cfg.root(), "list"), "x");
    EXPECT_EQ(cfg.root()->next(), nullptr);
    EXPECT_NE(child(cfg.root(), "ini"), nullptr);
}

TEST(ConfigHooks, NestedAndChainedReferences)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("n.ini", "a = :INI:b\nb = :INI:c\nc = final\nlist = 1\nlist = 2\n");
    ConfigFile cfg("string", nullptr);
    ASSERT_TRUE(cfg.load(doc(ini, "<item name='list' duplicate='list'/>",
                             "<outer o=':INI:list'><inner i=':INI:a'><leaf l=':INI:list'/></inner></outer>")
                             .c_str()));
    // outer doubled by its list, each copy carrying the resolved inner element
    // whose leaf was doubled as well.
    const std::vector<Node*> outers = children(cfg.root(), "outer");
    ASSERT_EQ(outers.size(), 2u);
    for (size_t k = 0; k < outers.size(); ++k) {
        EXPECT_EQ(attr(outers[k], "o"), std::to_string(k + 1));
        Node* inner = child(outers[k], "inner");
        EXPECT_EQ(attr(inner, "i"), "final"); // a -> b -> c over several passes
        const std::vector<Node*> leaves = children(inner, "leaf");
        ASSERT_EQ(leaves.size(), 2u);
        EXPECT_EQ(attr(leaves[0], "l"), "1");
        EXPECT_EQ(attr(leaves[1], "l"), "2");
        EXPECT_EQ(leaves[0]->parent(), inner);
    }
}

TEST(ConfigHooks, SelfReferencesEndAndAreDropped)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("self.ini", "[g]\nMSGLEVEL=:INI:[*]MSGLEVEL\nx=:INI:y\ny=:INI:x\n"
                                                  "[l]\nm=:INI:[l]m\nm=:INI:[l]m\nm=:INI:[l]m\n");
    ConfigFile cfg("string", nullptr);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(cfg.load(doc(ini, "<item name='[l]m' duplicate='list'/>",
                             "<target level=':INI:[*]MSGLEVEL' keep='1'/><pair v=':INI:x'/>"
                             "<many m=':INI:[l]m'/><after/>")
                             .c_str()));
    Node* target = child(cfg.root(), "target");
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(attr(target, "level"), "<absent>");
    EXPECT_EQ(attr(target, "keep"), "1");
    EXPECT_EQ(attr(child(cfg.root(), "pair"), "v"), "<absent>");
    // The list that multiplies itself stops at the copy budget.
    const std::vector<Node*> many = children(cfg.root(), "many");
    EXPECT_GT(many.size(), 1u);
    EXPECT_LE(many.size(), static_cast<size_t>(ConfigFile::kMaxCopiedNodes) * 3);
    for (Node* n : many)
        ASSERT_EQ(attr(n, "m"), "<absent>");
    EXPECT_NE(child(cfg.root(), "after"), nullptr);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 120.0);
}

TEST(ConfigHooks, HookOrderPathsAndEmptyHook)
{
    LeakCheck leaks;
    TempDir dir;
    dir.write("prog.ini", "k = fromProg\n");
    dir.write("second.ini", "k = fromSecond\n");
    dir.write("any.ini", "[S]\nk = fromAny\n");
    const std::string sub = dir.path() + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    const std::string cfgPath = dir.write("sub/c.xml",
                                          "<talverix>"
                                          "<ini path='../*.ini' hook=':I:'/>"
                                          "<ini path='" + dir.path() + "/second.ini' hook=':I:'/>"
                                          "<x v=':I:k'/></talverix>");
    // Later ini elements are consulted first; "*" takes the substitution and
    // a relative path is taken against the file's directory.
    ConfigFile cfg(cfgPath.c_str(), "prog");
    ASSERT_TRUE(cfg.load()) << cfg.messages();
    EXPECT_EQ(cfg.baseDir().c_str(), sub);
    EXPECT_EQ(attr(child(cfg.root(), "x"), "v"), "fromSecond");
    ASSERT_NE(cfg.firstHook(), nullptr);
    EXPECT_STREQ(cfg.firstHook()->next()->iniFile()->path().c_str(), (sub + "/../prog.ini").c_str());
    EXPECT_GT(cfg.modified(), 0);

    // A relative name: against the current directory.
    {
        ChangeDir cd(dir.path());
        ConfigFile relative("sub/c.xml", "prog");
        ASSERT_TRUE(relative.load()) << relative.messages();
        EXPECT_EQ(relative.baseDir().c_str(), dir.path() + "/sub");
        ConfigFile label("string", "prog");
        ASSERT_TRUE(label.load("<talverix><ini path='prog.ini' hook=':I:'/><x v=':I:k'/></talverix>"));
        EXPECT_EQ(attr(child(label.root(), "x"), "v"), "fromProg");
    }

    // An ini element without a hook attribute has an empty hook text, which
    // makes every value a reference, resolved values included: [S]k gives
    // "fromAny", which names no item and so goes as well. Loading still ends.
    ConfigFile empty("string", nullptr);
    ASSERT_TRUE(empty.load(
        ("<talverix><ini path='" + dir.path() + "/any.ini'/><e a='[S]k' b='nothing'/><f/></talverix>").c_str()));
    Node* e = child(empty.root(), "e");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->attributeCount(), 0);
    EXPECT_NE(child(empty.root(), "f"), nullptr);
}

TEST(ConfigHooks, LoadErrorsAndMessages)
{
    LeakCheck leaks;
    TempDir dir;
    ConfigFile missing((dir.path() + "/none.xml").c_str(), nullptr);
    EXPECT_FALSE(missing.load());
    EXPECT_EQ(std::string(missing.messages()), "Cannot read " + dir.path() + "/none.xml\n");

    ConfigFile cfg("string", nullptr);
    EXPECT_FALSE(cfg.load("<talverix>text<a/></talverix>"));
    EXPECT_FALSE(cfg.load("<other/>"));
    // Not yet read: the texts accumulate.
    EXPECT_EQ(std::string(cfg.messages()),
              "XML parse (string) failed: Illegal Text\nNo TALVERIX XML file (string)\n");
    // Read: the next error starts afresh.
    EXPECT_FALSE(cfg.load(""));
    EXPECT_EQ(std::string(cfg.messages()), "No TALVERIX XML file (string)\n");
    EXPECT_TRUE(cfg.load("<talverix/>"));
    EXPECT_NE(cfg.root(), nullptr);
    // A failed load leaves no stale document behind.
    EXPECT_FALSE(cfg.load("<talverix"));
    EXPECT_EQ(cfg.root(), nullptr);
}

TEST(ConfigHooks, DeepTreesResolveWithoutRecursion)
{
    LeakCheck leaks;
    TempDir dir;
    const std::string ini = dir.write("deep.ini", "v = 42\n");
    const int depth = 200000;
    std::string body;
    for (int i = 0; i < depth; ++i)
        body += "<n>";
    body += "<leaf x=':INI:v'/>";
    for (int i = 0; i < depth; ++i)
        body += "</n>";
    ConfigFile cfg("string", nullptr);
    ASSERT_TRUE(cfg.load(doc(ini, "", body).c_str()));
    Node* n = child(cfg.root(), "n");
    for (int i = 1; i < depth && n; ++i)
        n = n->firstChild();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(attr(n->firstChild(), "x"), "42");
    EXPECT_EQ(n->flags(), 0u);
}
