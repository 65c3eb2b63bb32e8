#include "CatalogCheck.h"

#include "Catalog.h"
#include "ImageHash.h"
#include "SafeFile.h"
#include "SignedContent.h"

using Signature::Hex;
using Signature::Hex32;

MemberCheck CheckMembers(const std::u16string& folder, const std::u16string& catalog,
                         const std::u16string& key, const std::vector<std::u16string>& files) {
    MemberCheck check;
    const std::u16string named = u"the catalog " + catalog + u" (" + key + u")";
    std::string bytes;
    const std::optional<uint64_t> size = SafeFile::PlainFileSize(folder + catalog);
    if (size && *size > Catalog::kMostCatalogBytes) {
        check.reasons.push_back(named + u" is not a catalog: it is over 64 MiB");
        return check;
    }
    if (!size ||
        !SafeFile::ReadPlainFile(folder + catalog, 0, Catalog::kMostCatalogBytes, &bytes)) {
        check.reasons.push_back(named + u" could not be read");
        return check;
    }
    const Catalog::CatalogContents contents =
        Catalog::ReadCatalog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!contents.isCatalog) {
        check.reasons.push_back(named + u" is not a catalog: " + contents.whyNot);
        return check;
    }
    check.checked = true;
    check.algorithm = Catalog::AlgorithmName(contents.listAlgorithm);
    check.signature = Signature::CheckSignature(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                bytes.size(), named);
    std::vector<std::pair<std::u16string, std::u16string>> found; // each member's file and tag
    bool sha1 = contents.listAlgorithm == CatalogCrypto::HashAlgorithm::Sha1;
    bool sha256 = !sha1;
    for (const Catalog::Member& member : contents.members) {
        sha1 = sha1 || member.algorithm == CatalogCrypto::HashAlgorithm::Sha1;
        sha256 = sha256 || member.algorithm == CatalogCrypto::HashAlgorithm::Sha256;
    }
    for (const std::u16string& file : files) {
        Catalog::FileHash hash;
        switch (Catalog::HashFile(folder + file, sha1, sha256, &hash)) {
        case Catalog::FileHashResult::NotRead:
            check.reasons.push_back(u"the file " + file + u" could not be read to look for it in " +
                                    named);
            continue;
        case Catalog::FileHashResult::HashFailed:
            check.reasons.push_back(u"the file " + file +
                                    u" could not be hashed to look for it in " + named);
            continue;
        case Catalog::FileHashResult::Done:
            break;
        }
        const std::u16string tag = Hex(
            contents.listAlgorithm == CatalogCrypto::HashAlgorithm::Sha1 ? hash.sha1 : hash.sha256);
        if (!Catalog::IsMember(contents, hash.sha1, hash.sha256)) {
            check.reasons.push_back(u"the file " + file + u" is not in " + named + u": its " +
                                    check.algorithm + u" hash " + tag + u" is no member's");
            continue;
        }
        found.emplace_back(file, tag);
    }
    // Windows' own verdict is asked of each member only when nothing else is wrong: a refusal
    // for a reason already given would only repeat it.
    if (!check.reasons.empty() || !check.signature->reasons.empty()) {
        found.clear();
    }
    for (const auto& [file, tag] : found) {
        const std::optional<uint32_t> verdict =
            CatalogTrust::WindowsVerdict(folder + catalog, tag, folder + file);
        if (verdict && *verdict != 0) {
            check.reasons.push_back(u"Windows refuses the file " + file + u" as a member of " +
                                    named + u" (WinVerifyTrust: error " + Hex32(*verdict) + u")");
        }
    }
    check.reasons.insert(check.reasons.end(), check.signature->reasons.begin(),
                         check.signature->reasons.end());
    return check;
}
