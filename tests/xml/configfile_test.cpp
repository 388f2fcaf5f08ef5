#include "xml/configfile.h"

#include "scratchdir.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>

using Xml::ConfigFile;
using Xml::Node;

namespace {

std::vector<Node*> children(Node* n, const char* name)
{
    std::vector<Node*> out;
    for (Node* c = n ? n->firstChild() : nullptr; c; c = c->next())
        if (std::string(c->name()) == name)
            out.push_back(c);
    return out;
}

Node* child(Node* n, const char* name)
{
    const std::vector<Node*> all = children(n, name);
    return all.empty() ? nullptr : all.front();
}

std::string attr(Node* n, const char* name)
{
    const Xml::Attribute* a = n ? n->findAttribute(name) : nullptr;
    return a ? std::string(a->value()) : std::string("<absent>");
}

// <talverix><ini path=iniPath hook=':INI:'>rules</ini>body</talverix>
std::string doc(const std::string& iniPath, const std::string& rules, const std::string& body)
{
    return "<talverix><ini path='" + iniPath + "' hook=':INI:'>" + rules + "</ini>" + body + "</talverix>";
}

struct LeakCheck {
    int32_t nodes = Node::liveCount();
    ~LeakCheck() { EXPECT_EQ(Node::liveCount(), nodes); }
};

} // namespace

TEST(ConfigHooks, ProgramLogLevelFromIniOrDefault)
{
    LeakCheck leaks;
    ScratchDir dir;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.write("v.ini", "[GLOBAL]\nMSGLEVEL=3\n[TCP]\nMSGLEVEL=5\n"), "3"},
        {dir.write("none.ini", "[GLOBAL]\nOTHER=1\n"), "1"},
        {dir.file("missing.ini"), "1"},
        {"", "1"},
    };
    for (const auto& c : cases) {
        ConfigFile cfg("string", "vexlink");
        ASSERT_TRUE(cfg.load(doc(c.first, "<item name='[*]MSGLEVEL' default='1' />",
                                 "<logger><target level=':INI:[*]MSGLEVEL' sender='file'/></logger>")
                                 .c_str()))
            << cfg.messages();
        Node* target = child(child(cfg.root(), "logger"), "target");
        EXPECT_EQ(attr(target, "level"), c.second) << c.first;
        EXPECT_EQ(target->findAttribute("level")->literal(), 1u);
        EXPECT_EQ(target->flags(), 0u);
        EXPECT_EQ(attr(child(cfg.root(), "ini"), "hook"), ":INI:"); // the ini element is no reference
    }
}

TEST(ConfigHooks, DuplicateRulesCopyElementsInPlace)
{
    LeakCheck leaks;
    ScratchDir dir;
    const std::string ini = dir.write("d.ini", "[s]\nport=21\nport=22\n");
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"last", {"22"}},       {"LAST", {"22"}},  {"first", {"21"}}, {"error", {"21"}},
        {"List", {"21", "22"}}, {"bogus", {"22"}}, {"", {"22"}},
    };
    for (const auto& c : cases) {
        ConfigFile cfg("string", nullptr);
        const std::string rules = c.first.empty() ? "" : "<item name='[s]port' duplicate='" + c.first + "'/>";
        ASSERT_TRUE(
            cfg.load(doc(ini, rules, "<before/><conn port=':INI:[s]port' x='1'><sub/></conn><after/>").c_str()));
        std::vector<std::string> got;
        for (Node* n : children(cfg.root(), "conn")) {
            got.push_back(attr(n, "port"));
            EXPECT_NE(child(n, "sub"), nullptr);
        }
        EXPECT_EQ(got, c.second) << c.first;
        std::vector<std::string> order;
        for (Node* n = cfg.root()->firstChild(); n; n = n->next())
            order.push_back(n->name());
        std::vector<std::string> want{"ini", "before"};
        want.insert(want.end(), c.second.size(), "conn");
        want.push_back("after");
        EXPECT_EQ(order, want) << c.first;
    }
}

