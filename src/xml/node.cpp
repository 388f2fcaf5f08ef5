#include "xml/node.h"

#include "xml/entities.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace Xml {

std::atomic<int32_t> Node::s_iLive{0};

namespace {

// Above this many attributes a node keeps a name index.
const int32_t kIndexThreshold = 16;

bool isEmpty(const char* s)
{
    return s == nullptr || *s == '\0';
}

} // namespace

Node::Node(const char* name)
    : m_linkCount(1), m_strName(name ? name : ""), m_pPrev(nullptr), m_pNext(nullptr), m_ppListHead(nullptr),
      m_uFlags(0), m_pFirstAttribute(nullptr), m_pLastAttribute(nullptr), m_iAttributeCount(0),
      m_pAttributeIndex(nullptr), m_pFirstChild(nullptr), m_pParent(nullptr)
{
    ++s_iLive;
}

Node::~Node()
{
    Attribute* a = m_pFirstAttribute;
    while (a != nullptr) {
        Attribute* next = a->m_pNext;
        delete a;
        a = next;
    }
    delete m_pAttributeIndex;
    --s_iLive;
}

Node* Node::make(const char* name)
{
    return new (std::nothrow) Node(name);
}

Node* Node::copy(const Node* node)
{
    if (node == nullptr)
        return nullptr;
    auto shallow = [](const Node* src) {
        Node* n = new Node(src->name());
        n->m_uFlags = src->m_uFlags;
        n->m_strText = src->m_strText;
        for (const Attribute* a = src->m_pFirstAttribute; a; a = a->m_pNext)
            n->appendAttribute(a->name(), a->value(), a->m_uLiteral);
        return n;
    };
    Node* top = shallow(node);
    // Chains still to copy: (first source child, copied parent).
    std::vector<std::pair<const Node*, Node*>> work;
    if (node->m_pFirstChild)
        work.emplace_back(node->m_pFirstChild, top);
    while (!work.empty()) {
        const Node* src = work.back().first;
        Node* parent = work.back().second;
        work.pop_back();
        Node* last = nullptr;
        for (; src; src = src->m_pNext) {
            Node* c = shallow(src);
            linkAfter(&parent->m_pFirstChild, parent, last, c);
            last = c;
            if (src->m_pFirstChild)
                work.emplace_back(src->m_pFirstChild, c);
        }
    }
    return top;
}

// ---------------------------------------------------------------------------
// Attributes

Attribute* Node::findAttribute(const char* name) const
{
    if (isEmpty(name))
        return nullptr;
    if (m_pAttributeIndex != nullptr) {
        auto it = m_pAttributeIndex->find(name);
        return it == m_pAttributeIndex->end() ? nullptr : it->second;
    }
    for (Attribute* a = m_pFirstAttribute; a; a = a->m_pNext) {
        if (std::strcmp(a->name(), name) == 0)
            return a;
    }
    return nullptr;
}

const char* Node::attribute(const char* name) const
{
    if (isEmpty(name)) {
        m_strErrorText = "No name given";
        return nullptr;
    }
    const Attribute* a = findAttribute(name);
    return a ? a->value() : "";
}

const char* Node::attribute(const char* name, const char* defaultValue) const
{
    if (isEmpty(name)) {
        m_strErrorText = "No name given";
        return defaultValue;
    }
    const Attribute* a = findAttribute(name);
    return (a == nullptr || a->m_strValue.isEmpty()) ? defaultValue : a->value();
}

const char* Node::attributeDecoded(const char* name) const
{
    if (isEmpty(name)) {
        m_strErrorText = "No name given";
        return nullptr;
    }
    const Attribute* a = findAttribute(name);
    if (a == nullptr)
        return "";
    if (a->m_uLiteral != 0)
        return a->value();
    decodeEntities(a->value(), m_strEscapeBuffer);
    return m_strEscapeBuffer.c_str();
}

const char* Node::attributeDecoded(const char* name, const char* defaultValue) const
{
    if (isEmpty(name)) {
        m_strErrorText = "No name given";
        return defaultValue;
    }
    const Attribute* a = findAttribute(name);
    if (a == nullptr)
        return defaultValue;
    const char* v = attributeDecoded(name);
    return isEmpty(v) ? defaultValue : v;
}

void Node::indexAttribute(Attribute* attr)
{
    if (m_pAttributeIndex != nullptr) {
        m_pAttributeIndex->emplace(attr->name(), attr);
        return;
    }
    if (m_iAttributeCount <= kIndexThreshold)
        return;
    m_pAttributeIndex = new std::unordered_map<std::string, Attribute*>();
    for (Attribute* a = m_pFirstAttribute; a; a = a->m_pNext)
        m_pAttributeIndex->emplace(a->name(), a);
}

