// The portable part of SafeFile: the one-shot append.
#include "SafeFile.h"

namespace SafeFile {

FileResult AppendToFile(const std::u16string& path, const char* bytes, size_t count) {
    AppendFile file;
    const FileResult opened = file.Open(path);
    return opened == FileResult::Done ? file.Append(bytes, count) : opened;
}

} // namespace SafeFile
