// Shared by the fuzz targets: decoding an input, exactly sized copies, a scratch folder and
// property checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

// Reads a fuzz input as a small structured record: bytes, little-endian words and text, each
// read taking what is left and giving zeros once the input is used up, so that every input
// decodes to something.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }

    uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }

    uint16_t Half() {
        const uint8_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }

    uint32_t Word() {
        uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            value |= static_cast<uint32_t>(Byte()) << shift;
        }
        return value;
    }

    std::vector<uint8_t> Bytes(size_t count) {
        const size_t left = size_ - pos_;
        const size_t take = count < left ? count : left;
        std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + take);
        pos_ += take;
        return out;
    }

    std::vector<uint8_t> Rest() { return Bytes(size_ - pos_); }

    // Text of `count` units, one byte per unit: 0xFF followed by two bytes (little-endian)
    // stands for any other unit. Keeps seeds readable and mutations cheap.
    std::u16string Text(size_t count) {
        std::u16string text;
        while (text.size() < count && !Empty()) {
            text.push_back(Unit());
        }
        return text;
    }

    std::u16string RestText() {
        std::u16string text;
        while (!Empty()) {
            text.push_back(Unit());
        }
        return text;
    }

  private:
    char16_t Unit() {
        const uint8_t byte = Byte();
        return byte == 0xFF ? static_cast<char16_t>(Half()) : static_cast<char16_t>(byte);
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A terminated copy of `text` in a block of exactly its size, so that the sanitizer sees any
// read or write past the terminator.
inline std::unique_ptr<char16_t[]> ExactText(const std::u16string& text) {
    std::unique_ptr<char16_t[]> copy(new char16_t[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size() * sizeof(char16_t));
    copy[text.size()] = u'\0';
    return copy;
}

// A property that does not hold: says which and stops, so that the fuzzer keeps the input.
[[noreturn]] inline void FuzzFailure(const char* what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            FuzzFailure(#condition);                                                               \
        }                                                                                          \
    } while (false)

// A folder of this process's own for files the targets write, removed at exit. Under /dev/shm
// when there is one, so that the many small writes stay in memory.
inline const std::filesystem::path& ScratchFolder() {
    struct Folder {
        Folder() {
            std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/fuzz-XXXXXX"
                                                                            : "/tmp/fuzz-XXXXXX";
            if (mkdtemp(pattern.data()) == nullptr) {
                FuzzFailure("no scratch folder");
            }
            path = pattern;
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
    };
    static const Folder folder;
    return folder.path;
}

// The text with the case of every ASCII letter swapped: names that must match without regard
// to case are looked up this way too.
inline std::u16string SwapCase(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 0x20);
        } else if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c + 0x20);
        }
    }
    return text;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
