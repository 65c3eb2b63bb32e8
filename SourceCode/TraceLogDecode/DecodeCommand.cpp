#include "DecodeCommand.h"

#include <algorithm>

#include "DecodeStreams.h"
#include "LogDecode.h"
#include "Numbers.h"

namespace {

const char kHelp[] =
    "Usage: TraceLogDecode [FILE...]\n"
    "\n"
    "Prints the trace log files (MMDDHHMM.log) as plain UTF-8 text, or the log read from\n"
    "standard input when no file is given. Record lines are shifted back; lines that are\n"
    "not records (the plain rest of a message that held a line feed) are printed as they\n"
    "are.\n"
    "\n"
    "Exit code: 0 when every input was read to its end; 1 when an input could not be\n"
    "opened or the text could not be written; 2 when reading an input failed part way (what\n"
    "came before was printed). With several inputs, the highest.\n"
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

// One input: a file, or standard input when `path` is null.
int DecodeInput(const std::u16string* path) {
    using DecodeStreams::ReadResult;
    const std::u16string name = path != nullptr ? *path : u"standard input";
    std::string bytes;
    const ReadResult read = path != nullptr ? DecodeStreams::ReadNamedFile(*path, &bytes)
                                            : DecodeStreams::ReadStandardInput(&bytes);
    if (read == ReadResult::NotOpened) {
        DecodeStreams::WriteStandardError(u"TraceLogDecode: cannot open " + name + u"\n");
        return kDecodeNotRead;
    }
    const bool written = DecodeStreams::WriteStandardOutput(DecodeTraceLog(bytes));
    if (read == ReadResult::Cut) {
        DecodeStreams::WriteStandardError(u"TraceLogDecode: reading stopped after " +
                                          Text::Decimal(bytes.size()) + u" bytes of " + name +
                                          u"\n");
        return kDecodeInputCut;
    }
    if (!written) {
        DecodeStreams::WriteStandardError(u"TraceLogDecode: cannot write the text of " + name +
                                          u"\n");
        return kDecodeNotRead;
    }
    return kDecodeDone;
}

} // namespace

int RunTraceLogDecode(const std::vector<std::u16string>& arguments) {
    for (const std::u16string& argument : arguments) {
        if (argument == u"-h" || argument == u"--help") {
            return DecodeStreams::WriteStandardOutput(kHelp) ? kDecodeDone : kDecodeNotRead;
        }
    }
    if (arguments.empty()) {
        return DecodeInput(nullptr);
    }
    int status = kDecodeDone;
    for (const std::u16string& path : arguments) {
        status = std::max(status, DecodeInput(&path));
    }
    return status;
}
