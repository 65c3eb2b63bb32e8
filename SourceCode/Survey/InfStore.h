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

// A copy in the INF folder under a published name with exactly the INF's bytes that is another
// package's: published for another INF name, or staged with another catalog.
struct ForeignCopy {
    std::u16string name;
    std::u16string why; // "published for other.inf", "its catalog ... is not the package's", ...
};

// Looks in the INF folder for the copies the system published for the INF at `infPath` with
// exactly `bytes`. A copy is the package's when its name is a published one (IsPublishedName), it
// holds those bytes, the Setup API names the INF's file name as its original name (names compared
// as the file system compares them), or, for an oem<N>.inf, no other name than the copy's own
// (Wine keeps none; any other name under Wine is its publication of the INF of that name), and the
// catalog that the driver store keeps with it is the package's catalog, byte for byte (a package
// whose INF names no catalog, or whose catalog is not beside the INF, has no copy). An INF given
// inside the INF folder is a copy itself: it is the package's, its original name stands for the
// INF's name and the catalog the store keeps with it for the package's. A copy under a published
// name with the INF's bytes that fails the rest goes to `foreign`, with why: another package.
// True when the folder could be searched: `names` holds the package's copies then, in the order
// the search gave them (normally one; none when the INF is not staged), and `folder` the folder
// searched. False, with `problem`, when it could not be searched or a candidate copy or its
// original name could not be read.
bool FindStagedCopies(const std::vector<uint8_t>& bytes, const std::u16string& infPath,
                      std::u16string* folder, std::vector<std::u16string>* names,
                      std::vector<ForeignCopy>* foreign, std::u16string* problem);

// oem<N>.inf (any case, N decimal digits).
bool IsOemName(const std::u16string& name);
// A name the system may have published a copy under: oem<N>.inf; under Wine, which publishes a
// copy under the INF's own name when it is free, any name.
bool IsPublishedName(const std::u16string& name);

// "C:\x", "C:/x", "\\server\share" or, for the simulator, "/x".
bool IsFullPath(const std::u16string& path);

// The part after the last backslash or slash.
std::u16string BaseName(const std::u16string& path);

// Equal as the file system compares names: case is ignored for every letter, not only A to Z.
bool SameName(const std::u16string& a, const std::u16string& b);

// True when a driver key's "InfPath" `driverInf` names the staged copy `copy`: the key names it by
// its file name, so only that part is compared.
bool NamesCopy(const std::u16string& driverInf, const std::u16string& copy);
