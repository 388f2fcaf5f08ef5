#include "xml/configfile.h"

#include "platform/platform.h"

#include <cstring>
#include <string>
#include <vector>

namespace Xml {

namespace {

bool isBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

// The text between begin and end without surrounding blanks and tabs.
std::string trimmed(const char* begin, const char* end)
{
    while (begin < end && isBlankOrTab(*begin))
        ++begin;
    while (end > begin && isBlankOrTab(end[-1]))
        --end;
    return std::string(begin, end);
}

// Cuts text at any of the delimiter characters, skipping empty pieces.
std::vector<std::string> splitAt(const char* text, const char* delimiters)
{
    std::vector<std::string> pieces;
    std::string piece;
    for (const char* p = text; *p; ++p) {
        if (std::strchr(delimiters, *p) != nullptr) {
            if (!piece.empty())
                pieces.push_back(piece);
            piece.clear();
        } else {
            piece += *p;
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    return pieces;
}

int32_t subtreeSize(const Node* node)
{
    int32_t count = 0;
    std::vector<const Node*> todo{node};
    while (!todo.empty()) {
        const Node* n = todo.back();
        todo.pop_back();
        ++count;
        for (const Node* c = n->firstChild(); c; c = c->next())
            todo.push_back(c);
    }
    return count;
}

} // namespace

ConfigFile::ConfigFile(const char* name, const char* substitution)
    : m_strName(name ? name : ""), m_iModified(0), m_strSubstitution(substitution ? substitution : "*"),
      m_pHooks(nullptr), m_bMessagesTaken(false), m_iItemDuplicate(kDuplicateLast), m_iCopiedNodes(0)
{
}

ConfigFile::~ConfigFile()
{
    clearHooks();
}

void ConfigFile::clearHooks()
{
    while (m_pHooks != nullptr) {
        IniHook* next = m_pHooks->m_pNext;
        delete m_pHooks;
        m_pHooks = next;
    }
}

void ConfigFile::addMessage(const String& text)
{
    if (m_bMessagesTaken) {
        m_strMessages = "";
        m_bMessagesTaken = false;
    }
    m_strMessages.append(text);
}

const char* ConfigFile::messages()
{
    m_bMessagesTaken = true;
    return m_strMessages.c_str();
}

void ConfigFile::computeBaseDir()
{
    const char* name = m_strName.c_str();
    const char* slash = std::strrchr(name, Platform::pathSeparator);
    String cwd;
    if (slash == nullptr) {
        if (cwd.currentDirectory())
            m_strBaseDir = cwd;
        else
            m_strBaseDir = ".";
        return;
    }
    String dir(name, static_cast<int32_t>(slash == name ? 1 : slash - name));
    if (Platform::isAbsolutePath(name)) {
        m_strBaseDir = dir;
        return;
    }
    if (!cwd.currentDirectory())
        cwd = ".";
    m_strBaseDir = cwd;
    m_strBaseDir.append(Platform::pathSeparator);
    m_strBaseDir.append(dir);
}

void ConfigFile::iniPathFor(const char* path, String& out) const
{
#if defined(_WIN32)
    // A path from the root ("\x.ini") is on the drive of the base directory,
    // which need not be the current drive.
    const char* base = m_strBaseDir.c_str();
    if (path != nullptr && path[0] == '\\' && path[1] != '\\' && base != nullptr && base[0] != '\0' && base[1] == ':') {
        out = String(base, 2);
        out.append(path);
        return;
    }
#endif
    if (path == nullptr || *path == '\0' || Platform::isAbsolutePath(path)) {
        out = path ? path : "";
        return;
    }
    out = m_strBaseDir;
    const int32_t len = out.length();
    if (len == 0 || out.data()[len - 1] != Platform::pathSeparator)
        out.append(Platform::pathSeparator);
    out.append(path);
}

bool ConfigFile::load(const char* text)
{
    clear();
    clearHooks();
    m_iCopiedNodes = 0;
    computeBaseDir();

    String content;
    if (text == nullptr) {
        if (!content.readFile(m_strName.c_str(), true, &m_iModified)) {
            String msg;
            msg.printf("Cannot read %s\n", m_strName.c_str());
            addMessage(msg);
            return false;
        }
        text = content.c_str();
    }
    if (!parse(text)) {
        String msg;
        msg.printf("XML parse (%s) failed: %s\n", m_strName.c_str(), m_strErrorText.c_str());
        addMessage(msg);
        return false;
    }
    Node* top = root();
    if (top == nullptr || std::strcmp(top->name(), "talverix") != 0) {
        String msg;
        msg.printf("No TALVERIX XML file (%s)\n", m_strName.c_str());
        addMessage(msg);
        return false;
    }

    for (Node* c = top->firstChild(); c; c = c->next()) {
        if (std::strcmp(c->name(), "ini") != 0)
            continue;
        // "file" names the INI file literally; "path" takes the substitution
        // for "*".
        const char* literal = c->attributeDecoded("file");
        String path(literal != nullptr && *literal != '\0' ? literal : c->attributeDecoded("path"));
        if (literal == nullptr || *literal == '\0')
            path.replaceAll("*", m_strSubstitution.c_str());
        String iniPath;
        iniPathFor(path.c_str(), iniPath);
        IniHook* hook = new IniHook(c, c->attribute("hook"), iniPath.c_str());
        hook->m_pIniFile->load(); // a missing or bad file simply yields no values
        hook->m_pNext = m_pHooks;
        m_pHooks = hook;
    }

    markTree(top);
    resolveTree();
    return true;
}

// ---------------------------------------------------------------------------
// Marking references

bool ConfigFile::startsWithHook(const char* value) const
{
    for (const IniHook* h = m_pHooks; h; h = h->m_pNext) {
        if (std::strncmp(value, h->hookText(), static_cast<size_t>(h->m_strHook.length())) == 0)
            return true;
    }
    return false;
}

void ConfigFile::markNode(Node* node)
{
    for (Attribute* a = node->firstAttribute(); a; a = a->next()) {
        if (startsWithHook(a->value())) {
            a->setLiteral(1);
            node->m_uFlags |= Node::kFlagReference;
        }
    }
}

void ConfigFile::markTree(Node* root)
{
    if (m_pHooks == nullptr)
        return;
    std::vector<Node*> todo{root};
    while (!todo.empty()) {
        Node* n = todo.back();
        todo.pop_back();
        if (std::strcmp(n->name(), "ini") == 0)
            continue;
        markNode(n);
        if (n->m_uFlags & Node::kFlagReference) {
            // Every ancestor learns that something below it needs resolving;
            // an ancestor that knows already has told its own ancestors.
            for (Node* p = n->parent(); p && !(p->m_uFlags & Node::kFlagDescendant); p = p->parent())
                p->m_uFlags |= Node::kFlagDescendant;
        }
        for (Node* c = n->firstChild(); c; c = c->next())
            todo.push_back(c);
    }
}

// ---------------------------------------------------------------------------
// Resolution

void ConfigFile::resolveTree()
{
    // Child chains are resolved before the chain that holds their parent,
    // with an explicit stack instead of recursion.
    struct Frame {
        Node* parent;
        Node** slot;
        Node* cursor;
    };
    std::vector<Frame> stack;
    stack.push_back(Frame{nullptr, rootSlot(), *rootSlot()});
    while (!stack.empty()) {
        Node* cursor = stack.back().cursor;
        while (cursor != nullptr && !(cursor->m_uFlags & Node::kFlagDescendant))
            cursor = cursor->next();
        if (cursor != nullptr) {
            stack.back().cursor = cursor->next();
            stack.push_back(Frame{cursor, &cursor->m_pFirstChild, cursor->m_pFirstChild});
            continue;
        }
        const Frame done = stack.back();
        stack.pop_back();
        resolvePasses(done.slot, done.parent);
        if (done.parent != nullptr)
            done.parent->m_uFlags &= Node::kFlagReference;
    }
}

void ConfigFile::dropReferences(Node* node)
{
    for (Attribute* a = node->firstAttribute(); a;) {
        Attribute* next = a->next();
        if (startsWithHook(a->value()))
            node->removeAttribute(a->name());
        a = next;
    }
    node->m_uFlags = 0;
}

void ConfigFile::resolvePasses(Node** slot, Node* parent)
{
    for (int32_t pass = 0; pass < kMaxResolvePasses; ++pass) {
        bool again = false;
        Node* n = *slot;
        while (n != nullptr) {
            Node* next = n->next();
            if (!(n->m_uFlags & Node::kFlagReference)) {
                n = next;
                continue;
            }
            // The first attribute, in order, that begins with a hook text;
            // the hooks are tried newest first.
            Attribute* attribute = nullptr;
            IniHook* hook = nullptr;
            for (Attribute* a = n->firstAttribute(); a && !hook; a = a->next()) {
                for (IniHook* h = m_pHooks; h; h = h->m_pNext) {
                    if (std::strncmp(a->value(), h->hookText(), static_cast<size_t>(h->m_strHook.length())) == 0) {
                        attribute = a;
                        hook = h;
                        break;
                    }
                }
            }
            if (hook == nullptr) {
                n->m_uFlags = 0;
                markNode(n);
                n = next;
                continue;
            }
            if (m_iCopiedNodes >= kMaxCopiedNodes) {
                // Copy budget spent: the reference is dropped in place.
                n->removeAttribute(attribute->name());
                n->m_uFlags = 0;
                markNode(n);
                again = again || (n->m_uFlags & Node::kFlagReference);
                n = next;
                continue;
            }
            Node* replacement = resolveReference(n, attribute, hook);
            // The replacements take the node's place in the chain.
            Node* after = n->prev();
            n->unlink();
            while (replacement != nullptr) {
                Node* following = replacement->m_pNext;
                replacement->m_pPrev = nullptr;
                replacement->m_pNext = nullptr;
                Node::linkAfter(slot, parent, after, replacement);
                if (replacement->m_uFlags & Node::kFlagReference)
                    again = true;
                after = replacement;
                replacement = following;
            }
            n->del();
            n = next;
        }
        if (!again)
            return;
    }
    // Still unresolved after the last pass (a value that refers to itself,
    // or a cycle of values): drop those references.
    for (Node* n = *slot; n; n = n->next()) {
        if (n->m_uFlags & Node::kFlagReference)
            dropReferences(n);
    }
}

void ConfigFile::readRule(IniHook* hook, const char* ruleName, const char* attributeName)
{
    for (Node* r = hook->element()->firstChild(); r; r = r->next()) {
        const Attribute* nameAttr = r->findAttribute("name");
        if (nameAttr == nullptr || std::strcmp(nameAttr->value(), ruleName) != 0)
            continue;
        m_strItemDefault = r->attributeDecoded("default");
        const String duplicate(r->attributeDecoded("duplicate"));
        if (duplicate.compareNoCase("first") == 0)
            m_iItemDuplicate = kDuplicateFirst;
        else if (duplicate.compareNoCase("error") == 0)
            m_iItemDuplicate = kDuplicateError;
        else if (duplicate.compareNoCase("list") == 0)
            m_iItemDuplicate = kDuplicateList;
        else
            m_iItemDuplicate = kDuplicateLast;
        m_strItemSplit = r->attributeDecoded("split");
        m_strItemSplitDelim = r->attributeDecoded("splitDelim", ":");
        return;
    }
    // No rule: no default, the last value, set into the attribute itself.
    m_strItemDefault = "";
    m_iItemDuplicate = kDuplicateLast;
    m_strItemSplit = attributeName;
    m_strItemSplitDelim = "";
}

Node* ConfigFile::makeCopy(Node* node, const char* attributeName, const char* value, int32_t size)
{
    Node* copy = Node::copy(node);
    m_iCopiedNodes += size;
    const char* v = (value != nullptr && *value != '\0') ? value : m_strItemDefault.c_str();
    auto setLiteral = [copy](const char* name, const char* val) {
        copy->setAttribute(name, val);
        if (Attribute* a = copy->findAttribute(name))
            a->setLiteral(1);
    };
    if (!m_strItemSplit.isEmpty() && !m_strItemSplitDelim.isEmpty()) {
        copy->removeAttribute(attributeName);
        const std::vector<std::string> names = splitAt(m_strItemSplit.c_str(), m_strItemSplitDelim.c_str());
        const std::vector<std::string> pieces = splitAt(v, m_strItemSplitDelim.c_str());
        for (size_t i = 0; i < names.size(); ++i) {
            if (i < pieces.size())
                setLiteral(names[i].c_str(), pieces[i].c_str());
            else
                copy->removeAttribute(names[i].c_str());
        }
    } else if (!m_strItemSplit.isEmpty() && std::strcmp(m_strItemSplit.c_str(), attributeName) != 0) {
        copy->removeAttribute(attributeName);
        setLiteral(m_strItemSplit.c_str(), v);
    } else {
        setLiteral(attributeName, v); // an empty value removes the attribute
    }
    copy->m_uFlags = 0;
    markNode(copy);
    return copy;
}

Node* ConfigFile::resolveReference(Node* node, Attribute* attribute, IniHook* hook)
{
    const String attributeName(attribute->name());
    const char* rest = attribute->value() + hook->m_strHook.length();
    const String ruleName(rest);
    const int32_t size = subtreeSize(node);

    std::string section;
    std::string item;
    if (*rest == '[') {
        const char* close = std::strchr(rest, ']');
        if (close == nullptr) {
            // "[" without "]": the element without that attribute.
            Node* copy = Node::copy(node);
            m_iCopiedNodes += size;
            copy->removeAttribute(attributeName.c_str());
            copy->m_uFlags = 0;
            markNode(copy);
            return copy;
        }
        section = trimmed(rest + 1, close);
        item = trimmed(close + 1, close + std::strlen(close));
    } else {
        item = trimmed(rest, rest + std::strlen(rest));
    }

    readRule(hook, ruleName.c_str(), attributeName.c_str());
    Ini::Item* match = hook->iniFile()->find(section.c_str(), item.c_str(), false);

    // The replacements, chained through their sibling links.
    Node* first = nullptr;
    Node* last = nullptr;
    auto add = [&](const char* value) {
        Node* copy = makeCopy(node, attributeName.c_str(), value, size);
        if (last != nullptr) {
            last->m_pNext = copy;
            copy->m_pPrev = last;
        } else {
            first = copy;
        }
        last = copy;
    };
    switch (m_iItemDuplicate) {
    case kDuplicateFirst:
    case kDuplicateError:
        add(match ? match->value() : nullptr);
        break;
    case kDuplicateList:
        if (match != nullptr) {
            for (Ini::Item* m = match; m; m = m->nextDuplicate()) {
                if (m != match && m_iCopiedNodes >= kMaxCopiedNodes)
                    break;
                add(m->value());
            }
        } else if (!m_strItemDefault.isEmpty()) {
            add(nullptr);
        }
        break;
    case kDuplicateLast:
    default: {
        Ini::Item* lastMatch = match;
        while (lastMatch != nullptr && lastMatch->nextDuplicate() != nullptr)
            lastMatch = lastMatch->nextDuplicate();
        add(lastMatch ? lastMatch->value() : nullptr);
        break;
    }
    }
    return first;
}

} // namespace Xml