TEST(ConfigHooks, SplitMissingBrokenChainedAndSelfReferences)
{
    LeakCheck leaks;
    ScratchDir dir;
    const std::string ini = dir.write("s.ini", "unnamed = u\na = :INI:b\nb = :INI:c\nc = final\nlist = 1\nlist = 2\n"
                                               "[net]\nhost=a.b:21\nthree=1;2,3;4\nshort=x\nempty=\namp = a&b\n"
                                               "[g]\nMSGLEVEL=:INI:[*]MSGLEVEL\nx=:INI:y\ny=:INI:x\n"
                                               "[l]\nm=:INI:[l]m\nm=:INI:[l]m\nm=:INI:[l]m\n");
    ConfigFile cfg("string", nullptr);
    ASSERT_TRUE(cfg.load(doc(ini,
                             "<item name='[net]host' split='host:port'/><item name='[net]three' split='a;b,c' "
                             "splitDelim=';,'/><item name='[net]short' split='p:q:r'/><item name='[net]empty' "
                             "split='e1:e2' default='d1:d2'/><item name='list' duplicate='list'/>"
                             "<item name='[l]m' duplicate='list'/>",
                             "<h ref=':INI:[net]host' keep='k'/><t ref=':INI:[net]three'/>"
                             "<s ref=':INI:[net]short' q='old' r='old'/><e ref=':INI:[net]empty'/>"
                             "<m gone=':INI:[net]nothing' broken=':INI:[net host' u=':INI:unnamed' "
                             "w=':INI:[]unnamed' raw=':INI:[ NET ]  amp  '/>"
                             "<outer o=':INI:list'><inner i=':INI:a'><leaf l=':INI:list'/></inner></outer>"
                             "<target level=':INI:[*]MSGLEVEL' keep='1'/><pair v=':INI:x'/><many m=':INI:[l]m'/>"
                             "<end/>")
                             .c_str()));
    Node* r = cfg.root();
    const std::vector<std::vector<std::string>> attrs = {
        {"h", "host", "a.b"},
        {"h", "port", "21"},
        {"h", "ref", "<absent>"},
        {"h", "keep", "k"},
        {"t", "c", "3"}, // the surplus piece is dropped
        {"s", "p", "x"},
        {"s", "q", "<absent>"}, // names without a piece are removed
        {"e", "e1", "d1"},
        {"e", "e2", "d2"}, // empty INI value: the default, split too
        {"m", "gone", "<absent>"},
        {"m", "broken", "<absent>"},
        {"m", "u", "u"},
        {"m", "w", "u"},
        {"m", "raw", "a&b"}, // INI values are literal
        {"target", "level", "<absent>"},
        {"target", "keep", "1"},
        {"pair", "v", "<absent>"},
    };
    for (const auto& a : attrs)
        EXPECT_EQ(attr(child(r, a[0].c_str()), a[1].c_str()), a[2]) << a[0] << "." << a[1];
    EXPECT_STREQ(child(r, "m")->attributeDecoded("raw"), "a&b");
    EXPECT_EQ(child(r, "t")->attributeCount(), 3);
    // outer doubled by its list, each copy with the chained a -> b -> c and its own doubled leaf.
    const std::vector<Node*> outers = children(r, "outer");
    ASSERT_EQ(outers.size(), 2u);
    for (size_t k = 0; k < outers.size(); ++k) {
        EXPECT_EQ(attr(outers[k], "o"), std::to_string(k + 1));
        Node* inner = child(outers[k], "inner");
        EXPECT_EQ(attr(inner, "i"), "final");
        const std::vector<Node*> leaves = children(inner, "leaf");
        ASSERT_EQ(leaves.size(), 2u);
        EXPECT_EQ(attr(leaves[1], "l"), "2");
        EXPECT_EQ(leaves[0]->parent(), inner);
    }
    // A list that multiplies itself stops at the copy budget and its references go.
    const std::vector<Node*> many = children(r, "many");
    EXPECT_GT(many.size(), 1u);
    EXPECT_LE(many.size(), static_cast<size_t>(ConfigFile::kMaxCopiedNodes) * 3);
    EXPECT_EQ(attr(many.back(), "m"), "<absent>");
    EXPECT_NE(child(r, "end"), nullptr);
}

