#include "xml/document.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace Xml {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

// First `target` at or after p that is not inside a quoted section; null
// when the text ends first.
const char* findOutsideQuotes(const char* p, char target)
{
    char quote = 0;
    for (; *p; ++p) {
        if (quote != 0) {
            if (*p == quote)
                quote = 0;
        } else if (isQuote(*p)) {
            quote = *p;
        } else if (*p == target) {
            return p;
        }
    }
    return nullptr;
}

void appendStartTag(const Node* n, std::string& out)
{
    out += '<';
    out += n->name();
    for (const Attribute* a = n->firstAttribute(); a; a = a->next()) {
        if (a->nameString().isEmpty() || a->valueString().isEmpty())
            continue;
        out += ' ';
        out += a->name();
        out += "='";
        out += a->value();
        out += '\'';
    }
}

void appendIndent(bool indented, int depth, std::string& out)
{
    if (indented)
        out.append(static_cast<size_t>(depth) * 2, ' ');
}

void appendLineEnd(bool indented, std::string& out)
{
    if (indented)
        out += '\n';
}

} // namespace

// Prints one top-level element and everything below it, without recursion.
void Document::printTree(Node* top, bool indented, std::string& out)
{
    std::vector<std::pair<Node*, int>> open; // elements whose end tag is pending
    Node* n = top;
    int depth = 0;
    for (;;) {
        const bool hasChildren = n->firstChild() != nullptr;
        const bool hasText = !n->textString().isEmpty();
        if (hasChildren && hasText) {
            // Recorded on the node; nothing is printed for it.
            n->m_strErrorText = "Unsupported structure: text and child in a node";
        } else if (!hasChildren && !hasText) {
            appendIndent(indented, depth, out);
            appendStartTag(n, out);
            out += "/>";
            appendLineEnd(indented, out);
        } else {
            appendIndent(indented, depth, out);
            appendStartTag(n, out);
            out += '>';
            appendLineEnd(indented, out);
            if (hasText) {
                appendIndent(indented, depth, out);
                out.append(n->text(), static_cast<size_t>(n->textString().length()));
                appendLineEnd(indented, out);
                appendIndent(indented, depth, out);
                out += "</";
                out += n->name();
                out += '>';
                appendLineEnd(indented, out);
            } else {
                open.emplace_back(n, depth);
                n = n->firstChild();
                ++depth;
                continue;
            }
        }
        // n is done: go to its next sibling, closing every element whose
        // children are all printed.
        for (;;) {
            if (open.empty())
                return;
            if (n->next() != nullptr) {
                n = n->next();
                break;
            }
            n = open.back().first;
            depth = open.back().second;
            open.pop_back();
            appendIndent(indented, depth, out);
            out += "</";
            out += n->name();
            out += '>';
            appendLineEnd(indented, out);
        }
    }
}

Document::Document() : m_pRoots(nullptr)
{
}

Document::~Document()
{
    releaseRoots();
}

void Document::releaseRoots()
{
    while (m_pRoots != nullptr) {
        Node* n = m_pRoots;
        n->unlink();
        n->del();
    }
}

void Document::clear()
{
    releaseRoots();
    m_strHeader.makeNull();
}

void Document::setRoot(Node* node)
{
    if (node != nullptr)
        node->unlink();
    releaseRoots();
    if (node != nullptr)
        Node::linkAfter(&m_pRoots, nullptr, nullptr, node);
}

bool Document::fail(const char* message)
{
    m_strErrorText = message;
    return false;
}

