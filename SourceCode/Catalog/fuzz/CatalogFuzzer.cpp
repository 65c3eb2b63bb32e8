// The catalog reader and the signature check fed arbitrary bytes, as a package's catalog file may
// hold anything.
//
// Always: no crash and no read of freed or foreign memory (the sanitizers); a catalog gives no
// reason, anything else a reason and no members; each member's digest has its algorithm's size;
// a signature is trusted only with no reason, and only when signed with a signer's certificate.
#include "Catalog.h"
#include "DeviceSimulator.h"
#include "FuzzSupport.h"
#include "Signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Catalog::CatalogContents contents = Catalog::ReadCatalog(data, size);
    FUZZ_CHECK(contents.isCatalog == contents.whyNot.empty());
    FUZZ_CHECK(contents.isCatalog || contents.members.empty());
    for (const Catalog::Member& member : contents.members) {
        FUZZ_CHECK(member.digest.size() ==
                   (member.algorithm == CatalogCrypto::HashAlgorithm::Sha1 ? 20u : 32u));
    }
    // A machine that trusts nothing: no chain can end well, so every signed input has a reason.
    static const bool machine = (DevSim::UseMachine(DevSim::Machine{}), true);
    (void)machine;
    const Signature::SignatureFacts facts = Signature::CheckSignature(data, size, u"the catalog");
    FUZZ_CHECK(!facts.reasons.empty());
    FUZZ_CHECK(!facts.chainTrusted && !facts.publisherTrusted);
    FUZZ_CHECK(facts.isSigned || facts.certificate.empty());
    FUZZ_CHECK(facts.isSigned || (facts.sha1.empty() && facts.signer.empty()));
    return 0;
}
