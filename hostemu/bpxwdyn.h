#pragma once
// Dynamic allocation requests in the style of BPXWDYN:
//
//   ALLOC FI(ddname) DA('USER.DATA') SHR REUSE
//   ALLOC DA('USER.NEW') NEW CATALOG DSORG(PS) RECFM(F,B) LRECL(80) BLKSIZE(27920)
//   ALLOC DA('USER.NEW.PDS') NEW CATALOG DSORG(PO) DIR(10) RECFM(F,B) LRECL(80)
//   ALLOC DA('USER.COPY') NEW CATALOG LIKE('USER.DATA')
//   ALLOC FI(OLDDS) DA('USER.OLD') OLD DELETE      (deleted when freed)
//   FREE FI(ddname)        FREE DA('USER.DATA')
//
// Keywords are case-insensitive, values may be quoted. Allocations with a
// file name belong to one conversation and are freed when it ends.

#include "catalog.h"

#include <map>
#include <string>

namespace hostemu {

class Allocations {
public:
    explicit Allocations(Catalog& catalog) : m_catalog(catalog) {}
    // Frees what is still allocated, as the end of a conversation does.
    ~Allocations() { FreeAll(); }

    // Carries out one request; the status text is the answer for the PC.
    Status Execute(const std::string& request);
    // Frees everything still allocated (applying DELETE dispositions).
    void FreeAll();
    size_t Count() const { return m_allocs.size(); }
    // The data set allocated to a file name, empty when none.
    std::string DatasetOf(const std::string& ddname) const;

private:
    struct Alloc {
        std::string dsn; // with (MEMBER) when given
        std::string status;
        std::string disp;
    };
    using Keys = std::map<std::string, std::string>;
    // ALLOC in steps: the status and disposition keywords, then for a new
    // data set its attributes and its creation (or a temporary one).
    Status Allocate(const Keys& keys);
    static Status ReadStatusAndDisposition(const Keys& keys, std::string& status, std::string& disp);
    Status CreateNew(const Keys& keys, const DsRef& ref, const std::string& disp, std::string& what);
    Status NewAttributes(const Keys& keys, const DsRef& ref, DsAttrs& attrs);
    Status Free(const std::map<std::string, std::string>& keys);
    Status Release(const std::string& ddname, const Alloc& a);

    Catalog& m_catalog;
    std::map<std::string, Alloc> m_allocs;
    int m_generated = 0;
};

// Splits "KEY(value) KEY2 KEY3('x y')" into KEY -> value pairs (a keyword
// without parentheses maps to an empty value; the verb is the first key).
// False with a reason when parentheses or quotes do not balance or a
// keyword repeats.
bool ParseKeywordString(const std::string& text, std::vector<std::pair<std::string, std::string>>& out,
                        std::string& error);

} // namespace hostemu
