// Whether Windows will trust a catalog's signature for an unattended install, and why not: the
// signer's messageDigest against the signed content's hash, the signature, the chain to a root in
// LocalMachine Root, and the publisher (a catalog Microsoft signed for hardware, or a signer in
// LocalMachine TrustedPublisher). The platform answers each question (CatalogTrust.h); what the
// answers mean is decided here, the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CatalogTrust.h"

namespace Signature {

struct SignatureFacts {
    bool isSigned = false;          // the catalog has a signer
    bool signatureHolds = false;    // its messageDigest and its signature both verify
    bool chainTrusted = false;      // its chain ends at a trusted root, with no problem
    bool publisherTrusted = false;  // trusted for an unattended install (either way below)
    bool microsoftHardware = false; // signed by Microsoft for hardware
    std::u16string signer;          // the signer's name; empty when not known
    std::u16string sha1;            // its thumbprints, upper-case hex
    std::u16string sha256;
    std::u16string root;                 // the chain's root's name; empty when no chain was built
    CatalogTrust::Bytes certificate;     // the signer's certificate, DER
    std::vector<std::u16string> reasons; // each a reason an unattended install fails
};

// Checks the signature of the catalog in `data`. `named` names it in the reasons ("the catalog
// pkg.cat (CatalogFile)").
SignatureFacts CheckSignature(const uint8_t* data, size_t size, const std::u16string& named);

// A thumbprint as a user gives it ("a1 b2 ..."): upper-case hex without spaces, when it is 40 or
// 64 hex digits once spaces are left out; else empty.
std::u16string NormalThumbprint(const std::u16string& text);

} // namespace Signature
