// The hash of a package file as a catalog holds it: a PE image by its Authenticode image hash,
// any other file over its bytes. The file is read once, from start to end, in blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CatalogCrypto.h"

namespace Catalog {

// A part of a file, in bytes.
struct Range {
    uint64_t offset;
    uint64_t length;
};

// The parts of a PE image that its Authenticode image hash leaves out, in file order: the
// optional header's CheckSum, the certificate-table entry of its data directory and the
// certificate table that entry points at (its address is a file offset). `head` is the file's
// start, `fileSize` its whole size. False: not a PE image (no MZ and PE signatures, an unknown
// optional header, or headers past `head`), to be hashed over its bytes.
bool ImageExcludedRanges(const uint8_t* head, size_t headSize, uint64_t fileSize,
                         std::vector<Range>* excluded);

enum class FileHashResult {
    Done,
    NotRead,    // not a plain file, or the system failed a read
    HashFailed, // the platform could not hash
};

struct FileHash {
    bool image = false; // hashed as a PE image
    CatalogCrypto::Bytes sha1;
    CatalogCrypto::Bytes sha256;
};

// Hashes the plain file at `path` with each of the algorithms asked for (`sha1`, `sha256`),
// reading it once in blocks.
FileHashResult HashFile(const std::u16string& path, bool sha1, bool sha256, FileHash* hash);

// The size of the blocks HashFile reads, and of the start it looks for the PE headers in.
inline constexpr size_t kHashBlock = 1 << 20;

} // namespace Catalog
