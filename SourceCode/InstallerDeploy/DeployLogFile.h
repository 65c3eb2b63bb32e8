// The deployment log on disk: each deployment's record is gathered while it runs and written in
// one append at its end, so that the records of deployments that run at the same time never mix
// and a viewer sees only whole records. The log is rolled over to its one .old file once it has
// reached kDeployLogRollBytes, through the open file and only while its name still leads to it,
// so that two deployments never roll over the same history twice.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "SafeFile.h"

// Beyond this size the log is rolled over at the next record.
inline constexpr uint64_t kDeployLogRollBytes = 1024 * 1024;
// A writer that finds the log held by another retries for about this long in all.
inline constexpr uint32_t kDeployLogRetryMilliseconds = 2000;

// The name the log is rolled over to: its extension replaced by ".old" ("Deploy.log" gives
// "Deploy.old"; a name without one gains it).
std::u16string RolledOverName(const std::u16string& log);

struct LogWrite {
    SafeFile::FileResult result; // Done: the record is in the log, whole
    bool rollFailed;             // the log was full but could not be rolled over
};
// Appends `record` (lines already ended by CR LF) to `log` whole or not at all, rolling the log
// over first when it has reached `rollBytes`; another writer holding it is waited for, with a
// bounded backoff.
LogWrite AppendRecord(const std::u16string& log, std::string_view record,
                      uint64_t rollBytes = kDeployLogRollBytes);
