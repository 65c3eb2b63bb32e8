// DecodeStreams on Linux: the descriptors 0, 1 and 2 and open(2) with the UTF-8 name.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "DecodeStreams.h"
#include "DecodeStreamsHost.h"
#include "Utf8.h"

namespace {

std::optional<size_t> failAfter;

DecodeStreams::ReadResult ReadToEnd(int fd, std::string* bytes) {
    char chunk[65536];
    size_t total = 0;
    for (;;) {
        size_t wanted = sizeof(chunk);
        if (failAfter) {
            if (total >= *failAfter) {
                errno = EIO;
                return DecodeStreams::ReadResult::Cut;
            }
            wanted = std::min(wanted, *failAfter - total);
        }
        const ssize_t n = read(fd, chunk, wanted);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return DecodeStreams::ReadResult::Cut;
        }
        if (n == 0) {
            return DecodeStreams::ReadResult::Done;
        }
        bytes->append(chunk, static_cast<size_t>(n));
        total += static_cast<size_t>(n);
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

void DecodeStreamsHost::SetReadFailureAfter(std::optional<size_t> bytes) {
    failAfter = bytes;
}

DecodeStreams::ReadResult DecodeStreams::ReadStandardInput(std::string* bytes) {
    return ReadToEnd(STDIN_FILENO, bytes);
}

DecodeStreams::ReadResult DecodeStreams::ReadNamedFile(const std::u16string& path,
                                                       std::string* bytes) {
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) {
                close(fd);
            }
        }
    } file{open(Text::Utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC)};
    return file.fd < 0 ? ReadResult::NotOpened : ReadToEnd(file.fd, bytes);
}

bool DecodeStreams::WriteStandardOutput(std::string_view utf8) {
    return WriteAll(STDOUT_FILENO, utf8);
}

void DecodeStreams::WriteStandardError(const std::u16string& text) {
    WriteAll(STDERR_FILENO, Text::Utf16ToUtf8(text));
}
