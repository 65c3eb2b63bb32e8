// /trustpublisher: the catalog's signer added to the machine's TrustedPublisher store before the
// pre-flight, so that an unattended install of a package signed with a company's own certificate
// does not stop at the question whether to trust its publisher. Only the certificate that the
// administrator named by its thumbprint is added, and only when the catalog's signature holds
// and its chain ends at a trusted root; otherwise nothing is.
#pragma once

#include <string>

#include "DeployRecord.h"

// Adds the signer of the catalog that `inf` names for the machine's platform to LocalMachine
// TrustedPublisher when the signature holds, its chain is trusted and the signer's SHA-1 or
// SHA-256 thumbprint is `thumbprint` (any letter case, spaces ignored), and records what was
// added. False, with the reason said, when nothing was added and the deployment stops there.
bool TrustNamedPublisher(const std::u16string& inf, const std::u16string& thumbprint,
                         DeployRecord* record);
