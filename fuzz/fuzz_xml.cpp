// The XML reader and printer over any text: a cleanly parsed document prints to a text that parses
// to the same print (unless an open quote or a quote in a name or value swallows what follows);
// copies and entity decoding stay consistent.
#include "fuzzcheck.h"
#include "xml/document.h"
#include "xml/node.h"

namespace {

// True when the text leaves no quoted section open.
bool quotesClosed(const char* text)
{
    char open = 0;
    for (const char* p = text; *p; ++p) {
        if (open == 0 && (*p == '\'' || *p == '"'))
            open = *p;
        else if (*p == open)
            open = 0;
    }
    return open == 0;
}

bool g_bQuotesClosed = true;

// Visits every node of the tree iteratively, touching each accessor.
void walk(Xml::Node* top)
{
    std::vector<Xml::Node*> stack;
    for (Xml::Node* n = top; n; n = n->next())
        stack.push_back(n);
    size_t visited = 0;
    while (!stack.empty() && visited < 100000) {
        Xml::Node* n = stack.back();
        stack.pop_back();
        ++visited;
        for (Xml::Attribute* a = n->firstAttribute(); a; a = a->next()) {
            const char* stored = n->attribute(a->name());
            const char* decoded = n->attributeDecoded(a->name());
            if (!stored || !decoded)
                fail("attribute lookup of an existing attribute gave null");
            if (std::strpbrk(a->name(), "'\"") != nullptr || std::strchr(a->value(), '\'') != nullptr)
                g_bQuotesClosed = false;
        }
        if (!quotesClosed(n->text()) || std::strpbrk(n->name(), "'\"") != nullptr)
            g_bQuotesClosed = false;
        for (Xml::Node* c = n->firstChild(); c; c = c->next()) {
            if (c->parent() != n)
                fail("child does not point at its parent");
            stack.push_back(c);
        }
    }
}

void check(const std::string& text)
{
    Xml::Document doc;
    const bool ok = doc.parse(text.c_str());
    g_bQuotesClosed = true;
    walk(doc.root());
    const bool quotesClosed = g_bQuotesClosed;
    const std::string compact = doc.print(false).c_str();
    const std::string indented = doc.print(true).c_str();

    if (ok && doc.errorText().length() == 0 && quotesClosed) {
        Xml::Document again;
        if (!again.parse(compact.c_str()))
            fail("the compact print of a parsed document does not parse");
        if (std::string(again.print(false).c_str()) != compact)
            fail("compact print changes after a second parse");
        Xml::Document third;
        if (!third.parse(indented.c_str()))
            fail("the indented print of a parsed document does not parse");
    }

    if (Xml::Node* root = doc.root()) {
        Xml::Node* copy = Xml::Node::copy(root);
        if (!copy)
            fail("copy of a root gave null");
        walk(copy);
        // An encoded value decodes to itself.
        if (copy->setAttributeEncoded("fz", text.c_str()) && !text.empty() &&
            std::strcmp(copy->attributeDecoded("fz"), text.c_str()) != 0)
            fail("encoded attribute does not decode to its value");
        copy->del();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int32_t liveBefore = Xml::Node::liveCount();
    check(std::string(reinterpret_cast<const char*>(data), size));
    if (Xml::Node::liveCount() != liveBefore)
        fail("nodes outlive their document");
    return 0;
}
