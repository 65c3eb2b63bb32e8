// The pre-flight's catalog check, this far: the catalog that applies is a catalog, and the INF
// and every file the package copies are among its members, each hashed as the catalog holds it
// (SourceCode/Catalog). The catalog's signature is not looked at yet.
#pragma once

#include <string>
#include <vector>

struct MemberCheck {
    bool checked = false;     // the catalog was read as one and each file looked for
    std::u16string algorithm; // the members' algorithm, "SHA1" or "SHA256", when checked
    std::vector<std::u16string> reasons;
};

// `folder` is the INF's folder with its separator, `catalog` the catalog's name there and `key`
// the entry that names it; `files` the INF's name and the copied files' paths, relative to the
// folder ('\' between components), each looked for once, in order.
MemberCheck CheckMembers(const std::u16string& folder, const std::u16string& catalog,
                         const std::u16string& key, const std::vector<std::u16string>& files);