TEST(ConfigHooks, VanishingRootHookOrderPathsAndEmptyHook)
{
    LeakCheck leaks;
    ScratchDir dir;
    const std::string root = "<talverix list=':INI:[s]missing'><ini path='" + dir.write("r.ini", "[s]\no=1\n") +
                             "' hook=':INI:'><item name='[s]missing' duplicate='list'";
    ConfigFile cfg("string", nullptr);
    ASSERT_TRUE(cfg.load((root + "/></ini></talverix>").c_str()));
    EXPECT_EQ(cfg.root(), nullptr);
    ASSERT_TRUE(cfg.load((root + " default='x'/></ini></talverix>").c_str()));
    EXPECT_EQ(attr(cfg.root(), "list"), "x");
    EXPECT_EQ(cfg.root()->next(), nullptr);

    dir.write("prog.ini", "k = fromProg\n");
    dir.write("any.ini", "[S]\nk = fromAny\n");
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("sub")));
    const std::string sep(1, Platform::pathSeparator);
    const std::string cfgPath =
        dir.write("sub" + sep + "c.xml", "<talverix><ini path='../*.ini' hook=':I:'/><ini path='" +
                                             dir.write("second.ini", "k = fromSecond\n") +
                                             "' hook=':I:'/><x v=':I:k'/></talverix>");
    // Later ini elements come first; "*" takes the program name; relative paths start at the file.
    ConfigFile file(cfgPath.c_str(), "prog");
    ASSERT_TRUE(file.load()) << file.messages();
    EXPECT_EQ(file.baseDir().c_str(), dir.file("sub"));
    EXPECT_EQ(attr(child(file.root(), "x"), "v"), "fromSecond");
    EXPECT_STREQ(file.firstHook()->next()->iniFile()->path().c_str(), (dir.file("sub") + sep + "../prog.ini").c_str());
    {
        ChangeDir cd(dir.path());
        ConfigFile relative(("sub" + sep + "c.xml").c_str(), "prog");
        ASSERT_TRUE(relative.load()) << relative.messages();
        EXPECT_EQ(relative.baseDir().c_str(), dir.file("sub"));
    }
#if defined(_WIN32)
    {
        // A path from the root is on the drive of the file's folder, not on the current drive.
        ChangeDir cd(dir.path()[0] == 'Z' ? "C:\\" : "Z:\\");
        ConfigFile rooted(dir.write("r.xml", "<talverix><ini path='\\none.ini' hook=':I:'/></talverix>").c_str(), "p");
        ASSERT_TRUE(rooted.load()) << rooted.messages();
        EXPECT_EQ(rooted.firstHook()->iniFile()->path().c_str(), dir.path().substr(0, 2) + "\\none.ini");
    }
#endif
    // No hook attribute: an empty hook makes every value a reference; loading still ends.
    ConfigFile empty("string", nullptr);
    ASSERT_TRUE(
        empty.load(("<talverix><ini path='" + dir.file("any.ini") + "'/><e a='[S]k' b='no'/><f/></talverix>").c_str()));
    EXPECT_EQ(child(empty.root(), "e")->attributeCount(), 0);
    EXPECT_NE(child(empty.root(), "f"), nullptr);
}

TEST(ConfigHooks, LoadErrorsMessagesAndDeepTrees)
{
    LeakCheck leaks;
    ScratchDir dir;
    ConfigFile missing(dir.file("none.xml").c_str(), nullptr);
    EXPECT_FALSE(missing.load());
    EXPECT_EQ(std::string(missing.messages()), "Cannot read " + dir.file("none.xml") + "\n");
    ConfigFile cfg("string", nullptr);
    EXPECT_FALSE(cfg.load("<talverix>text<a/></talverix>"));
    EXPECT_FALSE(cfg.load("<other/>"));
    EXPECT_EQ(std::string(cfg.messages()), "XML parse (string) failed: Illegal Text\nNo TALVERIX XML file (string)\n");
    EXPECT_TRUE(cfg.load("<talverix/>"));
    EXPECT_FALSE(cfg.load("<talverix"));
    EXPECT_EQ(cfg.root(), nullptr); // no stale document after a failed load

    const int depth = 200000; // a recursive resolver overflows the stack
    std::string body;
    for (int i = 0; i < depth; ++i)
        body += "<n>";
    body += "<leaf x=':INI:v'/>";
    for (int i = 0; i < depth; ++i)
        body += "</n>";
    ASSERT_TRUE(cfg.load(doc(dir.write("deep.ini", "v = 42\n"), "", body).c_str()));
    Node* n = child(cfg.root(), "n");
    for (int i = 1; i < depth && n; ++i)
        n = n->firstChild();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(attr(n->firstChild(), "x"), "42");
}
