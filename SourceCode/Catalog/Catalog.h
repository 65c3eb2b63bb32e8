// A driver package's catalog as the pre-flight reads it: whether it is a catalog (PKCS#7 signed
// data whose content is a certificate trust list of catalog usage) and its members' hashes, each
// with the algorithm its indirect data names. The decoding is the platform's (CatalogCrypto.h);
// what counts as a catalog and a member is decided here. Its signature is not looked at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CatalogCrypto.h"

namespace Catalog {

// A catalog's size, at most: the largest known ones hold some tens of thousands of members in a
// few MiB. A larger file is not read as one.
inline constexpr uint64_t kMostCatalogBytes = 64ull << 20;

struct Member {
    CatalogCrypto::HashAlgorithm algorithm;
    CatalogCrypto::Bytes digest;
};

struct CatalogContents {
    bool isCatalog = false;
    std::u16string whyNot; // when it is not: "it is not a PKCS#7 message", ...
    // The hash algorithm the trust list names for its members (SHA-1 for catalogs of version 1,
    // SHA-256 for version 2).
    CatalogCrypto::HashAlgorithm listAlgorithm = CatalogCrypto::HashAlgorithm::Sha256;
    std::vector<Member> members; // those whose indirect data names SHA-1 or SHA-256
};

// Reads the bytes of a catalog file. Never fails on any input: what is not a catalog says why.
CatalogContents ReadCatalog(const uint8_t* data, size_t size);

// Whether a file with these hashes is a member.
bool IsMember(const CatalogContents& catalog, const CatalogCrypto::Bytes& sha1,
              const CatalogCrypto::Bytes& sha256);

// "SHA1", "SHA256"
std::u16string AlgorithmName(CatalogCrypto::HashAlgorithm algorithm);

} // namespace Catalog
