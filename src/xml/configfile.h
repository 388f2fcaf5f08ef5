#pragma once
// Xml::ConfigFile: a configuration document (root element "talverix") whose
// attribute values may be drawn from INI files through hooks.
//
// Each "ini" child of the root declares a hook: its "hook" attribute is the
// hook text, its "path" attribute names the INI file ("*" in it is replaced
// by the substitution; a relative path is taken against the base directory);
// a "file" attribute names it literally instead, "*" included.
// Every attribute elsewhere whose value begins with a hook text is a
// reference "<hook>[section]item" (the section part is optional); after
// loading it is replaced by the INI value, and its element may be multiplied,
// split or dropped according to the "item" rules of the "ini" element:
//   name       the reference text after the hook, exactly
//   default    the value when the INI file has none
//   duplicate  first | last | error | list (any other value: last)
//   split      attribute names that receive the pieces of the value
//   splitDelim the characters that cut the value and the names (":")
//
// Base directory: the current directory when the name holds no "/";
// otherwise the name's directory part, taken against the current directory
// when the name is relative.
//
// Resolution runs in passes while a replacement still carries a reference
// (an element with several references, or an INI value that is itself a
// reference). It stops after kMaxResolvePasses passes; references still
// unresolved then are dropped (their attributes removed). At most
// kMaxCopiedNodes nodes are copied per load; references met after that are
// dropped too, so self-multiplying list values cannot exhaust memory.

#include "string/string.h"
#include "xml/document.h"
#include "xml/inihook.h"
#include "xml/node.h"

#include <cstdint>

namespace Xml {

class ConfigFile : public Document {
public:
    static constexpr int32_t kDuplicateFirst = 0;
    static constexpr int32_t kDuplicateLast = 1;
    static constexpr int32_t kDuplicateError = 2;
    static constexpr int32_t kDuplicateList = 3;
    static constexpr int32_t kMaxResolvePasses = 64;
    static constexpr int32_t kMaxCopiedNodes = 100000;

    // name: the file, or a label when the document is loaded from a text.
    // substitution: replaces "*" in INI paths; "*" when null.
    ConfigFile(const char* name, const char* substitution);
    ~ConfigFile() override;

    // Loads the text, or the file `name` when text is null, declares the
    // hooks and resolves the references. False on failure; the message can
    // then be read with messages().
    bool load(const char* text = nullptr);

    // The error texts of the loads since they were last read; reading marks
    // them taken, so the next error starts a fresh text.
    const char* messages();

    const String& name() const { return m_strName; }
    int64_t modified() const { return m_iModified; }
    const String& substitution() const { return m_strSubstitution; }
    const String& baseDir() const { return m_strBaseDir; }
    IniHook* firstHook() const { return m_pHooks; }

private:
    void addMessage(const String& text);
    void clearHooks();
    void computeBaseDir();
    void iniPathFor(const char* path, String& out) const;
    bool startsWithHook(const char* value) const;
    void markTree(Node* root);
    void markNode(Node* node);
    void resolveTree();
    void resolvePasses(Node** slot, Node* parent);
    void readRule(IniHook* hook, const char* ruleName, const char* attributeName);
    Node* resolveReference(Node* node, Attribute* attribute, IniHook* hook);
    Node* makeCopy(Node* node, const char* attributeName, const char* value, int32_t subtreeSize);
    void dropReferences(Node* node);

    String m_strName;
    int64_t m_iModified;
    String m_strSubstitution;
    String m_strBaseDir;
    IniHook* m_pHooks; // newest first
    String m_strMessages;
    bool m_bMessagesTaken;
    // The rule of the reference being resolved.
    String m_strItemDefault;
    String m_strItemSplit;
    String m_strItemSplitDelim;
    int32_t m_iItemDuplicate;
    int32_t m_iCopiedNodes;
};

} // namespace Xml