void Node::appendAttribute(const char* name, const char* value, uint32_t literal)
{
    Attribute* a = new Attribute(name, value);
    a->m_uLiteral = literal;
    a->m_ppListHead = &m_pFirstAttribute;
    a->m_pPrev = m_pLastAttribute;
    if (m_pLastAttribute)
        m_pLastAttribute->m_pNext = a;
    else
        m_pFirstAttribute = a;
    m_pLastAttribute = a;
    ++m_iAttributeCount;
    indexAttribute(a);
}

bool Node::setAttribute(const char* name, const char* value)
{
    if (isEmpty(name)) {
        m_strErrorText = "No name given";
        return false;
    }
    if (isEmpty(value)) {
        removeAttribute(name);
        return true;
    }
    Attribute* a = findAttribute(name);
    if (a != nullptr) {
        a->m_strValue = value; // safe even when value points into the stored text
        return true;
    }
    appendAttribute(name, value, 0);
    return true;
}

bool Node::setAttributeEncoded(const char* name, const char* value)
{
    if (isEmpty(value))
        return setAttribute(name, value);
    String encoded;
    encodeEntities(value, encoded);
    return setAttribute(name, encoded.c_str());
}

bool Node::removeAttribute(const char* name)
{
    Attribute* a = findAttribute(name);
    if (a == nullptr)
        return false;
    if (a->m_pPrev)
        a->m_pPrev->m_pNext = a->m_pNext;
    else
        m_pFirstAttribute = a->m_pNext;
    if (a->m_pNext)
        a->m_pNext->m_pPrev = a->m_pPrev;
    else
        m_pLastAttribute = a->m_pPrev;
    if (m_pAttributeIndex != nullptr)
        m_pAttributeIndex->erase(a->name());
    --m_iAttributeCount;
    delete a;
    return true;
}

// ---------------------------------------------------------------------------
// Text and links

bool Node::setText(const char* text)
{
    if (m_pFirstChild != nullptr) {
        m_strErrorText = "Unsupported: Text and child in a node";
        return false;
    }
    m_strText = text;
    return true;
}

void Node::setFirstChild(Node* child)
{
    m_pFirstChild = child;
    if (child != nullptr)
        child->m_pPrev = nullptr;
    for (Node* c = child; c; c = c->m_pNext) {
        c->m_ppListHead = &m_pFirstChild;
        c->m_pParent = this;
    }
}

void Node::linkAfter(Node** slot, Node* parent, Node* after, Node* node)
{
    node->m_ppListHead = slot;
    node->m_pParent = parent;
    node->m_pPrev = after;
    if (after != nullptr) {
        node->m_pNext = after->m_pNext;
        after->m_pNext = node;
    } else {
        node->m_pNext = *slot;
        *slot = node;
    }
    if (node->m_pNext)
        node->m_pNext->m_pPrev = node;
}

bool Node::appendChild(Node* child)
{
    if (child == nullptr)
        return false;
    if (!m_strText.isEmpty()) {
        m_strErrorText = "Unsupported: Text and child in a node";
        return false;
    }
    for (const Node* n = this; n; n = n->m_pParent) {
        if (n == child) {
            m_strErrorText = "Node cannot contain itself";
            return false;
        }
    }
    child->unlink();
    Node* last = m_pFirstChild;
    while (last && last->m_pNext)
        last = last->m_pNext;
    linkAfter(&m_pFirstChild, this, last, child);
    return true;
}

void Node::unlink()
{
    if (m_pPrev != nullptr)
        m_pPrev->m_pNext = m_pNext;
    else if (m_ppListHead != nullptr && *m_ppListHead == this)
        *m_ppListHead = m_pNext;
    if (m_pNext != nullptr)
        m_pNext->m_pPrev = m_pPrev;
    m_pPrev = nullptr;
    m_pNext = nullptr;
    m_ppListHead = nullptr;
    m_pParent = nullptr;
}

void Node::del()
{
    if (m_linkCount <= 0) {
        // Already being destroyed (or never counted): record it and leave
        // the node alone rather than destroying it twice.
        m_strErrorText = "Xml::Node::del() m_linkCount == 0\n";
        return;
    }
    if (--m_linkCount > 0)
        return;
    // The last reference: take the node out of a list it may still sit in,
    // then destroy the tree below it without recursion.
    unlink();
    std::vector<Node*> doomed{this};
    while (!doomed.empty()) {
        Node* n = doomed.back();
        doomed.pop_back();
        Node* c = n->m_pFirstChild;
        n->m_pFirstChild = nullptr;
        while (c != nullptr) {
            Node* next = c->m_pNext;
            c->m_pPrev = nullptr;
            c->m_pNext = nullptr;
            c->m_ppListHead = nullptr;
            c->m_pParent = nullptr;
            if (c->m_linkCount <= 0)
                c->m_strErrorText = "Xml::Node::del() m_linkCount == 0\n";
            else if (--c->m_linkCount == 0)
                doomed.push_back(c);
            c = next;
        }
        delete n;
    }
}

} // namespace Xml
