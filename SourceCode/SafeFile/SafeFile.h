// Files as the programs use them beside their core: an append that never follows a link and never
// leaves part of a write behind, and sizes and reads of plain files. SafeFile-win32.cpp calls the
// Windows functions; SafeFile-host.cpp stands in on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace SafeFile {

enum class FileResult {
    Done,
    SharingViolation, // another writer holds the file (or it was renamed meanwhile): try again
    NotPlain,         // a link, a file with more than one name, a folder, a device or a pipe
    NotOpened,        // no such folder, no access, or another reason the system gave
    WriteFailed,      // not all bytes could be written; none of them were left in the file
};

// A file held open for appending. Readers may open it meanwhile, with read or full sharing, and
// never block it; another writer cannot open it until it is closed. Closed when destroyed.
class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path`, creating the file when the name is free. The name is never followed: a
    // symbolic link, junction or other reparse point at it, a file with more than one hard link,
    // or anything but a plain disk file gives NotPlain and is left as it was. SharingViolation
    // when another writer holds the file, or when the name stopped leading to the file opened.
    FileResult Open(const std::u16string& path);
    bool IsOpen() const { return handle_ != kNone; }
    // The size of the open file, as the file itself tells it (never by its name).
    std::optional<uint64_t> Size() const;
    // Appends all `count` bytes, or nothing: a write that stops part way (a full disk, a size
    // limit) is taken back by cutting the file to its size before, and gives WriteFailed.
    FileResult Append(const char* bytes, size_t count);
    // Renames the open file to `to`, replacing what that name held, when the name it was opened
    // by still leads to this very file (the same file ID); false otherwise, and nothing was
    // renamed. The file stays open under its new name.
    bool RenameTo(const std::u16string& to);
    void Close();
    // The system's error code of the last call that failed.
    uint32_t LastError() const { return error_; }

  private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
    std::u16string path_;
    uint32_t error_ = 0;
};

// Opens `path` as AppendFile::Open does, appends `count` bytes whole or not at all, and closes it.
FileResult AppendToFile(const std::u16string& path, const char* bytes, size_t count);

// The size of the file at `path` when it is a plain file with one name, never what a link there
// leads to; nullopt otherwise (nothing there, a link, a folder, a device, a pipe).
std::optional<uint64_t> PlainFileSize(const std::u16string& path);

// Reads the plain file at `path` from byte `offset` to its end, at most `maxBytes`, on the same
// terms as PlainFileSize. False when it is not such a file or cannot be read.
bool ReadPlainFile(const std::u16string& path, uint64_t offset, uint64_t maxBytes,
                   std::string* bytes);

// A plain file read from its start to its end in blocks, on the same terms as PlainFileSize.
// Closed when destroyed.
class PlainFileReader {
  public:
    PlainFileReader() = default;
    ~PlainFileReader() { Close(); }
    PlainFileReader(const PlainFileReader&) = delete;
    PlainFileReader& operator=(const PlainFileReader&) = delete;

    // False when `path` is not such a file or cannot be opened.
    bool Open(const std::u16string& path);
    // Its size when it was opened.
    uint64_t Size() const { return size_; }
    // Reads the next bytes into `buffer`, `count` of them or what is left before the end:
    // the number read, 0 at the end; false when the system fails the read.
    bool Read(char* buffer, size_t count, size_t* read);
    void Close();

  private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
    uint64_t size_ = 0;
};

} // namespace SafeFile
