// The two forms of a removal's report: plain text, which InstallerRemove prints and the deploy
// program (InstallerDeploy) appends to the deployment log, so its lines stay as they are from
// release to release, and one JSON object.
#pragma once

#include <string>

#include "Removal.h"

// "removed", "removed, restart needed", "not removed", "nothing to remove" or, for a dry run,
// "dry run, nothing changed".
std::u16string RemovalResult(const Removal& removal);

std::u16string RemovalText(const Removal& removal);
std::u16string RemovalJson(const Removal& removal);
