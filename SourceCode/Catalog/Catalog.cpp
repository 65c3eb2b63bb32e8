#include "Catalog.h"

#include <algorithm>

namespace Catalog {

namespace {

using CatalogCrypto::HashAlgorithm;

constexpr const char* kTrustListContent = "1.3.6.1.4.1.311.10.1";
constexpr const char* kCatalogList = "1.3.6.1.4.1.311.12.1.1";
constexpr const char* kCatalogSha1 = "1.3.6.1.4.1.311.12.1.2";
constexpr const char* kCatalogSha256 = "1.3.6.1.4.1.311.12.1.3";
constexpr const char* kIndirectData = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kSha1 = "1.3.14.3.2.26";
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

CatalogContents NotCatalog(const char16_t* why) {
    CatalogContents contents;
    contents.whyNot = why;
    return contents;
}

} // namespace

CatalogContents ReadCatalog(const uint8_t* data, size_t size) {
    std::string contentType;
    CatalogCrypto::Bytes content;
    switch (CatalogCrypto::SignedContent(data, size, &contentType, &content)) {
    case CatalogCrypto::Message::Unreadable:
        return NotCatalog(u"it is not a PKCS#7 message");
    case CatalogCrypto::Message::NotSignedData:
        return NotCatalog(u"it is not PKCS#7 signed data");
    case CatalogCrypto::Message::SignedData:
        break;
    }
    if (contentType != kTrustListContent) {
        return NotCatalog(u"its content is not a certificate trust list");
    }
    CatalogCrypto::TrustList list;
    if (!CatalogCrypto::DecodeTrustList(content.data(), content.size(), &list)) {
        return NotCatalog(u"its certificate trust list does not decode");
    }
    if (std::find(list.usages.begin(), list.usages.end(), kCatalogList) == list.usages.end()) {
        return NotCatalog(u"its certificate trust list is not a catalog list");
    }
    CatalogContents contents;
    if (list.subjectAlgorithm == kCatalogSha1) {
        contents.listAlgorithm = HashAlgorithm::Sha1;
    } else if (list.subjectAlgorithm != kCatalogSha256) {
        return NotCatalog(u"its members' algorithm is neither SHA1 nor SHA256");
    }
    contents.isCatalog = true;
    for (const CatalogCrypto::TrustListEntry& entry : list.entries) {
        for (const CatalogCrypto::Attribute& attribute : entry.attributes) {
            if (attribute.type != kIndirectData) {
                continue;
            }
            for (const CatalogCrypto::Bytes& value : attribute.values) {
                std::string algorithm;
                CatalogCrypto::Bytes digest;
                if (!CatalogCrypto::DecodeIndirectDigest(value.data(), value.size(), &algorithm,
                                                         &digest)) {
                    continue;
                }
                if (algorithm == kSha1 && digest.size() == 20) {
                    contents.members.push_back({HashAlgorithm::Sha1, digest});
                } else if (algorithm == kSha256 && digest.size() == 32) {
                    contents.members.push_back({HashAlgorithm::Sha256, digest});
                }
            }
        }
    }
    return contents;
}

bool IsMember(const CatalogContents& catalog, const CatalogCrypto::Bytes& sha1,
              const CatalogCrypto::Bytes& sha256) {
    return std::any_of(catalog.members.begin(), catalog.members.end(), [&](const Member& member) {
        return member.digest == (member.algorithm == HashAlgorithm::Sha1 ? sha1 : sha256);
    });
}

std::u16string AlgorithmName(HashAlgorithm algorithm) {
    return algorithm == HashAlgorithm::Sha1 ? u"SHA1" : u"SHA256";
}

} // namespace Catalog
