#include "Signature.h"

#include <algorithm>

#include "CatalogCrypto.h"

namespace Signature {

namespace {

using CatalogCrypto::Bytes;
using CatalogCrypto::HashAlgorithm;

constexpr const char* kSha1 = "1.3.14.3.2.26";
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
// The usages a catalog Microsoft signs for hardware carries: Windows Hardware Driver
// Verification, and its attestation form.
constexpr const char* kHardwareDriver = "1.3.6.1.4.1.311.10.3.5";
constexpr const char* kHardwareAttestation = "1.3.6.1.4.1.311.10.3.5.1";

std::u16string Hex(const Bytes& bytes) {
    static const char16_t* digits = u"0123456789ABCDEF";
    std::u16string text;
    for (const uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::u16string Hex32(uint32_t value) {
    return u"0x" + Hex({static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

bool Hash(HashAlgorithm algorithm, const uint8_t* data, size_t size, Bytes* digest) {
    CatalogCrypto::Digest hash(algorithm);
    if (!hash.Ok()) {
        return false;
    }
    hash.Update(data, size);
    return hash.Finish(digest);
}

// The octets a signer's messageDigest covers: a content held in an OCTET STRING is digested as
// its octets are; any other content (a catalog's trust list) over its DER without the outer tag
// and length, as PKCS#7 digests a content of a type other than data.
bool DigestedOctets(const Bytes& content, bool octetString, const uint8_t** data, size_t* size) {
    if (octetString) {
        *data = content.data();
        *size = content.size();
        return true;
    }
    if (content.size() < 2) {
        return false;
    }
    size_t header = 2;
    size_t length = content[1];
    if (length & 0x80) {
        const size_t octets = length & 0x7f;
        if (octets == 0 || octets > 4 || content.size() < 2 + octets) {
            return false;
        }
        length = 0;
        for (size_t i = 0; i < octets; ++i) {
            length = (length << 8) | content[2 + i];
        }
        header += octets;
    }
    if (content.size() - header != length) {
        return false;
    }
    *data = content.data() + header;
    *size = length;
    return true;
}

// The problems of a chain, each as a reason of its own.
void ChainReasons(const SignatureFacts& facts, const CatalogTrust::Chain& chain,
                  const std::u16string& named, std::vector<std::u16string>* reasons) {
    const std::u16string whose = named + u"'s signer " + facts.signer;
    const std::u16string chainTo = whose + u" has a chain to " + facts.root;
    struct Known {
        uint32_t bit;
        std::u16string text;
    };
    const Known known[] = {
        {CatalogTrust::kUntrustedRoot,
         whose + u" chains to " + facts.root + u", which is not a trusted root (Root)"},
        {CatalogTrust::kPartialChain,
         whose + u" has an incomplete chain: no issuer is found above " + facts.root},
        {CatalogTrust::kNotTimeValid,
         chainTo + u" that holds a certificate that is expired or not yet valid"},
        {CatalogTrust::kSignatureNotValid,
         chainTo + u" that holds a certificate whose signature does not verify"},
        {CatalogTrust::kNotValidForUsage, chainTo + u" that is not valid for code signing"},
        {CatalogTrust::kRevoked, chainTo + u" that holds a revoked certificate"},
        {CatalogTrust::kCyclic, chainTo + u" that is cyclic"},
    };
    uint32_t rest = chain.problems;
    for (const Known& k : known) {
        if (chain.problems & k.bit) {
            reasons->push_back(k.text);
            rest &= ~k.bit;
        }
    }
    if (rest != 0) {
        reasons->push_back(chainTo + u" that has the problems " + Hex32(rest));
    }
    if (chain.problems == 0 && chain.authenticodeError != 0) {
        reasons->push_back(chainTo + u" that Windows' Authenticode policy refuses (error " +
                           Hex32(chain.authenticodeError) + u")");
    }
}

} // namespace

SignatureFacts CheckSignature(const uint8_t* data, size_t size, const std::u16string& named) {
    SignatureFacts facts;
    CatalogTrust::Signer signer;
    switch (CatalogTrust::ReadSigner(data, size, &signer)) {
    case CatalogTrust::SignerRead::Unreadable:
        facts.reasons.push_back(named + u" is not signed data that Windows can read");
        return facts;
    case CatalogTrust::SignerRead::NoSigner:
        facts.reasons.push_back(named + u" is not signed");
        return facts;
    case CatalogTrust::SignerRead::Read:
        break;
    }
    facts.isSigned = true;
    facts.certificate = signer.certificate;
    CatalogTrust::Certificate certificate;
    if (signer.certificate.empty() ||
        !CatalogTrust::DescribeCertificate(signer.certificate, &certificate)) {
        facts.reasons.push_back(named + u" does not hold its signer's certificate");
        return facts;
    }
    facts.signer = certificate.name;
    Bytes thumbprint;
    if (Hash(HashAlgorithm::Sha1, signer.certificate.data(), signer.certificate.size(),
             &thumbprint)) {
        facts.sha1 = Hex(thumbprint);
    }
    if (Hash(HashAlgorithm::Sha256, signer.certificate.data(), signer.certificate.size(),
             &thumbprint)) {
        facts.sha256 = Hex(thumbprint);
    }

    // The messageDigest against the content, compared here: the platform only checks the
    // signature over the attributes that hold it.
    const bool sha1 = signer.digestAlgorithm == kSha1;
    std::string contentType;
    Bytes content;
    bool octetString = false;
    const uint8_t* digested = nullptr;
    size_t digestedSize = 0;
    Bytes contentHash;
    if (!sha1 && signer.digestAlgorithm != kSha256) {
        facts.reasons.push_back(
            named + u"'s signer uses a digest algorithm (" +
            std::u16string(signer.digestAlgorithm.begin(), signer.digestAlgorithm.end()) +
            u") other than SHA1 and SHA256");
    } else if (!signer.messageDigest) {
        facts.reasons.push_back(named + u"'s signer has no messageDigest to check its content by");
    } else if (CatalogCrypto::SignedContent(data, size, &contentType, &content, &octetString) !=
                   CatalogCrypto::Message::SignedData ||
               !DigestedOctets(content, octetString, &digested, &digestedSize) ||
               !Hash(sha1 ? HashAlgorithm::Sha1 : HashAlgorithm::Sha256, digested, digestedSize,
                     &contentHash)) {
        facts.reasons.push_back(named + u"'s signed content could not be hashed");
    } else if (contentHash != *signer.messageDigest) {
        facts.reasons.push_back(named + u" was changed after it was signed: its content's hash "
                                        u"is not the one its signer signed");
    } else if (!signer.signatureVerifies) {
        facts.reasons.push_back(named + u"'s signature does not verify with its signer's "
                                        u"certificate");
    } else {
        facts.signatureHolds = true;
    }

    CatalogTrust::Chain chain;
    if (!CatalogTrust::BuildChain(data, size, signer.certificate, &chain) || !chain.built) {
        facts.reasons.push_back(u"Windows built no certificate chain for " + named + u"'s signer " +
                                facts.signer);
        return facts;
    }
    CatalogTrust::Certificate root;
    facts.root = CatalogTrust::DescribeCertificate(chain.root, &root) ? root.name : u"?";
    ChainReasons(facts, chain, named, &facts.reasons);
    facts.chainTrusted = chain.problems == 0 && chain.authenticodeError == 0;

    const auto uses = [&](const char* usage) {
        return std::find(certificate.usages.begin(), certificate.usages.end(), usage) !=
               certificate.usages.end();
    };
    facts.microsoftHardware = facts.chainTrusted && chain.microsoftRoot &&
                              (uses(kHardwareDriver) || uses(kHardwareAttestation));
    if (facts.microsoftHardware) {
        facts.publisherTrusted = true;
        return facts;
    }
    switch (CatalogTrust::InTrustedPublishers(signer.certificate)) {
    case CatalogTrust::Presence::Present:
        facts.publisherTrusted = true;
        break;
    case CatalogTrust::Presence::Absent:
        facts.reasons.push_back(
            named + u"'s signer " + facts.signer + u" (" + facts.sha1 +
            u") is not a trusted publisher (TrustedPublisher): an unattended install fails");
        break;
    case CatalogTrust::Presence::Unreadable:
        facts.reasons.push_back(u"the machine's trusted publishers (TrustedPublisher) could not "
                                u"be read to look for " +
                                named + u"'s signer " + facts.signer);
        break;
    }
    return facts;
}

std::u16string NormalThumbprint(const std::u16string& text) {
    std::u16string out;
    for (const char16_t c : text) {
        if (c == u' ') {
            continue;
        }
        if (c >= u'0' && c <= u'9') {
            out += c;
        } else if ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')) {
            out += static_cast<char16_t>(c & ~0x20);
        } else {
            return {};
        }
    }
    return out.size() == 40 || out.size() == 64 ? out : std::u16string();
}

} // namespace Signature
