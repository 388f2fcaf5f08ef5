#pragma once
// Xml::Node: one element of an XML tree: a name, attributes in insertion order
// and either text or child elements, never both.
//
// Nodes are shared by reference count: make and copy give a count of 1, addRef
// adds one, del takes one away and destroys the node (with its attributes and
// its children, each released with one del) when the count reaches 0. A list
// (a parent's children, a document's top-level elements) holds one reference
// to each of its nodes. A child that survives its parent because somebody
// holds another reference is detached from the destroyed tree first, so it
// never points at freed nodes. Every walk over a tree is iterative: deeply
// nested trees cannot overflow the stack.
//
// The accessors take and return NUL-terminated byte strings. Errors are stored
// in errorText; no exception is thrown.

#include "string/string.h"
#include "xml/attribute.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace Xml {

class Document;
class ConfigFile;

class Node {
public:
    // Flag bits of the hook resolution (see ConfigFile).
    static const uint32_t kFlagReference = 1;  // an attribute of this node holds a hook reference
    static const uint32_t kFlagDescendant = 2; // a descendant carries kFlagReference

    // A new element with a count of 1; null when it cannot be allocated.
    static Node* make(const char* name);
    // A deep copy (name, flags, text, attributes with their literal marks,
    // children with their parent links) with a count of 1; null for null.
    static Node* copy(const Node* node);

    // The stored value; "" when absent; null (and "No name given") for an
    // empty or missing name.
    const char* attribute(const char* name) const;
    // The stored value, or defaultValue when absent or empty.
    const char* attribute(const char* name, const char* defaultValue) const;
    // The value with entity references decoded (the stored value when the
    // attribute is marked literal); "" when absent; null for an empty name.
    // The text stays valid until the next decoding call on this node.
    const char* attributeDecoded(const char* name) const;
    // As above, but an absent attribute or an empty result gives defaultValue.
    const char* attributeDecoded(const char* name, const char* defaultValue) const;
    // An empty value removes the attribute; an existing attribute keeps its
    // place and its literal mark; a new one goes to the end of the list.
    bool setAttribute(const char* name, const char* value);
    // Encodes the value (entities) and sets it.
    bool setAttributeEncoded(const char* name, const char* value);
    // True when the attribute existed.
    bool removeAttribute(const char* name);
    Attribute* findAttribute(const char* name) const;
    int32_t attributeCount() const { return m_iAttributeCount; }

    Attribute* firstAttribute() const { return m_pFirstAttribute; }
    Node* firstChild() const { return m_pFirstChild; }
    Node* next() const { return m_pNext; }
    Node* prev() const { return m_pPrev; }
    Node* parent() const { return m_pParent; }
    const char* name() const { return m_strName.c_str(); }
    const char* text() const { return m_strText.c_str(); }
    const String& nameString() const { return m_strName; }
    const String& textString() const { return m_strText; }
    // Fails with "Unsupported: Text and child in a node" when the node has children.
    bool setText(const char* text);
    uint32_t flags() const { return m_uFlags; }
    void setFlags(uint32_t flags) { m_uFlags = flags; }

    // Plain link setters. setFirstChild also makes this node the parent (and
    // the list owner) of every node of the given chain.
    void setFirstChild(Node* child);
    void setNext(Node* node) { m_pNext = node; }
    void setPrev(Node* node) { m_pPrev = node; }
    void setParent(Node* node) { m_pParent = node; }
    // Appends as last child; a node that sits in another list is moved (the
    // reference of that list passes to this one). Refused when this node has
    // text or when child is this node or one of its ancestors.
    bool appendChild(Node* child);
    // Takes the node out of its list without releasing it.
    void unlink();

    void addRef() { ++m_linkCount; }
    void del();
    int32_t linkCount() const { return m_linkCount; }

    const String& errorText() const { return m_strErrorText; }

    // Live nodes of the process (diagnostics).
    static int32_t liveCount() { return s_iLive.load(); }

protected:
    explicit Node(const char* name);
    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    int32_t m_linkCount;
    mutable String m_strErrorText;

private:
    friend class Document;
    friend class ConfigFile;

    // Links an unlinked node into the list held by slot, after `after` (at
    // the head when after is null), with the given parent.
    static void linkAfter(Node** slot, Node* parent, Node* after, Node* node);
    void appendAttribute(const char* name, const char* value, uint32_t literal);
    void indexAttribute(Attribute* attr);

    String m_strName;
    String m_strText;
    Node* m_pPrev;
    Node* m_pNext;
    Node** m_ppListHead; // the slot that holds the first node of this node's list
    uint32_t m_uFlags;
    Attribute* m_pFirstAttribute;
    Attribute* m_pLastAttribute;
    int32_t m_iAttributeCount;
    // Built when a node has many attributes, so that parsing an element with
    // a huge attribute count stays linear.
    std::unordered_map<std::string, Attribute*>* m_pAttributeIndex;
    Node* m_pFirstChild;
    Node* m_pParent;
    mutable String m_strEscapeBuffer;

    static std::atomic<int32_t> s_iLive;
};

} // namespace Xml
