#include "DeployLogFile.h"

#include <algorithm>

#include "LocalClock.h"

std::u16string RolledOverName(const std::u16string& log) {
    const size_t slash = log.find_last_of(u"\\/");
    const size_t dot = log.find_last_of(u'.');
    const bool extension =
        dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
    return (extension ? log.substr(0, dot) : log) + u".old";
}

// Holding the file keeps every other writer out, so what it tells about its size stays true
// until it is closed: a full log is renamed through it, then the loop opens the fresh one.
LogWrite AppendRecord(const std::u16string& log, std::string_view record, uint64_t rollBytes) {
    LogWrite outcome{SafeFile::FileResult::SharingViolation, false};
    SafeFile::AppendFile file;
    uint32_t waited = 0;
    uint32_t delay = 5;
    bool rolled = false;
    for (;;) {
        outcome.result = file.Open(log);
        if (outcome.result == SafeFile::FileResult::SharingViolation) {
            if (waited >= kDeployLogRetryMilliseconds) {
                return outcome;
            }
            LocalClock::Pause(delay);
            waited += delay;
            delay = std::min<uint32_t>(delay * 2, 250);
            continue;
        }
        if (outcome.result != SafeFile::FileResult::Done) {
            return outcome;
        }
        const std::optional<uint64_t> size = file.Size();
        if (!rolled && size && *size >= rollBytes) {
            rolled = true;
            if (file.RenameTo(RolledOverName(log))) {
                file.Close();
                continue;
            }
            outcome.rollFailed = true;
        }
        outcome.result = file.Append(record.data(), record.size());
        return outcome;
    }
}
