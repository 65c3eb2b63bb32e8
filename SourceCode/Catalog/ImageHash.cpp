#include "ImageHash.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "SafeFile.h"

namespace Catalog {

namespace {

uint32_t Le32(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

uint16_t Le16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

} // namespace

bool ImageExcludedRanges(const uint8_t* head, size_t headSize, uint64_t fileSize,
                         std::vector<Range>* excluded) {
    excluded->clear();
    if (headSize < 0x40 || head[0] != 'M' || head[1] != 'Z') {
        return false;
    }
    const uint64_t pe = Le32(head + 0x3C);
    const uint64_t optional = pe + 24;
    if (optional + 2 > headSize || head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 ||
        head[pe + 3] != 0) {
        return false;
    }
    uint64_t countAt = 0;
    uint64_t directories = 0;
    switch (Le16(head + optional)) {
    case 0x10B: // PE32
        countAt = optional + 92;
        directories = optional + 96;
        break;
    case 0x20B: // PE32+
        countAt = optional + 108;
        directories = optional + 112;
        break;
    default:
        return false;
    }
    if (directories > headSize) {
        return false;
    }
    excluded->push_back({optional + 64, 4}); // CheckSum
    // The certificate table's entry is the fifth of the data directory (IMAGE_DIRECTORY_ENTRY_
    // SECURITY), there when the directory counts more than four entries.
    const uint64_t entry = directories + 4 * 8;
    if (Le32(head + countAt) > 4 && entry + 8 <= headSize) {
        excluded->push_back({entry, 8});
        const uint64_t table = Le32(head + entry);
        const uint64_t size = Le32(head + entry + 4);
        if (size != 0 && table >= entry + 8 && table + size <= fileSize) {
            excluded->push_back({table, size});
        }
    }
    return true;
}

FileHashResult HashFile(const std::u16string& path, bool sha1, bool sha256, FileHash* hash) {
    *hash = {};
    SafeFile::PlainFileReader file;
    if (!file.Open(path)) {
        return FileHashResult::NotRead;
    }
    std::optional<CatalogCrypto::Digest> one;
    std::optional<CatalogCrypto::Digest> two;
    if (sha1) {
        one.emplace(CatalogCrypto::HashAlgorithm::Sha1);
    }
    if (sha256) {
        two.emplace(CatalogCrypto::HashAlgorithm::Sha256);
    }
    const std::unique_ptr<char[]> block(new char[kHashBlock]);
    const auto* bytes = reinterpret_cast<const uint8_t*>(block.get());
    const auto update = [&](uint64_t from, uint64_t to, uint64_t blockStart) {
        if (to > from) {
            const uint8_t* at = bytes + (from - blockStart);
            if (one) {
                one->Update(at, static_cast<size_t>(to - from));
            }
            if (two) {
                two->Update(at, static_cast<size_t>(to - from));
            }
        }
    };
    std::vector<Range> excluded;
    uint64_t offset = 0;
    for (bool first = true;; first = false) {
        size_t read = 0;
        if (!file.Read(block.get(), kHashBlock, &read)) {
            return FileHashResult::NotRead;
        }
        if (first) {
            hash->image = ImageExcludedRanges(bytes, read, file.Size(), &excluded);
        }
        if (read == 0) {
            break;
        }
        // The block's bytes outside the excluded ranges (which are in file order and apart).
        const uint64_t end = offset + read;
        uint64_t at = offset;
        for (const Range& range : excluded) {
            const uint64_t cut = std::clamp(range.offset, at, end);
            update(at, cut, offset);
            at = std::max(at, std::min(end, range.offset + range.length));
        }
        update(at, end, offset);
        offset = end;
    }
    if ((one && !one->Finish(&hash->sha1)) || (two && !two->Finish(&hash->sha256))) {
        return FileHashResult::HashFailed;
    }
    return FileHashResult::Done;
}

} // namespace Catalog
