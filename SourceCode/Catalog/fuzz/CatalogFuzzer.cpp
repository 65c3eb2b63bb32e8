// The catalog reader fed arbitrary bytes, as a package's catalog file may hold anything.
//
// Always: no crash and no read of freed or foreign memory (the sanitizers); a catalog gives no
// reason, anything else a reason and no members; each member's digest has its algorithm's size.
#include "Catalog.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Catalog::CatalogContents contents = Catalog::ReadCatalog(data, size);
    FUZZ_CHECK(contents.isCatalog == contents.whyNot.empty());
    FUZZ_CHECK(contents.isCatalog || contents.members.empty());
    for (const Catalog::Member& member : contents.members) {
        FUZZ_CHECK(member.digest.size() ==
                   (member.algorithm == CatalogCrypto::HashAlgorithm::Sha1 ? 20u : 32u));
    }
    return 0;
}
