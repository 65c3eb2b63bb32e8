// The INF named on the command line and its staged copy in the system's INF folder. Only reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Larger INFs are refused rather than read: real ones are a few hundred KiB at most.
inline constexpr uint64_t kMaxInfBytes = 64ull * 1024 * 1024;

enum class InfRead {
    Ok,
    BadArgument, // not a full path, names nothing, a folder or not a plain file, or too large: a
                 // wrong command line
    Unreadable,  // it is there but could not be read
};

// Reads the whole INF into `bytes`. Otherwise `problem` says what is wrong with it.
InfRead ReadRequestedInf(const std::u16string& path, std::vector<uint8_t>* bytes,
                         std::u16string* problem);

// Looks in the INF folder for the copies the system published for the INF named `infName` (its
// file name) with exactly `bytes`: a copy counts when its name is a published one (oem<N>.inf on
// Windows; Wine keeps an INF's own name when it is free), it holds those bytes, and the Setup
// API names `infName` as its original name, or no other name than the copy's own (Wine, which
// keeps no original names). Another INF that happens to hold the same bytes, or a copy published
// for another INF, is another package and never counts. True when the folder could be searched:
// `names` holds the copies' names then, in the order the search gave them (normally one; none when
// the INF is not staged), and `folder` the folder searched. False, with `problem`, when it could
// not be searched or a candidate copy or its original name could not be read.
bool FindStagedCopies(const std::vector<uint8_t>& bytes, const std::u16string& infName,
                      std::u16string* folder, std::vector<std::u16string>* names,
                      std::u16string* problem);

// oem<N>.inf (any case, N decimal digits), or `infName` itself.
bool IsPublishedName(const std::u16string& name, const std::u16string& infName);

// "C:\x", "C:/x", "\\server\share" or, for the simulator, "/x".
bool IsFullPath(const std::u16string& path);

// The part after the last backslash or slash.
std::u16string BaseName(const std::u16string& path);

// Equal when the letters A to Z equal a to z, as the system compares file names it stages.
bool SameName(const std::u16string& a, const std::u16string& b);

// True when a driver key's "InfPath" `driverInf` names the staged copy `copy`: the key names it by
// its file name, so only that part is compared.
bool NamesCopy(const std::u16string& driverInf, const std::u16string& copy);
