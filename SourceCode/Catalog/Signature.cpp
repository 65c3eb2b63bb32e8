#include "Signature.h"

#include <algorithm>

#include "CatalogCrypto.h"
#include "SignedContent.h"
#include "Timestamp.h"

namespace Signature {

namespace {

using CatalogCrypto::Bytes;
using CatalogCrypto::HashAlgorithm;

// The usages a catalog Microsoft signs for hardware carries: Windows Hardware Driver
// Verification, and its attestation form.
constexpr const char* kHardwareDriver = "1.3.6.1.4.1.311.10.3.5";
constexpr const char* kHardwareAttestation = "1.3.6.1.4.1.311.10.3.5.1";

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
    switch (CheckContent(data, size, signer)) {
    case ContentCheck::UnknownAlgorithm:
        facts.reasons.push_back(
            named + u"'s signer uses a digest algorithm (" +
            std::u16string(signer.digestAlgorithm.begin(), signer.digestAlgorithm.end()) +
            u") other than SHA1 and SHA256");
        break;
    case ContentCheck::NoMessageDigest:
        facts.reasons.push_back(named + u"'s signer has no messageDigest to check its content by");
        break;
    case ContentCheck::Unhashable:
        facts.reasons.push_back(named + u"'s signed content could not be hashed");
        break;
    case ContentCheck::Differs:
        facts.reasons.push_back(named + u" was changed after it was signed: its content's hash "
                                        u"is not the one its signer signed");
        break;
    case ContentCheck::Matches:
        if (!signer.signatureVerifies) {
            facts.reasons.push_back(named + u"'s signature does not verify with its signer's "
                                            u"certificate");
        } else {
            facts.signatureHolds = true;
        }
        break;
    }

    // A timestamp that holds sets the time the chain is judged at.
    const std::optional<int64_t> at =
        facts.signatureHolds ? CheckTimestamp(signer, named, &facts.reasons) : std::nullopt;
    if (at) {
        facts.timestamp = TimeText(*at);
    }
    CatalogTrust::Chain chain;
    if (!CatalogTrust::BuildChain(data, size, signer.certificate, CatalogTrust::Usage::CodeSigning,
                                  at, &chain) ||
        !chain.built) {
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
