// The pre-flight's catalog check: the catalog that applies is a catalog, the INF and every file
// the package copies are among its members, each hashed as the catalog holds it, and its
// signature is one Windows trusts for an unattended install (SourceCode/Catalog). Where the
// system has WinVerifyTrust, its refusal of a member is a reason too; its consent is never
// relied on.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Signature.h"

struct MemberCheck {
    bool checked = false;     // the catalog was read as one and each file looked for
    std::u16string algorithm; // the members' algorithm, "SHA1" or "SHA256", when checked
    std::optional<Signature::SignatureFacts> signature; // when it was read as a catalog
    std::vector<std::u16string> reasons;
};

// `folder` is the INF's folder with its separator, `catalog` the catalog's name there and `key`
// the entry that names it; `files` the INF's name and the copied files' paths, relative to the
// folder ('\' between components), each looked for once, in order.
MemberCheck CheckMembers(const std::u16string& folder, const std::u16string& catalog,
                         const std::u16string& key, const std::vector<std::u16string>& files);
