// The platform's answers about a catalog's signature: its signer, the signer's certificate, the
// chain that certificate builds to a root, and the machine's stores. CatalogTrust-win32.cpp asks
// crypt32 (CryptMsg*, CertGetCertificateChain, CertVerifyCertificateChainPolicy, the LocalMachine
// system stores) and wintrust (WinVerifyTrust), all bound at run time from the system folder;
// CatalogTrust-host.cpp stands in with OpenSSL and the simulated machine's [trust] section.
// Nothing here decides what an answer means for an install: Signature.cpp does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace CatalogTrust {

using Bytes = std::vector<uint8_t>;

enum class SignerRead {
    Unreadable, // not signed data the platform decodes
    NoSigner,   // signed data without a signer: an unsigned catalog
    Read,       // the first signer, in `Signer`
};

struct Signer {
    std::string digestAlgorithm;        // the signer's digest algorithm, dotted OID
    std::optional<Bytes> messageDigest; // its authenticated messageDigest attribute's value
    Bytes certificate; // the DER of the signer's certificate from the message; empty: not there
    // The signature over the authenticated attributes verifies with that certificate's key. The
    // messageDigest is not compared with the content here (crypt32 on Wine never does).
    bool signatureVerifies = false;
    Bytes encryptedDigest; // the signature itself, which a timestamp's imprint covers
    // The DER of each RFC 3161 timestamp (a ContentInfo of signed data) in its unauthenticated
    // attributes (1.3.6.1.4.1.311.3.3.1).
    std::vector<Bytes> timestamps;
};

// Reads the first signer of the PKCS#7 message in `data`.
SignerRead ReadSigner(const uint8_t* data, size_t size, Signer* signer);

struct Certificate {
    std::u16string name;             // the subject's simple display name
    std::vector<std::string> usages; // its enhanced key usages, dotted; empty: none named
};
// Decodes a certificate's DER; false when it is not one.
bool DescribeCertificate(const Bytes& der, Certificate* certificate);

// The problems a chain can have, as CERT_TRUST_STATUS's dwErrorStatus gives them; the host
// stand-in reports the same bits.
enum ChainProblem : uint32_t {
    kNotTimeValid = 0x1,
    kRevoked = 0x4,
    kSignatureNotValid = 0x8,
    kNotValidForUsage = 0x10,
    kUntrustedRoot = 0x20,
    kCyclic = 0x80,
    kPartialChain = 0x10000,
};

struct Chain {
    bool built = false;    // false: the platform built no chain at all
    uint32_t problems = 0; // ChainProblem bits of the whole chain
    Bytes root;            // the DER of the chain's last certificate (empty when not built)
    uint32_t authenticodeError = 0; // the Authenticode policy's verdict: 0, or its HRESULT
    bool microsoftRoot = false;     // the Microsoft-root policy passes
};

enum class Usage { CodeSigning, TimeStamping };

// Builds the chain of `certificate` for `usage` (code signing also takes the hardware-driver
// usage), the certificates in the message `catalog` as the intermediates it may use, up to a root
// in the LocalMachine Root store, as valid at `at` (seconds since 1970, UTC; nullopt: now).
// Revocation is not checked: an offline install cannot ask.
bool BuildChain(const uint8_t* catalog, size_t size, const Bytes& certificate, Usage usage,
                std::optional<int64_t> at, Chain* chain);

enum class Presence { Present, Absent, Unreadable };
// Whether exactly this certificate is in the LocalMachine TrustedPublisher store.
Presence InTrustedPublishers(const Bytes& certificate);

// Windows' own verdict on a catalog member, where the system has WinVerifyTrust
// (DRIVER_ACTION_VERIFY, the catalog choice): 0 when it trusts it, else its error. nullopt where
// it cannot be asked (the host, a system without the call). Wine's answers 0 for nearly anything
// signed: only a refusal is ever taken into account.
std::optional<uint32_t> WindowsVerdict(const std::u16string& catalogPath,
                                       const std::u16string& memberTag,
                                       const std::u16string& memberPath);

} // namespace CatalogTrust
