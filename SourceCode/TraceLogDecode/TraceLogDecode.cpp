// TraceLogDecode: prints a scrambled trace log as plain text.
#include <cstdio>
#include <cstring>
#include <string>

#include "DllSearch.h"
#include "LogDecode.h"

namespace {

const char kHelp[] =
    "Usage: TraceLogDecode [FILE...]\n"
    "\n"
    "Prints the trace log files (MMDDHHMM.log) as plain UTF-8 text, or the log read from\n"
    "standard input when no file is given. Record lines are shifted back; lines that are\n"
    "not records (the plain rest of a message that held a line feed) are printed as they\n"
    "are.\n"
    "\n"
    "What cannot be recovered:\n"
    "  - characters from U+00C0 up in a record line: shifted by 0x40 they pass U+00FF, the\n"
    "    log holds one byte per character and writes '?' for them; they are printed as\n"
    "    U+FFFD. In the plain rest of a record, characters above U+00FF were written as '?';\n"
    "  - a message holding U+FFC0 to U+FFFF: U+FFC0 ends the written line, so the rest of\n"
    "    that record and its line end are lost and the next record continues on the same\n"
    "    line; U+FFE0 is indistinguishable from a space;\n"
    "  - a record longer than 4095 characters: the rest was never written, it has no line\n"
    "    end, and the next record continues on the same line;\n"
    "  - a plain rest line that itself has the scrambled record layout (a base name field\n"
    "    of 19 columns or more, then 'h', four digits 'p'..'y', 'i z '): it is shifted back\n"
    "    as if it were a record.\n";

bool ReadAll(std::FILE* file, std::string& bytes) {
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        bytes.append(chunk, n);
    }
    return std::ferror(file) == 0;
}

bool Decode(std::FILE* file) {
    std::string bytes;
    if (!ReadAll(file, bytes)) {
        return false;
    }
    const std::string text = DecodeTraceLog(bytes);
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

} // namespace

int main(int argc, char** argv) {
    LimitDllSearchToSystemFolder();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    if (argc < 2) {
        return Decode(stdin) ? 0 : 1;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::FILE* file = std::fopen(argv[i], "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "TraceLogDecode: cannot open %s\n", argv[i]);
            status = 1;
            continue;
        }
        if (!Decode(file)) {
            std::fprintf(stderr, "TraceLogDecode: cannot read %s\n", argv[i]);
            status = 1;
        }
        std::fclose(file);
    }
    return status;
}
