#include "Timestamp.h"

#include "SignedContent.h"

namespace Signature {

namespace {

constexpr const char* kTstInfo = "1.2.840.113549.1.9.16.1.4";

} // namespace

std::optional<int64_t> CheckTimestamp(const CatalogTrust::Signer& signer,
                                      const std::u16string& named,
                                      std::vector<std::u16string>* reasons) {
    if (signer.timestamps.empty()) {
        return std::nullopt;
    }
    const CatalogTrust::Bytes& token = signer.timestamps.front();
    const std::u16string why = named + u"'s timestamp does not hold: ";
    CatalogTrust::Signer stamper;
    if (CatalogTrust::ReadSigner(token.data(), token.size(), &stamper) !=
            CatalogTrust::SignerRead::Read ||
        stamper.certificate.empty()) {
        reasons->push_back(why + u"it is not signed data with its signer's certificate");
        return std::nullopt;
    }
    CatalogCrypto::Bytes content;
    if (CheckContent(token.data(), token.size(), stamper, true, kTstInfo, &content) !=
            ContentCheck::Matches ||
        !stamper.signatureVerifies) {
        reasons->push_back(why + u"its signature does not verify");
        return std::nullopt;
    }
    std::string imprintAlgorithm;
    CatalogCrypto::Bytes imprint;
    int64_t time = 0;
    CatalogCrypto::HashAlgorithm algorithm;
    CatalogCrypto::Bytes signature;
    if (!CatalogCrypto::DecodeTimestampInfo(content.data(), content.size(), &imprintAlgorithm,
                                            &imprint, &time) ||
        !HashAlgorithmOf(imprintAlgorithm, &algorithm) ||
        !Hash(algorithm, signer.encryptedDigest.data(), signer.encryptedDigest.size(),
              &signature) ||
        signature != imprint) {
        reasons->push_back(why + u"it is not a timestamp of the catalog's signature");
        return std::nullopt;
    }
    CatalogTrust::Chain chain;
    CatalogTrust::Certificate authority;
    const std::u16string name = CatalogTrust::DescribeCertificate(stamper.certificate, &authority)
                                    ? authority.name
                                    : std::u16string(u"?");
    if (!CatalogTrust::BuildChain(token.data(), token.size(), stamper.certificate,
                                  CatalogTrust::Usage::TimeStamping, time, &chain) ||
        !chain.built || chain.problems != 0) {
        reasons->push_back(why + u"its signer " + name +
                           u" is not a time stamping authority that chains to a trusted root "
                           u"as at " +
                           TimeText(time));
        return std::nullopt;
    }
    return time;
}

} // namespace Signature
