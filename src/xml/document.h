#pragma once
// Xml::Document: a small XML reader and writer for configuration documents
// and log records. It holds a list of top-level elements (the first one is
// the root), the declaration token as read, the text of the last print and
// the last error or warning.
//
// The accepted subset: no namespaces, no CDATA, no mixed content, "<!...>"
// tags skipped with a warning, five named entities and a four-digit
// hexadecimal character reference (decoded only on request, see Node).
// Parsing and printing are iterative, so deep nesting costs heap, not stack.

#include "string/string.h"
#include "xml/node.h"

#include <string>

namespace Xml {

class Document {
public:
    Document();
    virtual ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Empties the document and parses text. On failure errorText holds the
    // message and the elements read so far stay in the document. A skipped
    // "<!...>" tag leaves "<!...> tag skipped" in errorText of a successful parse.
    bool parse(const char* text);
    // Prints every top-level element, compact or indented, into output and
    // returns it.
    const String& print(bool indented);
    // Releases every top-level element and makes node (possibly null) the
    // only one. The document takes over one reference of node: the caller's
    // for a free node, that of its list for a node that sits in one.
    void setRoot(Node* node);
    // Releases every top-level element and empties the header.
    void clear();
    Node* root() const { return m_pRoots; }

    const String& errorText() const { return m_strErrorText; }
    const String& header() const { return m_strHeader; }
    const String& output() const { return m_strOutput; }

protected:
    // Releases (one del each) and unlinks every top-level element.
    void releaseRoots();
    Node** rootSlot() { return &m_pRoots; }

    String m_strErrorText;
    String m_strHeader;
    String m_strOutput;

private:
    bool fail(const char* message);
    Node* makeElement(const char* tag, const char* end);
    static void printTree(Node* top, bool indented, std::string& out);

    Node* m_pRoots;
};

} // namespace Xml
