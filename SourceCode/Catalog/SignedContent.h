// What the signature check does to any signed message, a catalog or the timestamp in it: compare
// its signer's messageDigest with the hash of the content it signs (which crypt32 on Wine never
// compares), and the hashes and texts the verdicts are given in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "CatalogCrypto.h"
#include "CatalogTrust.h"

namespace Signature {

enum class ContentCheck {
    Matches,          // the messageDigest is the hash of the signed content
    UnknownAlgorithm, // the signer's digest algorithm is neither SHA-1 nor SHA-256
    NoMessageDigest,  // the signer has no messageDigest attribute
    Unhashable,       // the content could not be read or hashed
    Differs,          // the content is not what was signed
};
// A PKCS#7 content of a type other than data (a catalog's trust list) is digested over its DER
// without its outer tag and length; a CMS one (`cms`: an RFC 3161 TSTInfo, which CMS holds in an
// OCTET STRING) over its whole DER, as is a content the message wraps in an OCTET STRING.
// `expectedType`, when not null, is the content type the message must hold (dotted), else
// Unhashable; `content` gets the content as SignedContent gives it.
ContentCheck CheckContent(const uint8_t* data, size_t size, const CatalogTrust::Signer& signer,
                          bool cms = false, const char* expectedType = nullptr,
                          CatalogCrypto::Bytes* content = nullptr);

// The hash algorithm an OID names, when it is SHA-1 or SHA-256.
bool HashAlgorithmOf(const std::string& oid, CatalogCrypto::HashAlgorithm* algorithm);
bool Hash(CatalogCrypto::HashAlgorithm algorithm, const uint8_t* data, size_t size,
          CatalogCrypto::Bytes* digest);
// Upper-case hex.
std::u16string Hex(const CatalogCrypto::Bytes& bytes);
// "0x800B0109": a 32-bit error or set of bits, upper-case, 8 digits.
std::u16string Hex32(uint32_t value);
// "2020-06-01 00:00:00 UTC" for seconds since 1970.
std::u16string TimeText(int64_t seconds);

} // namespace Signature
