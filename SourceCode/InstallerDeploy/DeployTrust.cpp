#include "DeployTrust.h"

#include <memory>

#include "Catalog.h"
#include "DeployPlatform.h"
#include "InfServices.h"
#include "Numbers.h"
#include "SafeFile.h"
#include "Signature.h"
#include "SystemInf.h"

namespace {

// Built by appending: GCC 12's -Wrestrict misreads "\"" + std::string&&.
std::string Quoted(const std::u16string& text) {
    std::string quoted(1, '"');
    quoted += Utf8(text);
    quoted += '"';
    return quoted;
}

// The signer as the log names it: "<name>" (SHA-1 <thumbprint>).
std::string SignerText(const Signature::SignatureFacts& facts) {
    return Quoted(facts.signer) + " (SHA-1 " + Utf8(facts.sha1) + ")";
}

std::string Refusal(const std::string& why) {
    return "Deploy: /trustpublisher: " + why + "; no publisher was trusted, nothing was changed.";
}

// Why the catalog's signer is not the publisher to trust; empty when it is.
std::string WhyNot(const Signature::SignatureFacts& facts, const std::u16string& wanted,
                   const std::string& catalog) {
    const std::string signer = SignerText(facts);
    if (!facts.isSigned) {
        return "the catalog " + catalog + " has no signer (unsigned, or not a catalog)";
    }
    if (!facts.signatureHolds || facts.certificate.empty()) {
        return "the signature of the catalog " + catalog + " does not hold";
    }
    if (!facts.chainTrusted) {
        return "the catalog's signer " + signer + " does not chain to a trusted root";
    }
    if (wanted != facts.sha1 && wanted != facts.sha256) {
        return "the catalog is signed by " + signer + ", not by the certificate " + Utf8(wanted);
    }
    return {};
}

} // namespace

bool TrustNamedPublisher(const std::u16string& inf, const std::u16string& thumbprint,
                         DeployRecord* record) {
    const std::u16string wanted = Signature::NormalThumbprint(thumbprint);
    if (wanted.empty()) {
        record->Say("Deploy: /trustpublisher takes a certificate's SHA-1 thumbprint (40 hex "
                    "digits) or SHA-256 thumbprint (64 hex digits), not " +
                    Quoted(thumbprint) + "; nothing was changed.");
        return false;
    }
    const NamedCatalog named = CatalogNamed(inf);
    if (!named.opened) {
        record->Say(Refusal("the INF does not open as a Windows NT INF (error 0x" +
                            Utf8(Text::Hex(named.openError)) + ")"));
        return false;
    }
    if (named.name.empty()) {
        record->Say(Refusal("the INF names no catalog for " +
                            Utf8(InfRules::PlatformDecoration(named.platform))));
        return false;
    }
    const std::u16string& path = named.path;
    const std::string catalog = Quoted(path);
    std::string bytes;
    if (!SafeFile::ReadPlainFile(path, 0, Catalog::kMostCatalogBytes + 1, &bytes) ||
        bytes.size() > Catalog::kMostCatalogBytes) {
        record->Say(Refusal("the catalog " + catalog +
                            " could not be read as a plain file of at most 64 MiB"));
        return false;
    }
    const Signature::SignatureFacts facts =
        Signature::CheckSignature(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                  u"the catalog " + named.name + u" (" + named.key + u")");
    const std::string why = WhyNot(facts, wanted, catalog);
    if (!why.empty()) {
        record->Say(Refusal(why));
        return false;
    }
    const std::string signer = SignerText(facts);
    if (facts.publisherTrusted) {
        record->Add("trusted publisher: " + signer + " is trusted already; nothing was added.");
        return true;
    }
    const uint32_t error = DeployPlatform::AddTrustedPublisher(facts.certificate);
    if (error != 0) {
        record->Say("Deploy: /trustpublisher: could not add " + signer +
                    " to the machine's TrustedPublisher store: error " + std::to_string(error) +
                    "; nothing was changed.");
        return false;
    }
    record->Add("trusted publisher: added " + signer + " to LocalMachine TrustedPublisher");
    return true;
}
