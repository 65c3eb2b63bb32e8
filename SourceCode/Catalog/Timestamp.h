// A catalog signer's RFC 3161 timestamp: the time at which a time stamping authority vouches
// that the signature existed. The catalog's chain is then judged at that time, so that a signer
// whose certificate has expired since still counts. The timestamp holds when it is signed data
// of a TSTInfo whose messageDigest and signature verify, whose imprint is the hash of the
// catalog signer's signature, and whose signer chains, for time stamping, to a trusted root as
// valid at that time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CatalogTrust.h"

namespace Signature {

// The time of `signer`'s first timestamp, when it holds; nullopt when it has none or it does not
// hold (then with a reason in `reasons`, naming the catalog as `named`).
std::optional<int64_t> CheckTimestamp(const CatalogTrust::Signer& signer,
                                      const std::u16string& named,
                                      std::vector<std::u16string>* reasons);

} // namespace Signature