// Makes an element from the tag that starts at `tag` ('<') and ends at `end`
// ('>'). On failure the message goes to errorText and null is returned.
Node* Document::makeElement(const char* tag, const char* end)
{
    const char* p = tag + 1;
    const char* nameEnd = p;
    while (nameEnd < end && !isSpace(*nameEnd) && *nameEnd != '/' && *nameEnd != '>')
        ++nameEnd;
    Node* node = Node::make(std::string(p, nameEnd).c_str());
    if (node == nullptr) {
        m_strErrorText = "Cannot allocate node";
        return nullptr;
    }
    const char* reason = nullptr;
    p = nameEnd;
    for (;;) {
        while (p < end && isSpace(*p))
            ++p;
        if (p >= end || *p == '/' || *p == '>')
            break;
        // The name runs to the next '=' outside quotes; blanks before the
        // '=' belong to it.
        const char* eq = nullptr;
        char quote = 0;
        for (const char* r = p; r < end; ++r) {
            if (quote != 0) {
                if (*r == quote)
                    quote = 0;
            } else if (isQuote(*r)) {
                quote = *r;
            } else if (*r == '=') {
                eq = r;
                break;
            }
        }
        if (eq == nullptr) {
            reason = "Unassigned attribute";
            break;
        }
        const char q = eq + 1 < end ? eq[1] : '\0';
        if (!isQuote(q)) {
            reason = "No string assigned to attribute";
            break;
        }
        const char* valueStart = eq + 2;
        const char* valueEnd =
            static_cast<const char*>(std::memchr(valueStart, q, static_cast<size_t>(end - valueStart)));
        if (valueEnd == nullptr) {
            reason = "Unclosed string";
            break;
        }
        if (valueEnd > valueStart) {
            const std::string name(p, eq);
            const std::string value(valueStart, valueEnd);
            if (!node->setAttribute(name.c_str(), value.c_str())) {
                reason = "Cannot set attribute value";
                break;
            }
        }
        p = valueEnd + 1;
    }
    if (reason != nullptr) {
        node->del();
        m_strErrorText = reason;
        return nullptr;
    }
    return node;
}

bool Document::parse(const char* text)
{
    releaseRoots();
    m_strHeader.makeNull();
    m_strErrorText = "";
    if (text == nullptr)
        return fail("xmlString is NULL");

    Node* current = nullptr;   // the open element
    Node* lastChild = nullptr; // last element of the current element's list
    const char* p = text;
    for (;;) {
        while (isSpace(*p))
            ++p;
        if (*p == '\0')
            return true; // elements left open are not an error
        if (*p == '>')
            return fail("Nonsupported XML structure");
        if (*p == '<') {
            const char* end = findOutsideQuotes(p + 1, '>');
            if (end == nullptr)
                return fail("Nonsupported XML structure");
            const char second = p[1];
            if (second == '?') {
                if (!m_strHeader.isNull())
                    return fail("Duplicate Header");
                m_strHeader.assign(p, static_cast<int32_t>(end + 1 - p));
            } else if (second == '!') {
                m_strErrorText = "<!...> tag skipped";
            } else if (second == '/') {
                if (current == nullptr)
                    return fail("End tag without start tag");
                const size_t len = static_cast<size_t>(end - (p + 2));
                if (len != static_cast<size_t>(current->nameString().length()) ||
                    std::memcmp(p + 2, current->name(), len) != 0)
                    return fail("End tag does not match");
                lastChild = current;
                current = current->parent();
            } else if (isAsciiLetter(second)) {
                Node* element = makeElement(p, end);
                if (element == nullptr)
                    return false;
                if (current != nullptr && !current->textString().isEmpty()) {
                    element->del();
                    return fail("Illegal Text");
                }
                Node** slot = current ? &current->m_pFirstChild : &m_pRoots;
                Node::linkAfter(slot, current, lastChild, element);
                if (end[-1] == '/') {
                    lastChild = element;
                } else {
                    current = element;
                    lastChild = nullptr;
                }
            } else {
                return fail("Nonsupported XML structure");
            }
            p = end + 1;
        } else {
            const char* end = findOutsideQuotes(p, '<');
            if (end == nullptr)
                end = p + std::strlen(p);
            if (current == nullptr || current->firstChild() != nullptr || !current->textString().isEmpty())
                return fail("Illegal Text");
            current->m_strText.assign(p, static_cast<int32_t>(end - p));
            p = end;
        }
    }
}

const String& Document::print(bool indented)
{
    std::string out;
    out.append(m_strHeader.c_str());
    if (indented)
        out += '\n';
    for (Node* n = m_pRoots; n; n = n->next())
        printTree(n, indented, out);
    m_strOutput.assign(out.data(), static_cast<int32_t>(out.size()));
    return m_strOutput;
}

} // namespace Xml
