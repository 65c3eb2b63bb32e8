#include "DeployResult.h"

namespace {

struct Outcome {
    int64_t programCode; // -1: no program gives it
    int deployCode;
    const char* meaning;
};

constexpr Outcome kOutcomes[] = {
    {0, kDeployDone, "done and verified"},
    {4, kDeployRestartNeeded, "done, restart needed"},
    {1, kDeployNotDone, "not done"},
    {2, kDeployWrongCommandLine, "wrong command line"},
    {3, kDeployStateUnreadable, "device state unreadable"},
    {-1, kDeployUnsupported, "platform the package has no programs for"},
};

} // namespace

int DeployCodeFor(StepCode step, bool* known) {
    for (const Outcome& outcome : kOutcomes) {
        if (step.started && outcome.programCode == int64_t{step.code}) {
            if (known != nullptr) {
                *known = true;
            }
            return outcome.deployCode;
        }
    }
    if (known != nullptr) {
        *known = false;
    }
    return kDeployNotDone;
}

const char* DeployResultMeaning(int code) {
    for (const Outcome& outcome : kOutcomes) {
        if (outcome.deployCode == code) {
            return outcome.meaning;
        }
    }
    return "unknown";
}
